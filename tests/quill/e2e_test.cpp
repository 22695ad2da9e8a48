// The store as `config` uses it on a device: the fixed paths, the lock and
// the messages, through the real program in a private namespace.
#include <gtest/gtest.h>

#include "nsrun.h"

namespace {

nsrun::Result shell(const std::string &script, const std::string &config, bool has_config = true)
{
    nsrun::Spec spec;
    spec.program = "/bin/sh";
    spec.args = {"-c", script, "sh", nsrun::config_binary()};
    spec.config_json = config;
    spec.has_config = has_config;
    spec.collect = {"/etc/config"};
    return nsrun::run(spec);
}

}  // namespace

TEST(StoreEndToEnd, ConcurrentSetsBothLand)
{
    /* Each round starts two `config set` runs at once on different keys;
     * without the lock one of them would write back the other's old value. */
    auto r = shell(R"sh(c=$1
        for i in 1 2 3 4 5 6 7 8 9 10 11 12; do
            "$c" set auth.ldap.timeout $((i + 10)) & "$c" set auth.ldap.bind_dn "cn=r$i" & wait
            [ "$("$c" get auth.ldap.timeout)" = $((i + 10)) ] || echo "lost timeout $i"
            [ "$("$c" get auth.ldap.bind_dn)" = "cn=r$i" ] || echo "lost bind_dn $i"
        done)sh",
                   R"({"auth": {"ldap": {"timeout": 5, "bind_dn": "cn=first"}}})");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.files["/etc/config/config.json"],
              "{\n  \"auth\": {\n    \"ldap\": {\n      \"timeout\": 22,\n"
              "      \"bind_dn\": \"cn=r12\"\n    }\n  }\n}\n");
}

TEST(StoreEndToEnd, BadFileAndBadValueAreNamed)
{
    auto r = shell(R"sh("$1" get auth.ldap.timeout; echo "status $?")sh",
                   "{\n  \"auth\": {\"ldap\": {\"timeout\": 20,}}\n}\n");
    EXPECT_EQ(r.out, "status 1\n");
    EXPECT_NE(r.err.find("/etc/config/config.json:2:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("malformed JSON"), std::string::npos) << r.err;

    const std::string good = "{\"auth\": {\"ldap\": {\"timeout\": 20}}}";
    r = shell(R"sh("$1" set auth.ldap.timeout 9999; echo "status $?"; "$1" set auth.ldap.colour red; echo "status $?")sh",
              good);
    EXPECT_EQ(r.out, "status 2\nstatus 2\n");
    EXPECT_NE(r.err.find("auth.ldap.timeout: integer out of range"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("auth.ldap.colour: unknown path"), std::string::npos) << r.err;
    EXPECT_EQ(r.files["/etc/config/config.json"], good);  /* untouched */
}
