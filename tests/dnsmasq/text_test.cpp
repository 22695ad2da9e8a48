#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "dnsmasq.h"
#include "text.h"

namespace {

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

TEST(DnsmasqEscape, FieldIsQuotedOnlyWhenEscaped)
{
    EXPECT_EQ(dnsmasq::escaped("pxelinux.0").field(), "pxelinux.0");
    EXPECT_EQ(dnsmasq::escaped("boot\\wds.com").field(), "\"boot\\\\wds.com\"");
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

TEST(DnsmasqLines, LineBreaksAreDetected)
{
    EXPECT_FALSE(dnsmasq::has_line_break("example.com"));
    EXPECT_TRUE(dnsmasq::has_line_break("a\nb"));
    EXPECT_TRUE(dnsmasq::has_line_break("a\rb"));
}

}  // namespace
