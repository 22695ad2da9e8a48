// Whole sessions the way a shell script runs them: config-session starts
// the server, config-client sends the commands, and direct-mode `config`
// sees the outcome.  Run in a private namespace over the real store file.
#include <gtest/gtest.h>

#include <string>

#include "nsrun.h"

namespace {

const std::string stored = R"({"auth": {"ldap": {"bind_dn": "cn=reader", "timeout": 20}}})";
const char config_file[] = "/etc/config/config.json";

std::string client_dir()
{
    std::string path = CONFIG_CLIENT;
    return path.substr(0, path.rfind('/'));
}

nsrun::Result session(const std::string &script, int uid = 0)
{
    nsrun::Spec spec;
    spec.program = CONFIG_SESSION;
    spec.args = {"-p", nsrun::config_binary(), "sh", "-c", script};
    spec.config_json = stored;
    spec.path_prepend = {client_dir()};
    spec.collect = {config_file};
    spec.uid = spec.gid = uid;
    const std::string config = nsrun::config_binary();
    spec.after = config + " get auth.ldap.timeout; " + config + " get auth.ldap.bind_dn; " +
                 config + " json vpn.ipsec.tunnel";
    return nsrun::run(spec);
}

TEST(Session, ManySetsValidatedAndCommittedReachTheStore)
{
    std::string script =
        "set -e\n"
        "config-client ident session-test\n"
        "config-client update\n"
        "i=0\n"
        "while [ $i -lt 40 ]; do\n"
        "  config-client new vpn.ipsec.tunnel t$i\n"
        "  config-client set vpn.ipsec.tunnel.t$i.mode transport\n"
        "  i=$((i + 1))\n"
        "done\n"
        "config-client set auth.ldap.timeout 45\n"
        "config-client set auth.ldap.bind_dn cn=writer\n"
        "config-client count vpn.ipsec.tunnel\n"
        "config-client validate\n"
        "config-client commit\n"
        "config-client free\n";
    auto r = session(script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "40\n");
    EXPECT_EQ(r.after.substr(0, r.after.find('{')), "45\ncn=writer\n");
    for (int i : {0, 17, 39})
        EXPECT_NE(r.after.find("\"t" + std::to_string(i) + "\""), std::string::npos) << i;
}

TEST(Session, CancelledSessionChangesNothing)
{
    auto r = session(
        "set -e\n"
        "config-client update\n"
        "config-client set auth.ldap.timeout 45\n"
        "config-client new vpn.ipsec.tunnel gone\n"
        "config-client get auth.ldap.timeout\n"
        "config-client cancel\n"
        "config-client get auth.ldap.timeout\n"
        "config-client free\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "45\n20\n");
    EXPECT_EQ(r.files[config_file], stored);
    EXPECT_EQ(r.after.substr(0, 13), "20\ncn=reader\n");
    EXPECT_EQ(r.after.find("gone"), std::string::npos);
}

TEST(Session, RejectedSetGivesTwoAndTheCopyStaysUsable)
{
    auto r = session(
        "config-client update\n"
        "config-client set auth.ldap.timeout many; echo \"set: $?\"\n"
        "config-client set auth.ldap.bind_dn \"$(printf 'cn=\\377')\"; echo \"set: $?\"\n"
        "config-client get auth.ldap.timeout; echo \"get: $?\"\n"
        "config-client set auth.ldap.timeout 30; echo \"set: $?\"\n"
        "config-client commit; echo \"commit: $?\"\n"
        "config-client frobnicate; echo \"unknown: $?\"\n"
        "config-client free\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "set: 2\nset: 2\n20\nget: 0\nset: 0\ncommit: 0\nunknown: 1\n");
    EXPECT_NE(r.err.find("auth.ldap.bind_dn: invalid UTF-8 in a value"), std::string::npos)
        << r.err;
    // What was committed loads again, without the refused text.
    EXPECT_EQ(r.after.substr(0, 13), "30\ncn=reader\n");
}

TEST(Session, ChangesAndProblemsBeforeAndAfterCancel)
{
    auto r = session(
        "config-client update\n"
        "config-client set auth.ldap.timeout 45\n"
        "config-client set auth.ldap.bind_password hunter2\n"
        "config-client delete auth.ldap.bind_dn\n"
        "config-client new network.namespace blue\n"
        "config-client set network.veth.v1.namespace ghost\n"
        "config-client changes; echo \"changes: $?\"\n"
        "config-client problems; echo \"problems: $?\"\n"
        "config-client commit; echo \"commit: $?\"\n"
        "config-client problems; echo \"problems: $?\"\n"
        "config-client cancel\n"
        "config-client changes; echo \"changes: $?\"\n"
        "config-client problems; echo \"problems: $?\"\n"
        "config-client describe auth.ldap.tls\n"
        "config-client describe auth.nothere; echo \"describe: $?\"\n"
        "config-client free\n");
    const std::string problem =
        "network.veth.v1.namespace: reference to a missing member /network/namespace/ghost\n";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "-auth.ldap.bind_dn\n"
              "auth.ldap.timeout=45\n"
              "auth.ldap.bind_password=***\n"
              "+network.namespace.blue\n"
              "+network.veth.v1\n"
              "network.veth.v1.namespace=/network/namespace/ghost\n"
              "changes: 0\n" +
                  problem +
                  "problems: 1\n"
                  "commit: 1\n" +
                  problem +
                  "problems: 1\n"
                  "changes: 0\n"
                  "problems: 0\n"
                  "type=enum\nprivate=false\ndefault=off\nvalues=off on start_tls\n"
                  "describe: 2\n");
    EXPECT_EQ(r.files[config_file], stored);
    EXPECT_EQ((r.out + r.err).find("hunter2"), std::string::npos);
}

TEST(Session, SessionEndsTheServer)
{
    // The script leaves without "free": the server sees the end of the
    // socket and goes away; nothing is committed.
    auto r = session("config-client update && config-client set auth.ldap.timeout 45");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.files[config_file], stored);
}

TEST(Session, StagedImportThatIsNoRegularFileIsRefused)
{
    // A FIFO staged as the import must not block the server.
    auto r = session(
        "mkdir -p /var/run/config && mkfifo /var/run/config/import.json\n"
        "timeout 10 config-client load-json; echo \"load-json: $?\"\n"
        "rm /var/run/config/import.json && ln -s /dev/zero /var/run/config/import.json\n"
        "timeout 10 config-client load-json; echo \"load-json: $?\"\n"
        "config-client load && config-client get auth.ldap.timeout\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "load-json: 1\nload-json: 1\n20\n");
    EXPECT_NE(r.err.find("/var/run/config/import.json: cannot read: not a regular file"),
              std::string::npos)
        << r.err;
}

TEST(FrontEnd, ClientWithoutSessionSaysSo)
{
    nsrun::Spec spec;
    spec.program = CONFIG_CLIENT;
    spec.args = {"get", "auth.ldap.timeout"};
    for (std::string value : {"", "abc", "0"}) {
        if (!value.empty())
            spec.env["CONFIG_SOCKET"] = value;
        auto r = nsrun::run(spec);
        EXPECT_EQ(r.status, 3) << value;
        EXPECT_EQ(r.err,
                  "config-client: CONFIG_SOCKET does not name a session; run this under "
                  "config-session\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(FrontEnd, ClientReportsServerGone)
{
    // A "server" that ends at once: the client's request goes nowhere.
    nsrun::Spec spec;
    spec.program = CONFIG_SESSION;
    spec.args = {"-p", "/bin/true", "sh", "-c", "config-client load; echo \"status $?\""};
    spec.path_prepend = {client_dir()};
    auto r = nsrun::run(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "status 3\n");
    EXPECT_NE(r.err.find("config-client: "), std::string::npos) << r.err;
}

TEST(FrontEnd, SessionReportsRefusedStart)
{
    auto r = session("echo ran", 65534);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("config-server: command not permitted for user\n"), std::string::npos);
    EXPECT_NE(r.err.find("config-session: "), std::string::npos);
}

}  // namespace
