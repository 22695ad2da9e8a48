// The UCI writer: every byte of the network file passes through it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quill.h"
#include "uci.h"
#include "uci_check.h"
#include "unit_support.h"

namespace {

// Collects what a writer appends to its stream; each one is a new file.
class sink : public unit::memory_stream {
public:
    uci_writer &out() { return writer_; }

private:
    uci_writer writer_{memory_stream::out()};
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
    uci_write_section(s.out(), "device", nullptr, nullptr);
    EXPECT_EQ(s.text(), "\nconfig interface vlan4_eth0_100\n\nconfig route\n\nconfig device\n");
}

// Keys may hold '-', VLAN device names '.', a formatted name anything: UCI
// refuses all of those in a name, and would then read nothing of the file.
TEST(UciWriter, SectionNamesFollowTheNameRule)
{
    sink s;
    uci_write_config_section_type_name(s.out(), "interface", "ipv4_%s", "my-lan");
    uci_write_config_section_type_name(s.out(), "interface", "vlan4_%s_%s", "eth0.7", "100");
    uci_write_config_section_type_name(s.out(), "interface", "%s", "a b\"c\n");
    uci_write_config_section_type_name(s.out(), "interface", "%s", "Lan_2");
    EXPECT_EQ(s.text(),
              "\nconfig interface ipv4_my_lan\n\nconfig interface vlan4_eth0_7_100\n"
              "\nconfig interface a_b_c_\n\nconfig interface Lan_2\n");
    unique_text mapped(uci_section_name("ipv6_guest-net.2"));
    EXPECT_STREQ(mapped.get(), "ipv6_guest_net_2");
}

class UciNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        config.reset(config_load_baked());
        ASSERT_TRUE(config);
        a = config_lookup(config.get(), "network.advanced");
        b = config_lookup(config.get(), "system");
        ASSERT_TRUE(a && b);
        log_init("uci test", 0, 1);
    }
    unique_config config;
    config_node *a = nullptr, *b = nullptr;
};

// Two sources that map to one name would merge into one section; the later
// one is left out whole, options and all, and both sources are named.
TEST_F(UciNames, CollisionLeavesOutTheLaterSectionWithItsOptions)
{
    sink s;
    testing::internal::CaptureStderr();
    EXPECT_EQ(uci_write_section(s.out(), "interface", a, "ipv4_%s", "my-lan"), 1);
    uci_write_option_string(s.out(), "proto", "%s", "static");
    EXPECT_EQ(uci_write_section(s.out(), "interface", b, "ipv4_%s", "my_lan"), 0);
    uci_write_option_string(s.out(), "proto", "%s", "dhcp");
    uci_write_option_int(s.out(), "metric", 5);
    write_option_sl_list(s.out(), "dns", nullptr, " ");
    uci_write_section(s.out(), "route", b, nullptr);
    uci_write_option_int(s.out(), "metric", 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.text(),
              "\nconfig interface ipv4_my_lan\n\toption proto \"static\"\n\nconfig route\n"
              "\toption metric 0\n");
    EXPECT_EQ(err,
              "uci test: system: section name ipv4_my_lan is already used by network.advanced; "
              "section left out\n");
}

// The same source writing its section again is no collision (several
// interfaces on one VLAN each write the VLAN's section); names without a
// source never share.
TEST_F(UciNames, OneSourceMayRepeatItsSection)
{
    sink s;
    testing::internal::CaptureStderr();
    EXPECT_EQ(uci_write_section(s.out(), "interface", a, "vlan4_eth0_7"), 1);
    EXPECT_EQ(uci_write_section(s.out(), "interface", a, "vlan4_eth0_7"), 1);
    EXPECT_EQ(uci_write_section(s.out(), "interface", nullptr, "mm_no_interface_1"), 1);
    EXPECT_EQ(uci_write_section(s.out(), "interface", nullptr, "mm_no_interface_1"), 0);
    EXPECT_EQ(uci_write_section(s.out(), "interface", a, "%s", ""), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("section name mm_no_interface_1 is already used by (no configuration)"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("network.advanced: empty interface section name"), std::string::npos) << err;
    // A new file starts with no names taken.
    uci_write_begin(s.out());
    EXPECT_EQ(uci_write_section(s.out(), "interface", b, "vlan4_eth0_7"), 1);
}

// A carriage return cannot be escaped in UCI (backslash r reads back as the
// letter r); the option is left out and its source named, never the value.
TEST_F(UciNames, CarriageReturnLeavesTheOptionOut)
{
    sink s;
    testing::internal::CaptureStderr();
    uci_write_section(s.out(), "interface", a, "wan");
    uci_write_option_string(s.out(), "password", "%s", "hunter\r2");
    uci_write_option_config(s.out(), "name", b, "name");
    uci_write_option_string(s.out(), "bad name", "%s", "x");
    uci_write_option_int(s.out(), "mtu", 1500);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.text(), "\nconfig interface wan\n\toption name \"\"\n\toption mtu 1500\n");
    EXPECT_EQ(
        err,
        "uci test: a value of network.advanced (section wan) holds a carriage return; option password "
        "left out\n"
        "uci test: network.advanced (section wan): option name \"bad name\" is not a UCI name; option "
        "left out\n");
    EXPECT_EQ(err.find("hunter"), std::string::npos);
}

TEST(UciWriter, IntegersAndBooleans)
{
    sink s;
    uci_write_option_bool(s.out(), "stp", 0);
    uci_write_option_bool(s.out(), "stp", 1);
    uci_write_option_int(s.out(), "metric", -5);
    uci_write_option_int(s.out(), "metric", INT_MAX);
    uci_write_option_int(s.out(), "metric", INT_MIN);
    EXPECT_EQ(s.text(),
              "\toption stp 0\n\toption stp 1\n\toption metric -5\n"
              "\toption metric 2147483647\n\toption metric -2147483648\n");
}

TEST(UciWriter, ListsAreOneQuotedString)
{
    sink s;
    unique_sl list(sl_append(sl_append(sl_append(nullptr, "eth1"), "eth2"), "tap-wlan0"));
    write_option_sl_list(s.out(), "ifname", list.get(), " ");
    write_option_sl_list(s.out(), "adv", list.get(), ",");
    write_option_sl_list(s.out(), "none", nullptr, " ");
    EXPECT_EQ(s.text(),
              "\toption ifname \"eth1 eth2 tap-wlan0\"\n\toption adv \"eth1,eth2,tap-wlan0\"\n"
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

// The check is at least as strict as the daemon's parser: what it lets
// through reads back line by line.
TEST(UciCheck, RefusesWhatUciRefusesOrTheWriterNeverWrites)
{
    const char *bad[] = {
        "\toption a \"b\"\n",                               // option outside a section
        "\nconfig interface lan\n\toption a \"b\n",         // line ends inside the quotes
        "\nconfig interface lan\n\toption a \"b\\\n\"\n",   // quoted value joined to the next line
        "\nconfig interface lan\nd\"\n",                    // unknown statement
        "\nconfig interface lan\n\toption a b c\n",         // text after the value
        "\nconfig interface ipv4_my-lan\n",                 // '-' in a section name
        "\nconfig interface lan x\n",                       // three words
        "\nconfig interface \"lan\"\n",                     // quoted name
        "\nconfig interface lan\n\toption my-opt \"1\"\n",  // '-' in an option name
        "\nconfig interface lan\n\toption a \"x\ry\"\n",    // carriage return, even quoted
        "\nconfig interface lan\n\toption a 'x'\n",         // single quotes
        "\nconfig interface lan\n\toption a x\"y\n",        // quote in a bare value
        "\nconfig interface lan\n\toption a \"x\"y\n",      // quoted and bare joined
        "\nconfig interface lan\n# comment\n",              // comment
        "\nconfig interface lan\n\tlist a \"x\"\n",         // list
        "\nconfig interface lan",                           // no line feed at the end
    };
    for (const char *text : bad)
        EXPECT_NE(uci::parse(text).error, "") << text;
    uci::result r = uci::parse(
        "\nconfig interface lan\n\toption a \"\"\n  option mtu -1\n\toption b \"x\\\"\\\\\"\n");
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.sections.size(), 1u);
    ASSERT_EQ(r.sections[0].options.size(), 3u);
    EXPECT_EQ(r.sections[0].options[1].value, "-1");
    EXPECT_EQ(r.sections[0].options[2].value, "x\"\\");
}

}  // namespace
