// The writers of ipsec.conf lines and secrets entries, byte for byte, with
// the texts that break a file when written as they are.
#include "ipsec_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "anvil.h"

namespace ipsec {
namespace {

// Collects what one call writes, and what it logs.
struct capture {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    text_file out{f, "/var/run/ipsec.d.new/conf/t1.conf", "t1"};

    capture()
    {
        log_init("ipsec writer test", 0, 1);
        testing::internal::CaptureStderr();
    }
    ~capture() { free(buf); }
    // The file's text and the messages, once.
    std::pair<std::string, std::string> end()
    {
        fclose(f);
        std::string messages = testing::internal::GetCapturedStderr();
        return {std::string(buf, len), messages};
    }
};

struct conf_case {
    const char *value;
    const char *line;  // nullptr: left out
};

TEST(IpsecConfWriter, ValuesAreBareOnlyWhereTheDaemonReadsThemBackUnchanged)
{
    const conf_case cases[] = {
        {"198.51.100.1", "\tleft=198.51.100.1\n"},
        {"", "\tleft=\n"},
        {"a b", "\tleft=\"a b\"\n"},
        {"a\tb", "\tleft=\"a\tb\"\n"},
        {"a\"b", "\tleft=\"a\\\"b\"\n"},
        {"a'b", "\tleft=a'b\n"},
        {"a\\b", "\tleft=a\\b\n"},
        {"a\\ b\"", "\tleft=\"a\\\\ b\\\"\"\n"},
        {"10.0.0.0/8]", "\tleft=10.0.0.0/8]\n"},
        {"$(reboot)", "\tleft=$(reboot)\n"},
        {"`reboot`", "\tleft=`reboot`\n"},
        {"a#b", "\tleft=\"a#b\"\n"},
        {"C=US, CN=peer", "\tleft=\"C=US, CN=peer\"\n"},
        {"a\nb", nullptr},
        {"a\rb", nullptr},
    };
    for (const auto &c : cases) {
        capture cap;
        bool written =
            conf_option(cap.out, "left", {{c.value, "network.interface.wan.ipv4.address"}});
        auto [text, messages] = cap.end();
        EXPECT_EQ(written, c.line != nullptr) << c.value;
        EXPECT_EQ(text, c.line ? c.line : "") << c.value;
        if (c.line) {
            EXPECT_EQ(messages, "");
        } else {
            // One message naming where the value came from, never the value.
            EXPECT_EQ(
                messages,
                "ipsec writer test: tunnel 't1': network.interface.wan.ipv4.address cannot be "
                "written to /var/run/ipsec.d.new/conf/t1.conf (line break). Skipping tunnel\n");
        }
    }
}

TEST(IpsecConfWriter, QuotedOptionsEscapeQuoteAndBackslash)
{
    capture cap;
    EXPECT_TRUE(conf_option(cap.out, "leftid", {{"fqdn:a\"b\\c d'e", "p"}}, QUOTE_ALWAYS));
    EXPECT_TRUE(conf_option(cap.out, "leftcert", {"t1", ".cert"}, QUOTE_ALWAYS));
    EXPECT_EQ(cap.end().first, "\tleftid=\"fqdn:a\\\"b\\\\c d'e\"\n\tleftcert=\"t1.cert\"\n");
}

TEST(IpsecConfWriter, UpdownArgumentsAreShellWords)
{
    capture cap;
    EXPECT_TRUE(conf_option(cap.out, "leftupdown",
                            {"/bin/ipsec-updown.sh",
                             " -l ",
                             {"192.168.1.0/24", "a", true},
                             " -i ",
                             {"%dynamic", "b", true},
                             " -x ",
                             {"$(reboot) `id`", "c", true},
                             " -n ",
                             "1"},
                            QUOTE_ALWAYS));
    EXPECT_TRUE(
        conf_option(cap.out, "leftupdown", {"/bin/x -l ", {"a'b\\c", "a", true}}, QUOTE_ALWAYS));
    EXPECT_EQ(
        cap.end().first,
        "\tleftupdown=\"/bin/ipsec-updown.sh -l 192.168.1.0/24 -i %dynamic -x '$(reboot) `id`' -n 1\"\n"
        "\tleftupdown=\"/bin/x -l 'a'\\\\''b\\\\c'\"\n");
}

TEST(IpsecConfWriter, WhatIsLeftOutAndWhy)
{
    capture cap;
    // A value in pieces: the message names the piece that broke it.
    EXPECT_FALSE(conf_option(cap.out, "leftsubnet",
                             {{"10.0.0.0/8", "x.local.custom"},
                              "[",
                              {"tcp", "x.local.protocol"},
                              "/",
                              {"80\nauto=start", "x.local.port"},
                              "]"}));
    EXPECT_FALSE(conf_option(cap.out, "righthostssequence",
                             {{"seq\nx", "x.remote.hostname_selection"}}, QUOTE_AS_NEEDED,
                             LEAVE_OUT_OPTION));
    EXPECT_FALSE(conf_option(cap.out, {"esp x", "x.type"}, {"aes128!"}));
    EXPECT_FALSE(conf_section(cap.out, {{"t 1", "x"}, "_policy", "0"}));
    EXPECT_TRUE(conf_section(cap.out, {{"t-1_a", "x"}, "_policy", "0"}));
    auto [text, messages] = cap.end();
    EXPECT_EQ(text, "conn t-1_a_policy0\n");
    const std::string file = " cannot be written to /var/run/ipsec.d.new/conf/t1.conf ";
    EXPECT_EQ(messages, "ipsec writer test: tunnel 't1': x.local.port" + file +
                            "(line break). Skipping tunnel\n" +
                            "ipsec writer test: tunnel 't1': x.remote.hostname_selection" + file +
                            "(line break); option righthostssequence left out\n" +
                            "ipsec writer test: tunnel 't1': x.type" + file +
                            "(not an option name). Skipping tunnel\n" +
                            "ipsec writer test: tunnel 't1': x" + file +
                            "(not a plain name). Skipping tunnel\n");
}

struct selector_case {
    const char *value;
    const char *written;  // nullptr: the entry is left out
};

TEST(IpsecSecretsWriter, EachSelectorStaysOneSelector)
{
    const selector_case cases[] = {
        {"fqdn:router.example.com", "fqdn:router.example.com"},
        {"203.0.113.5,203.0.113.6", "203.0.113.5,203.0.113.6"},
        {"%any", "%any"},
        {"", ""},
        {"C=US, CN=peer", "\"C=US, CN=peer\""},
        {"a\tb", "\"a\tb\""},
        {"a\"b", "'a\"b'"},
        {"a'b", "\"a'b\""},
        {"a\\b", "a\\b"},
        {"x]", "x]"},
        {"$(reboot)", "$(reboot)"},
        {"`id`", "`id`"},
        {"#x", "\"#x\""},
        {"include", "\"include\""},
        {":", "\":\""},
        {"a\"b'c", nullptr},
        {"a : b", nullptr},
        {"a\nb", nullptr},
        {"a\r", nullptr},
    };
    for (const auto &c : cases) {
        capture cap;
        bool written = secrets_entry(
            cap.out, {{c.value, "vpn.ipsec.tunnel.t1.remote.id.raw_id"}, "right"}, "PSK 0saw==");
        auto [text, messages] = cap.end();
        EXPECT_EQ(written, c.written != nullptr) << c.value;
        EXPECT_EQ(text, c.written ? std::string(c.written) + " right : PSK 0saw==\n" : "")
            << c.value;
        // One message when left out, which never holds the value.
        EXPECT_EQ(messages.empty(), c.written != nullptr) << c.value;
        if (!c.written) {
            EXPECT_EQ(messages.find(c.value), std::string::npos) << messages;
        }
    }
}

TEST(IpsecSecretsWriter, SecretsAreQuotedOrBase64)
{
    EXPECT_EQ(secrets_text("pw"), "\"pw\"");
    EXPECT_EQ(secrets_text(""), "\"\"");
    EXPECT_EQ(secrets_text("p'w \\ $(x) `y` ]"), "\"p'w \\ $(x) `y` ]\"");
    EXPECT_EQ(secrets_text("p\"w"), "0scCJ3");
    EXPECT_EQ(secrets_text("p\nw"), "0scAp3");
    EXPECT_EQ(secrets_text("p\rw"), "0scA13");
    EXPECT_EQ(secrets_base64("s3cret"), "0sczNjcmV0");
}

TEST(IpsecSecretsWriter, EmptySelectorsKeepTheirPlace)
{
    // No user name, and a remote end without hosts, as written all along.
    capture cap;
    EXPECT_TRUE(secrets_entry(cap.out, {""}, "XAUTH \"pw\""));
    EXPECT_TRUE(secrets_entry(cap.out, {"198.51.100.1", ""}, "PSK 0saw=="));
    EXPECT_EQ(cap.end().first, " : XAUTH \"pw\"\n198.51.100.1  : PSK 0saw==\n");
}

TEST(IpsecNames, OnlyPlainKeys)
{
    EXPECT_TRUE(plain_name("hq_1-b"));
    EXPECT_FALSE(plain_name(""));
    EXPECT_FALSE(plain_name("a b"));
    EXPECT_FALSE(plain_name("../x"));
    EXPECT_FALSE(plain_name(std::string(65, 'a')));
}

}  // namespace
}  // namespace ipsec
