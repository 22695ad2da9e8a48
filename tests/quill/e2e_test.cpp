// The store as `config` uses it on a device: the fixed paths, the lock and
// the messages, through the real program in a private namespace.
#include <gtest/gtest.h>

#include <utility>

#include "nsrun.h"

namespace {

nsrun::Result shell(const std::string &script, const std::string &config)
{
    nsrun::Spec spec;
    spec.program = "/bin/sh";
    spec.args = {"-c", script, "sh", nsrun::config_binary()};
    spec.config_json = config;
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
    r = shell(
        R"sh("$1" set auth.ldap.timeout 9999; echo "status $?"; "$1" set auth.ldap.colour red; echo "status $?")sh",
        good);
    EXPECT_EQ(r.out, "status 2\nstatus 2\n");
    EXPECT_NE(r.err.find("auth.ldap.timeout: integer out of range"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("auth.ldap.colour: unknown path"), std::string::npos) << r.err;
    EXPECT_EQ(r.files["/etc/config/config.json"], good); /* untouched */
}

TEST(StoreEndToEnd, OnlyARegularFileIsRead)
{
    /* A FIFO would block the open and the read, /dev/zero would be read
     * until memory runs out: each command must end at once with 1 and say
     * why.  timeout(1) turns a hang into status 124. */
    const std::pair<const char *, const char *> cases[] = {
        {"mkfifo /etc/config/config.json", "<fifo>"},
        {"ln -s /dev/zero /etc/config/config.json", "-> /dev/zero"}};
    for (auto [make, left] : cases) {
        auto r = shell(std::string("rm /etc/config/config.json; ") + make + R"sh(
            for cmd in "get auth.ldap.timeout" "set auth.ldap.timeout 30" "json" "map pam"; do
                timeout 10 "$1" $cmd; echo "$cmd: $?"
            done)sh",
                       "{}");
        EXPECT_EQ(r.out,
                  "get auth.ldap.timeout: 1\nset auth.ldap.timeout 30: 1\njson: 1\nmap pam: 1\n")
            << make;
        EXPECT_NE(r.err.find("/etc/config/config.json: cannot read: not a regular file"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.files["/etc/config/config.json"], left) << "the refused set replaced nothing";
    }
}

TEST(StoreEndToEnd, SizeLimitAndMemory)
{
    /* Blanks pad a valid document to exactly the limit, then one byte more. */
    auto r = shell(R"sh(f=/etc/config/config.json
        pad() { head -c $(($1 - $(stat -c %s $f))) /dev/zero | tr '\0' ' ' >> $f; }
        pad 4194304; "$1" get auth.ldap.timeout; echo "at the limit: $?"
        pad 4194305; "$1" get auth.ldap.timeout; echo "one byte over: $?")sh",
                   R"({"auth": {"ldap": {"timeout": 20}}})");
    EXPECT_EQ(r.out, "20\nat the limit: 0\none byte over: 1\n") << r.err;
    EXPECT_NE(r.err.find("/etc/config/config.json: cannot read: larger than 4 MiB, the store's "
                         "limit"),
              std::string::npos)
        << r.err;

#ifdef NO_ADDRESS_LIMIT
    GTEST_SKIP() << NO_ADDRESS_LIMIT;
#endif
    /* Within the limit, but more nodes than the memory at hand holds: a
     * refused load with a message, not an abort. */
    r = shell(R"sh(f=/etc/config/config.json
        ulimit -v 65536
        "$1" get auth.ldap.timeout >/dev/null; echo "small: $?"
        { printf '{"auth": {"method": [0'; yes ',0' | head -c 6000000 | tr -d '\n'; printf ']}}'; } > $f
        "$1" get auth.ldap.timeout; echo "two million elements: $?")sh",
              "{}");
    EXPECT_EQ(r.out, "small: 0\ntwo million elements: 1\n") << r.err;
    EXPECT_NE(r.err.find("/etc/config/config.json: cannot load: out of memory"), std::string::npos)
        << r.err;
}
