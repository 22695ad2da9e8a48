// The server's commands on a real working copy.  The copy is opened with
// the three-path "load"/"update" on a file of the test's own, so nothing
// outside a temporary directory is read or written.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frames.h"

using namespace frames;

namespace {

const char stored[] =
    R"({"auth": {"ldap": {"bind_dn": "cn=reader", "bind_password": "s3cret", "timeout": 20}},)"
    R"( "vpn": {"ipsec": {"tunnel": {"alpha": {"mode": "transport"}, "beta": {},)"
    R"( "gamma": {"mode": "transport"}}}}})";

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/config-commands-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir = dir_template;
        file = dir + "/config.json";
        std::ofstream(file) << stored;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string contents() const
    {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    reply load(server &s, const char *how = "load") { return s.call(how, {file, "", ""}); }

    std::string dir, file;
};

TEST_F(Commands, OpenGroupRefusesSecondCopyAndBadCounts)
{
    server s;
    EXPECT_EQ(s.call("load", {file, ""}).result, -1) << "two paths";
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).result, -1) << "nothing was opened";
    EXPECT_EQ(s.call("create").result, -1);
    EXPECT_EQ(s.call("try-create", {"a", "b"}).result, -1);

    EXPECT_EQ(load(s).result, 0);
    // A second opener, whatever its arguments, leaves the first copy alone.
    EXPECT_EQ(load(s).result, -1);
    EXPECT_EQ(s.call("load-baked").result, -1);
    EXPECT_EQ(s.call("update", {"x"}).result, -1);
    auto r = s.call("get", {"auth.ldap.timeout"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.data, "20");
    // A text reply: "data" with its terminating zero, then "result".
    EXPECT_EQ(r.raw, frame(named(3, "data", str("20")) + named(5, "result", be32(0))));
    EXPECT_EQ(r.order, (std::vector<std::string>{"data", "result"}));

    EXPECT_EQ(s.call("free").result, 0);
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).result, -1);
    EXPECT_EQ(s.call("free").result, -1);
    EXPECT_EQ(load(s).result, 0) << "free, then a new working copy";
    EXPECT_EQ(s.call("get", {"auth.ldap.bind_dn"}).data, "cn=reader");
    EXPECT_EQ(s.wait(), 0);
}

TEST_F(Commands, ArgumentCountsAreChecked)
{
    server s;
    ASSERT_EQ(load(s).result, 0);
    for (auto [cmd, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"get", {}},
             {"get", {"a", "b"}},
             {"set", {"auth.ldap.timeout"}},
             {"type", {}},
             {"count", {}},
             {"exists", {}},
             {"exists", {"a", "b", "c"}},
             {"option-exists", {"auth.ldap.tls"}},
             {"keys", {}},
             {"new", {}},
             {"delete", {}},
             {"find", {}},
             {"find", {"vpn.ipsec.tunnel", "mode"}},
             {"json", {"a", "b"}},
             {"dump", {"a", "b"}},
             {"dump-public", {"a", "b"}},
             {"validate", {"x"}},
             {"commit", {"force"}},
             {"commit", {"-f", "-f"}},
             {"cancel", {"x"}},
             {"free", {"x"}},
             {"ident", {}},
             {"ident", {"a", "b"}}}) {
        auto r = s.call(cmd, args);
        EXPECT_EQ(r.result, -1) << cmd << " with " << args.size();
        EXPECT_EQ(r.data, std::nullopt) << cmd;
    }
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).data, "20") << "still loaded";
}

TEST_F(Commands, QueriesOnTheWorkingCopy)
{
    server s;
    ASSERT_EQ(load(s).result, 0);

    auto count = s.call("count", {"vpn.ipsec.tunnel"});
    EXPECT_EQ(count.result, 0);
    EXPECT_EQ(count.data, "3");

    auto keys = s.call("keys", {"vpn.ipsec.tunnel"});
    EXPECT_EQ(keys.result, 0);
    EXPECT_EQ(keys.data, "alpha beta gamma");
    EXPECT_EQ(s.call("keys", {"vpn.ipsec.tunnel.nothere"}).result, -1);

    // One argument: a key at the top; two: a key of the object at path.
    EXPECT_EQ(s.call("exists", {"auth"}).result, 0);
    EXPECT_EQ(s.call("exists", {"nothere"}).result, -1);
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.tunnel", "beta"}).result, 0);
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.tunnel", "delta"}).result, -1);
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.nothere", "beta"}).result, -1);

    EXPECT_EQ(s.call("option-exists", {"auth.ldap.tls", "start_tls"}).result, 0);
    EXPECT_EQ(s.call("option-exists", {"auth.ldap.tls", "sometimes"}).result, -1);
    EXPECT_EQ(s.call("option-exists", {"auth.ldap.nothere", "on"}).result, -1);

    auto found = s.call("find", {"vpn.ipsec.tunnel", "mode", "transport"});
    EXPECT_EQ(found.result, 0);
    ASSERT_TRUE(found.data);
    EXPECT_NE(found.data->find("alpha"), std::string::npos);
    EXPECT_NE(found.data->find("gamma"), std::string::npos);
    EXPECT_EQ(found.data->find("beta"), std::string::npos);
    auto all = s.call("find", {"vpn.ipsec.tunnel"});
    EXPECT_EQ(all.result, 0) << "only a path: an empty pair vector";
    ASSERT_TRUE(all.data);
    EXPECT_NE(all.data->find("beta"), std::string::npos);

    auto type = s.call("type", {"auth.ldap.timeout"});
    EXPECT_EQ(type.result, 0);
    EXPECT_TRUE(type.data && !type.data->empty());

    auto dump = s.call("dump", {"auth.ldap"});
    ASSERT_TRUE(dump.data);
    EXPECT_NE(dump.data->find("s3cret"), std::string::npos);
    auto pub = s.call("dump-public", {"auth.ldap"});
    ASSERT_TRUE(pub.data);
    EXPECT_EQ(pub.data->find("s3cret"), std::string::npos);
    EXPECT_NE(pub.data->find("cn=reader"), std::string::npos);
    auto json = s.call("json", {"auth.ldap"});
    ASSERT_TRUE(json.data);
    EXPECT_NE(json.data->find("\"cn=reader\""), std::string::npos);
    EXPECT_EQ(s.call("json").result, 0);
}

TEST_F(Commands, EditsCancelAndCommit)
{
    server s;
    ASSERT_EQ(load(s, "update").result, 0);

    auto added = s.call("new", {"vpn.ipsec.tunnel"});
    EXPECT_EQ(added.result, 0);
    ASSERT_TRUE(added.data && !added.data->empty()) << "the new entry's key";
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.tunnel", *added.data}).result, 0);
    EXPECT_EQ(s.call("new", {"vpn.ipsec.tunnel", "delta"}).result, 0);
    EXPECT_EQ(s.call("count", {"vpn.ipsec.tunnel"}).data, "5");
    EXPECT_EQ(s.call("delete", {"vpn.ipsec.tunnel.alpha"}).result, 0);
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.tunnel", "alpha"}).result, -1);

    // cancel drops the edits and keeps the copy loaded.
    EXPECT_EQ(s.call("cancel").result, 0);
    EXPECT_EQ(s.call("count", {"vpn.ipsec.tunnel"}).data, "3");
    EXPECT_EQ(s.call("exists", {"vpn.ipsec.tunnel", "alpha"}).result, 0);
    EXPECT_EQ(contents(), stored);

    EXPECT_EQ(s.call("set", {"auth.ldap.timeout", "45"}).result, 0);
    EXPECT_EQ(s.call("new", {"vpn.ipsec.tunnel", "delta"}).result, 0);
    EXPECT_EQ(s.call("validate").result, 0);
    EXPECT_EQ(s.call("commit").result, 0);
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).data, "45") << "commit keeps the copy";
    EXPECT_EQ(s.call("free").result, 0);
    EXPECT_NE(contents().find("45"), std::string::npos);
    EXPECT_NE(contents().find("delta"), std::string::npos);

    EXPECT_EQ(load(s).result, 0);
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).data, "45");
    EXPECT_EQ(s.call("count", {"vpn.ipsec.tunnel"}).data, "4");
}

TEST_F(Commands, ForcedCommit)
{
    server s;
    ASSERT_EQ(load(s, "update").result, 0);
    EXPECT_EQ(s.call("set", {"auth.ldap.timeout", "33"}).result, 0);
    EXPECT_EQ(s.call("commit", {"-f"}).result, 0);
    EXPECT_EQ(s.call("free").result, 0);
    EXPECT_NE(contents().find("33"), std::string::npos);
}

TEST_F(Commands, StoreErrorGivesTwoOnceAndKeepsTheCopy)
{
    server s;
    ASSERT_EQ(load(s, "update").result, 0);
    for (auto [path, value] :
         std::vector<std::pair<std::string, std::string>>{{"auth.ldap.timeout", "many"},
                                                          {"auth.ldap.tls", "sometimes"},
                                                          {"auth.no.such.key", "1"}}) {
        EXPECT_EQ(s.call("set", {path, value}).result, 2) << path << " " << value;
        // The flag was cleared: the next request starts clean.
        auto r = s.call("get", {"auth.ldap.timeout"});
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.data, "20") << "a rejected set changes nothing";
    }
    EXPECT_EQ(s.call("set", {"auth.ldap.timeout", "50"}).result, 0);
    EXPECT_EQ(s.call("commit").result, 0);
    EXPECT_EQ(s.call("free").result, 0);
    EXPECT_NE(contents().find("50"), std::string::npos);
}

TEST_F(Commands, InvalidUtf8SetGivesTwoAndChangesNothing)
{
    server s;
    ASSERT_EQ(load(s, "update").result, 0);
    auto before = s.call("json").data;
    for (std::string value : {"\xff", "cn=\xc0\xaf", "\xed\xbf\xbf", "\xf4\x90\x80\x80"}) {
        EXPECT_EQ(s.call("set", {"auth.ldap.bind_dn", value}).result, 2);
        EXPECT_EQ(s.call("json").data, before) << "the working copy is as it was";
    }
    EXPECT_NE(s.errors().find("auth.ldap.bind_dn: invalid UTF-8 in a value"), std::string::npos)
        << s.errors();
    EXPECT_EQ(s.errors().find("cn="), std::string::npos) << "the value is not logged";
    EXPECT_EQ(contents(), stored);
    EXPECT_EQ(s.call("commit").result, 0);
    EXPECT_EQ(s.call("free").result, 0);
    EXPECT_EQ(load(s).result, 0) << "what was committed loads again";
    EXPECT_EQ(s.call("get", {"auth.ldap.bind_dn"}).data, "cn=reader");
}

TEST_F(Commands, LoadRefusesFilesThatAreNotRegular)
{
    // Neither may block the server or eat its memory; the server goes on.
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    server s;
    EXPECT_EQ(s.call("load", {fifo, "", ""}).result, -1);
    EXPECT_EQ(s.call("load", {"/dev/zero", "", ""}).result, -1);
    EXPECT_EQ(s.call("load", {file, fifo, ""}).result, -1) << "schema file";
    EXPECT_EQ(s.call("load", {file, "/dev/zero", ""}).result, -1) << "schema file";
    EXPECT_EQ(s.call("load", {dir + "/missing.json", "", "/dev/zero"}).result, -1) << "baked file";
    EXPECT_NE(s.errors().find(fifo + ": cannot read: not a regular file"), std::string::npos)
        << s.errors();
    EXPECT_NE(s.errors().find("/dev/zero: cannot read schema: not a regular file"),
              std::string::npos)
        << s.errors();
    EXPECT_EQ(load(s).result, 0);
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).data, "20");
}

TEST_F(Commands, ProblemsChangesAndDescribe)
{
    std::ofstream(file)
        << R"({"auth": {"ldap": {"bind_dn": "cn=reader", "bind_password": "s3cret",)"
           R"( "timeout": 20}}, "network": {"namespace": {"blue": {}, "red": {}},)"
           R"( "veth": {"v1": {"namespace": "/network/namespace/blue"}}}})";
    server s;
    for (const char *cmd : {"problems", "changes"})
        EXPECT_EQ(s.call(cmd).result, -1) << cmd << " needs a working copy";
    ASSERT_EQ(load(s, "update").result, 0);
    for (const char *cmd : {"problems", "changes"}) {
        auto r = s.call(cmd);
        EXPECT_EQ(r.result, 0) << cmd;
        EXPECT_EQ(r.data, std::nullopt) << cmd << ": nothing to list, no text";
        EXPECT_EQ(s.call(cmd, {"x"}).result, -1) << cmd << " takes no argument";
    }

    for (auto [path, value] : std::vector<std::pair<std::string, std::string>>{
             {"auth.ldap.timeout", "45"},
             {"auth.ldap.bind_password", "n3w-s3cret"},
             {"network.namespace.green.enable", "false"},
             {"network.veth.v2.namespace", "red"}})
        ASSERT_EQ(s.call("set", {path, value}).result, 0) << path;
    ASSERT_EQ(s.call("delete", {"auth.ldap.bind_dn"}).result, 0);
    ASSERT_EQ(s.call("delete", {"network.namespace.blue"}).result, 0);

    auto changes = s.call("changes");
    EXPECT_EQ(changes.result, 0);
    EXPECT_EQ(changes.data,
              "-auth.ldap.bind_dn\n"
              "auth.ldap.bind_password=***\n"
              "auth.ldap.timeout=45\n"
              "-network.namespace.blue\n"
              "+network.namespace.green\n"
              "network.namespace.green.enable=false\n"
              "+network.veth.v2\n"
              "network.veth.v2.namespace=/network/namespace/red");
    // Lines travel like dump's: one text, no final line feed.
    EXPECT_EQ(changes.order, (std::vector<std::string>{"data", "result"}));

    const std::string dangling =
        "network.veth.v1.namespace: reference to a missing member /network/namespace/blue";
    auto problems = s.call("problems");
    EXPECT_EQ(problems.result, -1);
    EXPECT_EQ(problems.data, dangling);
    EXPECT_EQ(s.call("validate").result, -1);
    EXPECT_EQ(s.call("commit").result, -1);
    EXPECT_EQ(s.call("problems").data, dangling) << "the reason of the refused commit";
    EXPECT_EQ(contents().find("n3w"), std::string::npos);

    EXPECT_EQ(s.call("cancel").result, 0);
    for (const char *cmd : {"problems", "changes"}) {
        auto r = s.call(cmd);
        EXPECT_EQ(r.result, 0) << cmd;
        EXPECT_EQ(r.data, std::nullopt) << cmd;
    }
    EXPECT_EQ(s.errors().find("s3cret"), std::string::npos) << s.errors();

    auto timeout = s.call("describe", {"auth.ldap.timeout"});
    EXPECT_EQ(timeout.result, 0);
    EXPECT_EQ(timeout.data, "type=integer\nprivate=false\ndefault=10\nmin=1\nmax=300");
    EXPECT_EQ(s.call("describe", {"auth.ldap.tls"}).data,
              "type=enum\nprivate=false\ndefault=off\nvalues=off on start_tls");
    EXPECT_EQ(s.call("describe", {"auth.ldap.bind_password"}).data,
              "type=string\nprivate=true\ndefault=\nmax=128");
    EXPECT_EQ(s.call("describe", {"network.veth.any.namespace"}).data,
              "type=reference\nprivate=false\ntarget=network.namespace");
    EXPECT_EQ(s.call("describe", {"network.namespace"}).data,
              "type=collection\nprivate=false\nitem=object");
    EXPECT_EQ(s.call("describe", {"network.namespace.any"}).data,
              "type=object\nprivate=false\nmembers=enable");
    EXPECT_EQ(s.call("describe").result, -1);
    EXPECT_EQ(s.call("describe", {"a", "b"}).result, -1);
    auto unknown = s.call("describe", {"auth.nothere"});
    EXPECT_EQ(unknown.result, 2) << "flagged by the store, as for type";
    EXPECT_EQ(unknown.data, std::nullopt);
    EXPECT_EQ(s.call("describe", {"auth"}).result, 0) << "the flag was cleared";
}

TEST_F(Commands, ProblemsSayWhyAValidCopyWasNotCommitted)
{
    server s;
    ASSERT_EQ(load(s).result, 0) << "without the lock";
    ASSERT_EQ(s.call("set", {"auth.ldap.timeout", "45"}).result, 0);
    std::ofstream(file) << R"({"auth": {"ldap": {"timeout": 30}}})";  // another writer
    EXPECT_EQ(s.call("commit").result, -1);
    auto problems = s.call("problems");
    EXPECT_EQ(problems.result, -1);
    EXPECT_EQ(problems.data, file + ": changed since it was loaded; commit refused");
    EXPECT_EQ(s.call("validate").result, 0) << "the copy itself is valid";
    EXPECT_EQ(s.call("commit", {"-f"}).result, 0);
    problems = s.call("problems");
    EXPECT_EQ(problems.result, 0) << "the last commit went through";
    EXPECT_EQ(problems.data, std::nullopt);
}

TEST_F(Commands, IdentNamesTheServerInItsLog)
{
    server s;
    const std::string name = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN";  // 50
    EXPECT_EQ(s.call("ident", {name}).result, 0) << "no working copy needed";
    ASSERT_EQ(load(s).result, 0);
    EXPECT_EQ(s.call("set", {"auth.ldap.timeout", "many"}).result, 2);
    // The store's message carries the identity, cut to its first 42.
    EXPECT_NE(s.errors().find(name.substr(0, 42) + ": "), std::string::npos) << s.errors();

    EXPECT_EQ(s.call("ident", {"second"}).result, 0) << "also with a working copy";
    EXPECT_EQ(s.call("set", {"auth.ldap.timeout", "many"}).result, 2);
    EXPECT_NE(s.errors().find("\nsecond: "), std::string::npos) << s.errors();
    EXPECT_EQ(s.call("get", {"auth.ldap.timeout"}).data, "20");
}

// A peer may name a schema file of its own.  Its fractional numbers are
// read with 8-byte loads, which trap on the device unless the parser keeps
// them aligned: the server must answer, not die.
TEST_F(Commands, LoadsASchemaFileWithFractionalNumbers)
{
    const std::string schema = dir + "/schema.json", tuned = dir + "/tuned.json";
    std::ofstream(schema)
        << R"({"tune": {"type": "object", "doc": "x", "members": {)"
           R"( "ratio": {"type": "number", "default": 0.25, "min": -1.5, "max": 2.5},)"
           R"( "gain": {"type": "number", "min": 0.125, "default": 1.75},)"
           R"( "step": {"type": "integer", "default": 3, "max": 7.5}}}})";
    std::ofstream(tuned) << "{}";
    server s;
    ASSERT_EQ(s.call("load", {tuned, schema, ""}).result, 0) << s.errors();
    EXPECT_EQ(s.call("get", {"tune.ratio"}).data, "0.25");
    EXPECT_EQ(s.call("get", {"tune.gain"}).data, "1.75");
    EXPECT_EQ(s.call("set", {"tune.ratio", "2.75"}).result, 2) << "above the maximum";
    EXPECT_EQ(s.call("set", {"tune.gain", "0.0625"}).result, 2) << "below the minimum";
    EXPECT_EQ(s.call("set", {"tune.ratio", "-1.5"}).result, 0);
    EXPECT_EQ(s.call("get", {"tune.ratio"}).data, "-1.5");
    EXPECT_EQ(s.call("set", {"tune.step", "8"}).result, 2);
    EXPECT_EQ(s.call("set", {"tune.step", "7"}).result, 0);
    EXPECT_EQ(s.wait(), 0) << s.errors();
}

}  // namespace
