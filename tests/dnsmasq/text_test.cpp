// The writer of dnsmasq values: what each field takes, how it is written,
// and that what it writes is what dnsmasq reads back.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "anvil.h"
#include "dnsmasq.h"
#include "dnsmasq_check.h"
#include "text.h"

namespace {

using dnsmasq::field;

std::string escape_of(const char *s)
{
    char *e = dnsmasq_escape(s);
    if (!e)
        return "(null)";
    std::string r = e;
    std::free(e);
    return r;
}

TEST(DnsmasqEscape, OnlyBackslashAndQuoteAreEscaped)
{
    EXPECT_EQ(escape_of("plain text, with # and 'quotes'"), "(null)");
    EXPECT_EQ(escape_of(""), "(null)");
    EXPECT_EQ(escape_of(nullptr), "(null)");
    EXPECT_EQ(escape_of("say \"hi\""), "say \\\"hi\\\"");
    EXPECT_EQ(escape_of("boot\\x86\\a"), "boot\\\\x86\\\\a");
    EXPECT_EQ(escape_of("\"\\"), "\\\"\\\\");
}

// What put() wrote for value, "<left out: MESSAGE>" when it wrote nothing.
std::string written(const char *value, field f)
{
    log_init("writer", 0, 1);
    std::string line;
    testing::internal::CaptureStderr();
    bool ok = dnsmasq::put(line, value, f, {nullptr, "some.path", 3});
    std::string said = testing::internal::GetCapturedStderr();
    if (!ok) {
        EXPECT_EQ(line, "");
        return "<left out: " + said + ">";
    }
    EXPECT_EQ(said, "");
    return line;
}

const std::string line_break =
    "<left out: writer: Ignoring some.path.3: the value holds a line break\n>";

// Every payload either keeps its meaning inside its field or is left out
// with a message that names the path and not the value.
TEST(DnsmasqWriter, PayloadsInFreeText)
{
    const struct {
        const char *value, *text, *quoted, *comment;
    } cases[] = {
        {"pxelinux.0", "pxelinux.0", "\"pxelinux.0\"", "pxelinux.0"},
        {"a\nb", nullptr, nullptr, nullptr},
        {"a\rb", nullptr, nullptr, nullptr},
        {"a\"b", "\"a\\\"b\"", "\"a\\\"b\"", "a\"b"},
        {"\"", "\"\\\"\"", "\"\\\"\"", "\""},
        {"a'b", "a'b", "\"a'b\"", "a'b"},
        {"boot\\x64\\b", "\"boot\\\\x64\\\\b\"", "\"boot\\\\x64\\\\b\"", "boot\\x64\\b"},
        {"ends\\", "\"ends\\\\\"", "\"ends\\\\\"", "ends\\"},
        {"a b", "\"a b\"", "\"a b\"", "a b"},
        {"a]b", "a]b", "\"a]b\"", "a]b"},
        {"$(reboot)", "$(reboot)", "\"$(reboot)\"", "$(reboot)"},
        {"`reboot`", "`reboot`", "\"`reboot`\"", "`reboot`"},
        {"a,b", "\"a,b\"", "\"a,b\"", "a,b"},
        {"x #y", "\"x #y\"", "\"x #y\"", "x #y"},
        {"", "", "\"\"", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(written(c.value, field::text), c.text ? c.text : line_break);
        EXPECT_EQ(written(c.value, field::quoted), c.quoted ? c.quoted : line_break);
        EXPECT_EQ(written(c.value, field::comment), c.comment ? c.comment : line_break);
        if (!c.text)
            continue;
        // dnsmasq reads each form back as one value of its line.
        std::string file = "dhcp-boot=net:lan," + written(c.value, field::text) +
                           ",,192.168.1.5 # bootp server\n" + "dhcp-option=net:lan,252," +
                           written(c.value, field::quoted) + "\n" + "dhcp-option=net:lan,3 # " +
                           written(c.value, field::comment) + "\n";
        EXPECT_EQ(dnsmasq_test::daemon_check(file), "") << file;
    }
}

TEST(DnsmasqWriter, TypedFieldsTakeOnlyTheirValues)
{
    const char *payloads[] = {"\n", "\r",   "\"",  "'", "\\", " ",
                              "]",  "$(x)", "`x`", ",", "\t", "\x01"};
    const struct {
        field f;
        const char *good;
        const char *why;
    } fields[] = {
        {field::ipv4, "192.168.1.20", "the value is not an IPv4 address"},
        {field::ipv4_prefix, "192.168.1.1/24", "the value is not an IPv4 address"},
        {field::address, "fd00::1", "the value is not an IP address"},
        {field::name, "_sip._tcp.printer.lan", "the value is not a host or domain name"},
        {field::host, "printer.lan", "the value is not a host name"},
        {field::domain, "*.corp.example", "the value is not a domain"},
        {field::server, "10.0.0.53#5353@eth0", "the value is not a server address"},
        {field::mac, "aa:bb:cc:dd:ee:01", "the value is not a hardware address"},
        {field::hex, "ab12CD", "the value is not hexadecimal digits"},
    };
    for (const auto &f : fields) {
        SCOPED_TRACE(f.good);
        EXPECT_EQ(written(f.good, f.f), f.good);
        EXPECT_EQ(written("", f.f),
                  "<left out: writer: Ignoring some.path.3: " + std::string(f.why) + "\n>");
        for (const char *payload : payloads) {
            std::string value = std::string(f.good) + payload;
            std::string said = written(value.c_str(), f.f);
            EXPECT_EQ(said.rfind("<left out: writer: Ignoring some.path.3: the value ", 0), 0u)
                << said;
            EXPECT_EQ(said.find(f.good), std::string::npos) << said;
        }
    }
    // dnsmasq refuses the whole file on a label DNS cannot carry.
    const std::string label63(63, 'a');
    EXPECT_EQ(written((label63 + ".lan").c_str(), field::name), label63 + ".lan");
    EXPECT_EQ(written(("b" + label63 + ".lan").c_str(), field::domain),
              "<left out: writer: Ignoring some.path.3: the value is not a domain\n>");
    EXPECT_EQ(written("-printer", field::host),
              "<left out: writer: Ignoring some.path.3: the value is not a host name\n>");
    EXPECT_EQ(written("192.168.1.1/33", field::ipv4_prefix),
              "<left out: writer: Ignoring some.path.3: the value is not an IPv4 address\n>");
    EXPECT_EQ(written("192.168.1.1", field::ipv4_prefix), "192.168.1.1");
    EXPECT_EQ(written("9.9.9.9@192.168.1.1#53", field::server), "9.9.9.9@192.168.1.1#53");
    EXPECT_EQ(written("resolver.example", field::server),
              "<left out: writer: Ignoring some.path.3: the value is not a server address\n>");
}

TEST(DnsmasqWriter, LinesLongerThanDnsmasqReadsAreLeftOut)
{
    log_init("writer", 0, 1);
    char *buf = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buf, &size);
    ASSERT_NE(out, nullptr);
    std::string fits = "dhcp-option=net:lan,3 # " + std::string(dnsmasq::max_line - 24, 'x');
    testing::internal::CaptureStderr();
    EXPECT_TRUE(dnsmasq::write_line(out, fits, {nullptr, "a"}));
    // dnsmasq would read the rest of this line as a directive of its own.
    EXPECT_FALSE(dnsmasq::write_line(out, fits + "server=203.0.113.66", {nullptr, "b"}));
    std::string said = testing::internal::GetCapturedStderr();
    std::fclose(out);
    unique_text text(buf);
    EXPECT_EQ(std::string(text.get(), size), fits + "\n");
    EXPECT_EQ(said, "writer: Ignoring b: its line would be longer than dnsmasq reads\n");
    EXPECT_EQ(dnsmasq_test::daemon_check(fits + "\n"), "");
}

TEST(DnsmasqHex, RegroupsInPairs)
{
    EXPECT_EQ(dnsmasq::regroup_hex("ab12cd"), "ab:12:cd");
    EXPECT_EQ(dnsmasq::regroup_hex("abcde"), "ab:cd:e");
    EXPECT_EQ(dnsmasq::regroup_hex("a"), "a");
    EXPECT_EQ(dnsmasq::regroup_hex("AB"), "AB");
    EXPECT_EQ(dnsmasq::regroup_hex(""), "");
}

TEST(DnsmasqRangeTag, HexLookingTagsAreMarked)
{
    EXPECT_EQ(dnsmasq::range_tag("lan"), "lan");
    EXPECT_EQ(dnsmasq::range_tag("ff-1"), "ff-1");
    EXPECT_EQ(dnsmasq::range_tag("cafe"), "set:cafe");
    EXPECT_EQ(dnsmasq::range_tag("1"), "set:1");
    EXPECT_EQ(dnsmasq::range_tag("DEAD01"), "set:DEAD01");
}

}  // namespace
