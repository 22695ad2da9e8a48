// `config` start-up, direct mode and generator dispatch, run for real in a
// private mount namespace.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "nsrun.h"

namespace {

const std::string usage_text =
    "Usage: config <cmd> [arg...]\n"
    "\nIf not started:\n"
    "eval $(config start)\n"
    "config get <path>\n"
    "config set <path> <val>\n"
    "config dump [<path>]\n"
    "config dump-public [<path>]\n"
    "config json [<path>]\n"
    "config map <name>\n"
    "\nIf started:\n"
    "eval $(config stop)\n"
    "config load\n"
    "config load-json\n"
    "config load-baked\n"
    "config update\n"
    "config create <file>\n"
    "config try-create <file>\n"
    "config validate\n"
    "config commit [-f]\n"
    "config cancel\n"
    "config free\n"
    "config get <path>\n"
    "config set <path> <val>\n"
    "config type <path>\n"
    "config exists <path> <key>\n"
    "config option-exists <path> <val>\n"
    "config keys <path>\n"
    "config count <path>\n"
    "config new <path> [<key>]\n"
    "config delete <path>\n"
    "config find <path> [<name> <val>...]\n"
    "config json [<path>]\n"
    "config dump [<path>]\n"
    "config dump-public [<path>]\n";

const std::string stored =
    R"({"auth": {"ldap": {"bind_dn": "cn=reader", "bind_password": "s3cret", "timeout": 20}}})";
const char config_file[] = "/etc/config/config.json";

nsrun::Result run(std::vector<std::string> args, std::map<std::string, std::string> env = {},
                  std::string config = stored)
{
    nsrun::Spec spec;
    spec.args = std::move(args);
    spec.env = std::move(env);
    spec.config_json = std::move(config);
    return nsrun::run(spec);
}

class UsageError : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageError, PrintsUsageAndEndsWithOne)
{
    auto r = run(GetParam());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage_text);
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    WrongCommandOrCount, UsageError,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"get"},
                      std::vector<std::string>{"get", "a", "b"},
                      std::vector<std::string>{"set", "auth.ldap.timeout"},
                      std::vector<std::string>{"set", "a", "b", "c"},
                      std::vector<std::string>{"dump", "a", "b"},
                      std::vector<std::string>{"dump-public", "a", "b"},
                      std::vector<std::string>{"json", "a", "b"}, std::vector<std::string>{"map"},
                      // Server-only commands are not direct commands.
                      std::vector<std::string>{"load"}, std::vector<std::string>{"commit"},
                      std::vector<std::string>{"GET", "auth.ldap.timeout"}));

TEST(Stop, EndsWithOneAndPrintsNothingWhateverTheEnvironment)
{
    for (auto env : std::vector<std::map<std::string, std::string>>{
             {}, {{"CONFIG_SOCKET", "0"}}, {{"CONFIG_SOCKET", "5"}}, {{"CONFIG_SOCKET", "x"}}}) {
        auto r = run({"stop"}, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

TEST(Start, WithoutUsableSocketIsNotStarted)
{
    for (auto env : std::vector<std::map<std::string, std::string>>{
             {}, {{"CONFIG_SOCKET", "0"}}, {{"CONFIG_SOCKET", "-4"}}, {{"CONFIG_SOCKET", "abc"}}}) {
        auto r = run({"start"}, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "config-server: not started yet\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(ConfigSocket, StartedServerRefusesClientModeCommands)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"get", "auth.ldap.timeout"}, {"load"}, {"map", "pam"}, {"nonsense"}}) {
        auto r = run(args, {{"CONFIG_SOCKET", "5"}});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "config-server: client-mode commands not supported\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(ConfigSocket, ValueThatIsNoNumberCountsAsUnset)
{
    for (std::string value : {"abc", "0", "-1", ""}) {
        auto r = run({"get", "auth.ldap.timeout"}, {{"CONFIG_SOCKET", value}});
        EXPECT_EQ(r.status, 0) << value << ": " << r.err;
        EXPECT_EQ(r.out, "20\n") << value;
    }
}

TEST(Permission, NonRootCallerWithoutGrantIsRefused)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {}, {"get", "auth.ldap.timeout"}, {"set", "auth.ldap.timeout", "30"}}) {
        nsrun::Spec spec;
        spec.args = args;
        spec.config_json = stored;
        spec.uid = spec.gid = 65534;
        spec.collect = {config_file};
        auto r = nsrun::run(spec);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "config-server: command not permitted for user\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.files[config_file], stored);
    }
}

TEST(Get, PrintsValueAndDefault)
{
    auto r = run({"get", "auth.ldap.timeout"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "20\n");
    r = run({"get", "auth.ldap.tls"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "off\n") << "unset values read as their default";
}

TEST(Get, UnreadableConfigurationEndsWithOne)
{
    auto r = run({"get", "auth.ldap.timeout"}, {}, "{\"auth\": ");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "") << "the store names what is wrong";
}

TEST(Set, CommitsAndAGetSeesIt)
{
    nsrun::Spec spec;
    spec.args = {"set", "auth.ldap.timeout", "45"};
    spec.config_json = stored;
    spec.after = nsrun::config_binary() + " get auth.ldap.timeout; " + nsrun::config_binary() +
                 " get auth.ldap.bind_dn";
    auto r = nsrun::run(spec);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.after, "45\ncn=reader\n");
}

TEST(Set, RejectedValueEndsWithTwoAndChangesNothing)
{
    for (auto args : std::vector<std::vector<std::string>>{{"set", "auth.ldap.timeout", "many"},
                                                           {"set", "auth.ldap.timeout", "301"},
                                                           {"set", "auth.ldap.tls", "sometimes"},
                                                           {"set", "auth.no.such.key", "1"}}) {
        nsrun::Spec spec;
        spec.args = args;
        spec.config_json = stored;
        spec.collect = {config_file};
        auto r = nsrun::run(spec);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args[2];
        EXPECT_NE(r.err, "") << "the store says why";
        EXPECT_EQ(r.files[config_file], stored) << "nothing committed";
    }
}

TEST(Set, InvalidUtf8IsRefusedAndTheFileStaysReadable)
{
    // Committed, such a value would make every later command refuse the file.
    for (std::string value : {"\xff", "cn=\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                              "\xf4\x90\x80\x80", "cn=\xe2\x82"}) {
        nsrun::Spec spec;
        spec.args = {"set", "auth.ldap.bind_password", value};
        spec.config_json = stored;
        spec.collect = {config_file};
        spec.after = nsrun::config_binary() + " get auth.ldap.bind_password";
        auto r = nsrun::run(spec);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("auth.ldap.bind_password: invalid UTF-8 in a value"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(value), std::string::npos) << "the value may be a secret";
        EXPECT_EQ(r.files[config_file], stored) << "byte for byte";
        EXPECT_EQ(r.after, "s3cret\n");
    }
}

TEST(Dump, PublicDumpHidesPrivateValues)
{
    auto full = run({"dump", "auth.ldap"});
    EXPECT_EQ(full.status, 0) << full.err;
    EXPECT_NE(full.out.find("s3cret"), std::string::npos);
    EXPECT_NE(full.out.find("cn=reader"), std::string::npos);

    auto pub = run({"dump-public", "auth.ldap"});
    EXPECT_EQ(pub.status, 0) << pub.err;
    EXPECT_EQ(pub.out.find("s3cret"), std::string::npos);
    EXPECT_NE(pub.out.find("cn=reader"), std::string::npos);

    auto whole = run({"dump"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_NE(whole.out.find("cn=reader"), std::string::npos);
}

TEST(Json, PrintsSubtreeAndNothingForUnknownPath)
{
    auto r = run({"json", "auth.ldap.bind_dn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("cn=reader"), std::string::npos);

    // The store has no text for it and flags nothing: silence and 0.
    r = run({"json", "no.such.path"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
}

std::string command_output(const std::string &cmd)
{
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return "";
    std::string out;
    char buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, got);
    EXPECT_EQ(pclose(p), 0) << cmd;
    return out;
}

TEST(Map, TableIsTheOnlyExportedSymbol)
{
    // Generators are found through the program's dynamic symbol table; the
    // rest of the program stays out of it, or every start would pay for a
    // table of thousands of names.  Data of the C library copied into the
    // program (stdout, stderr) carries the library's version.
    std::string symbols = command_output("nm -D --defined-only '" + nsrun::config_file() + "'");
    bool found = false;
    for (const char *kind : {" R config_maps\n", " D config_maps\n", " B config_maps\n"})
        found |= symbols.find(kind) != std::string::npos;
    EXPECT_TRUE(found) << "config_maps is not an exported data symbol";
    size_t start = 0;
    for (size_t end; (end = symbols.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = symbols.substr(start, end - start);
        std::string name = line.substr(line.rfind(' ') + 1);
        // Names reserved to the implementation (the sanitizers' runtime
        // flags, MIPS's __RLD_MAP) are not ours to hide.
        bool reserved = name.size() > 1 && name[0] == '_' &&
                        (name[1] == '_' || (name[1] >= 'A' && name[1] <= 'Z'));
        EXPECT_TRUE(name == "config_maps" || name.find('@') != std::string::npos || reserved)
            << "exported: " << line;
    }
}

TEST(Map, RuntimeStoreLibraryIsNotLinked)
{
    // SQLite is loaded by the generators that open the runtime store, not
    // mapped and bound by every `config get`.
    std::string dynamic = command_output("readelf -d '" + nsrun::config_file() + "'");
    EXPECT_NE(dynamic.find("(NEEDED)"), std::string::npos);
    EXPECT_EQ(dynamic.find("sqlite"), std::string::npos) << dynamic;
}

TEST(Map, UnknownNameEndsWithZeroWithoutLoading)
{
    // The stored file is unreadable: loading it would end with 1.
    auto r = run({"map", "no-such-generator", "x"}, {}, "not json");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST(Map, KnownNameWithUnreadableConfigurationEndsWithOne)
{
    auto r = run({"map", "pam"}, {}, "not json");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
