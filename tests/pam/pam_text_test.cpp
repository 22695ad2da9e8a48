// The writers of PAM rule arguments and client-file fields, byte for byte,
// with every payload; each value is written whole or left out with a
// message that names its path and not the value.
#include <string>

#include <gtest/gtest.h>

#include "pam_internal.h"

namespace {

using writer = bool (*)(std::string &, const char *, std::string_view);

bool arg(std::string &out, const char *value, std::string_view path)
{
    return pam::module_arg(out, "client_id", value, path);
}

bool secret_arg(std::string &out, const char *value, std::string_view path)
{
    return pam::module_arg(out, "secret", value, path, true);
}

// What the writer wrote, or "<left out: MESSAGE>".
std::string written(writer w, const char *value)
{
    log_init("writer", 0, 1);
    std::string out;
    testing::internal::CaptureStderr();
    bool ok = w(out, value, "auth.x.y");
    std::string said = testing::internal::GetCapturedStderr();
    if (!ok) {
        EXPECT_EQ(out, "");
        return "<left out: " + said + ">";
    }
    EXPECT_EQ(said, "");
    return out;
}

std::string left_out(const char *why)
{
    return "<left out: writer: auth.x.y: " + std::string(why) + "; left out\n>";
}

TEST(PamWriter, Payloads)
{
    const std::string line_break = left_out("the value holds a line break");
    const std::string hash = left_out("the value holds '#', which ends a PAM rule");
    const std::string backslash =
        left_out("the value ends in a backslash, which PAM would read as part of what follows");
    const std::string blank =
        left_out("the value holds a blank, which would split it into two fields");
    const struct {
        const char *value, *arg, *secret, *radius, *ldap;
    } cases[] = {
        {"rtr-1", "client_id=rtr-1", "[secret=rtr-1]", "rtr-1", "rtr-1"},
        {"a\nb", nullptr, nullptr, nullptr, nullptr},
        {"a\rb", nullptr, nullptr, nullptr, nullptr},
        {"a\"b", "client_id=a\"b", "[secret=a\"b]", "a\"b", "a\"b"},
        {"a'b", "client_id=a'b", "[secret=a'b]", "a'b", "a'b"},
        {"a\\b", "client_id=a\\b", "[secret=a\\b]", "a\\b", "a\\b"},
        {"a b", "[client_id=a b]", "[secret=a b]", "", "a b"},
        {"a\tb", "[client_id=a\tb]", "[secret=a\tb]", "", "a\tb"},
        {"a]b", "client_id=a]b", "[secret=a\\]b]", "a\\]b", "a]b"},
        {"a b]", "[client_id=a b\\]]", "[secret=a b\\]]", "", "a b]"},
        {"$(reboot)", "client_id=$(reboot)", "[secret=$(reboot)]", "$(reboot)", "$(reboot)"},
        {"`reboot`", "client_id=`reboot`", "[secret=`reboot`]", "`reboot`", "`reboot`"},
        {"x conf=/tmp/evil.conf", "[client_id=x conf=/tmp/evil.conf]",
         "[secret=x conf=/tmp/evil.conf]", "", "x conf=/tmp/evil.conf"},
        {"a#b", "", "", "a#b", "a#b"},
        {"ends\\", "", "", "ends\\", "ends\\"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        if (!c.arg) {
            for (writer w : {writer(arg), writer(secret_arg), writer(pam::radius_field),
                             writer(pam::ldap_value)})
                EXPECT_EQ(written(w, c.value), line_break);
            continue;
        }
        const bool hash_case = std::string_view(c.value).find('#') != std::string_view::npos;
        const std::string refused = hash_case ? hash : backslash;
        EXPECT_EQ(written(arg, c.value), *c.arg ? c.arg : refused);
        EXPECT_EQ(written(secret_arg, c.value), *c.secret ? c.secret : refused);
        EXPECT_EQ(written(pam::radius_field, c.value), *c.radius ? c.radius : blank);
        EXPECT_EQ(written(pam::ldap_value, c.value), c.ldap);
    }
    EXPECT_EQ(written(pam::radius_field, ""),
              left_out("the value is empty, which would shift the fields after it"));
    EXPECT_EQ(written(pam::ldap_value, ""), "");
    EXPECT_EQ(written(pam::ldap_value, " x"),
              left_out("the value starts or ends with a blank, which the LDAP module drops"));
    EXPECT_EQ(written(pam::ldap_value, "x\t"),
              left_out("the value starts or ends with a blank, which the LDAP module drops"));
    EXPECT_EQ(written(arg, "a\x01"), left_out("the value holds a control character"));
}

TEST(PamWriter, HostAndPort)
{
    EXPECT_EQ(pam::host_port("radius.example.net", 1812), "radius.example.net:1812");
    EXPECT_EQ(pam::host_port("10.0.0.1", 49), "10.0.0.1:49");
    EXPECT_EQ(pam::host_port("fd00::7", 49), "[fd00::7]:49");
    EXPECT_EQ(pam::host_port("fe80::1%eth0", 636), "[fe80::1%eth0]:636");
    for (const char *bad :
         {"", "a b", "a#b", "a]b", "[fd00::1]", "a\nb", "$(x)", "`x`", "a'b", "a\"b", "a\\b"})
        EXPECT_FALSE(pam::host_ok(bad)) << bad;
    EXPECT_TRUE(pam::host_ok("fe80::1%eth0"));
}

}  // namespace
