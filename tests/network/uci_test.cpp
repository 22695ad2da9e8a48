// The UCI writer: every byte of the network file passes through it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "uci.h"
#include "uci_reader.h"

namespace {

// Collects what the writer appends to a stream.
class sink {
public:
    sink() : f(open_memstream(&buf, &len)) {}
    ~sink()
    {
        if (f)
            std::fclose(f);
        std::free(buf);
    }
    FILE *out() { return f; }
    std::string text()
    {
        std::fflush(f);
        return std::string(buf, len);
    }

private:
    char *buf = nullptr;
    size_t len = 0;
    FILE *f;
};

TEST(UciWriter, QuoteBackslashAndLineFeedStayOnOneLine)
{
    sink s;
    uci_write_option_string(s.out(), "password", "%s", "a\"b\\c\nd");
    EXPECT_EQ(s.text(), "\toption password \"a\\\"b\\\\c\\\\nd\"\n");
}

TEST(UciWriter, EscapesAreOnePass)
{
    // A quote yields exactly two characters: the backslash it gains is not
    // escaped again, and an escaped backslash is not doubled twice.
    sink s;
    uci_write_option_string(s.out(), "v", "%s", "\"\"\\");
    EXPECT_EQ(s.text(), "\toption v \"\\\"\\\"\\\\\"\n");
}

TEST(UciWriter, OtherBytesAreCopied)
{
    sink s;
    uci_write_option_string(s.out(), "v", "%s", "tab\there \xc3\xa9 %d");
    EXPECT_EQ(s.text(), "\toption v \"tab\there \xc3\xa9 %d\"\n");
}

TEST(UciWriter, FormatsBeforeEscaping)
{
    sink s;
    uci_write_option_string(s.out(), "tap", "tap-%s", "wl\"an0");
    uci_write_option_string(s.out(), "empty", "%s", "");
    EXPECT_EQ(s.text(), "\toption tap \"tap-wl\\\"an0\"\n\toption empty \"\"\n");
}

TEST(UciWriter, SectionHeaders)
{
    sink s;
    uci_write_config_section_type_name(s.out(), "interface", "vlan%d_%s_%s", 4, "eth0", "100");
    uci_write_config_section_type(s.out(), "route");
    // The name is written raw, as formatted.
    uci_write_config_section_type_name(s.out(), "interface", "%s", "a b");
    EXPECT_EQ(s.text(), "\nconfig interface vlan4_eth0_100\n\nconfig route\n\nconfig interface a b\n");
}

TEST(UciWriter, IntegersAndBooleans)
{
    sink s;
    uci_write_option_bool(s.out(), "stp", 0);
    uci_write_option_bool(s.out(), "stp", 1);
    uci_write_option_int(s.out(), "metric", -5);
    uci_write_option_int(s.out(), "metric", INT_MAX);
    uci_write_option_int(s.out(), "metric", INT_MIN);
    EXPECT_EQ(s.text(), "\toption stp 0\n\toption stp 1\n\toption metric -5\n"
                        "\toption metric 2147483647\n\toption metric -2147483648\n");
}

TEST(UciWriter, ListsAreOneQuotedString)
{
    sink s;
    unique_sl list(sl_append(sl_append(sl_append(nullptr, "eth1"), "eth2"), "tap-wlan0"));
    write_option_sl_list(s.out(), "ifname", list.get(), " ");
    write_option_sl_list(s.out(), "adv", list.get(), ",");
    write_option_sl_list(s.out(), "none", nullptr, " ");
    EXPECT_EQ(s.text(), "\toption ifname \"eth1 eth2 tap-wlan0\"\n\toption adv \"eth1,eth2,tap-wlan0\"\n"
                        "\toption none \"\"\n");
    // The list stays the caller's.
    EXPECT_EQ(sl_len(list.get()), 3u);
}

TEST(UciWriter, OutputParsesAndRoundTrips)
{
    sink s;
    const char *nasty = "x\"y\\z\nw";
    uci_write_config_section_type_name(s.out(), "interface", "%s", "lan");
    uci_write_option_string(s.out(), "password", "%s", nasty);
    uci_write_option_int(s.out(), "mtu", 1500);
    uci_write_config_section_type(s.out(), "route");
    uci_write_option_string(s.out(), "target", "%s", "10.0.0.0");
    uci::result r = uci::parse(s.text());
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.sections.size(), 2u);
    EXPECT_EQ(r.sections[0].name, "lan");
    ASSERT_EQ(r.sections[0].options.size(), 2u);
    // A reader undoes the quote and backslash escapes; the line feed comes
    // back as backslash and n, never as a new line.
    EXPECT_EQ(r.sections[0].options[0].value, "x\"y\\z\\nw");
    EXPECT_EQ(r.sections[0].options[1].value, "1500");
    EXPECT_EQ(r.sections[1].type, "route");
    EXPECT_EQ(r.sections[1].name, "");
}

TEST(UciReader, RefusesBrokenText)
{
    EXPECT_NE(uci::parse("\toption a \"b\"\n").error, "");
    EXPECT_NE(uci::parse("\nconfig interface lan\n\toption a \"b\n").error, "");
    EXPECT_NE(uci::parse("\nconfig interface lan\nd\"\n").error, "");
    EXPECT_NE(uci::parse("\nconfig interface lan\n\toption a b c\n").error, "");
    EXPECT_EQ(uci::parse("\nconfig interface lan\n\toption a \"\"\n").error, "");
}

}  // namespace
