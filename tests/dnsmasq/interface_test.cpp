// Per-interface DHCP blocks: ranges, options, leases, boot settings, relay,
// delegated prefixes and devices that dnsmasq must keep off.
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "generate.h"

namespace {

using dnsmasq_test::defaults;
using dnsmasq_test::generate;

// Interfaces (members of network.interface) on four Ethernet ports.
std::string with_interfaces(const std::string &interfaces, const std::string &more = "")
{
    return R"({"network": {"device": {"eth0": {}, "eth1": {}, "eth2": {}, "eth3": {}}, "interface": {)" +
           interfaces + "}}" + more + "}";
}

// A static IPv4 interface; dhcp is the body of its dhcp_server object.
std::string static_interface(const std::string &name, const std::string &device,
                             const std::string &address, const std::string &dhcp,
                             const std::string &ipv4_more = "")
{
    return "\"" + name + R"(": {"device": "/network/device/)" + device +
           R"(", "ipv4": {"type": "static", "address": ")" + address + R"(", "dhcp_server": {)" +
           dhcp + "}" + ipv4_more + "}}";
}

std::string block_header(const std::string &tag)
{
    return "\n# network interface '" + tag + "' configurations\n";
}

std::string auto_options(const std::string &tag)
{
    return "dhcp-option=net:" + tag +
           ",3,0.0.0.0 # gateway address\n"
           "dhcp-option=net:" +
           tag +
           ",6,0.0.0.0,0.0.0.0 # dns server\n"
           "dhcp-option=net:" +
           tag +
           ",option:ntp-server,0.0.0.0,0.0.0.0 # ntp server\n"
           "dhcp-option=net:" +
           tag + ",44,0.0.0.0,0.0.0.0 # wins server\n";
}

const std::string plain_server =
    R"("enable": true, "lease_start": "100", "lease_end": "199", "lease_time": 600)";

TEST(DnsmasqInterface, StaticLanWithDefaults)
{
    auto out =
        generate(with_interfaces(static_interface("lan", "eth0", "192.168.1.1/24", plain_server)));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + block_header("lan") +
                            "dhcp-range=lan,192.168.1.100,192.168.1.199,600s\n"
                            "dhcp-option=net:lan,3,0.0.0.0 # gateway address\n"
                            "dhcp-option=net:lan,6,0.0.0.0,0.0.0.0 # dns server\n"
                            "dhcp-option=net:lan,option:ntp-server,0.0.0.0,0.0.0.0 # ntp server\n"
                            "dhcp-option=net:lan,44,0.0.0.0,0.0.0.0 # wins server\n");
}

TEST(DnsmasqInterface, RangeFormsAndLeaseFloor)
{
    auto out = generate(with_interfaces(
        static_interface(
            "if_a", "eth0", "10.0.0.1/8",
            R"("enable": true, "lease_start": "10.0.0.5", "lease_end": "20", "lease_time": 60)") +
        "," +
        static_interface(
            "if_b", "eth1", "172.16.0.1/16",
            R"("enable": true, "lease_start": "50", "lease_end": "172.16.9.60", "lease_time": 120)") +
        "," +
        static_interface(
            "if_c", "eth2", "192.168.3.1/24",
            R"("enable": true, "lease_start": "192.168.3.10", "lease_end": "192.168.3.20", "lease_time": "2h")") +
        "," +
        static_interface(
            "if_d", "eth3", "192.168.4.1/24",
            R"("enable": true, "lease_start": "5", "lease_end": "9", "lease_time": 119)")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf,
              defaults + block_header("if_a") + "dhcp-range=if_a,10.0.0.5,10.0.0.20,120s\n" +
                  auto_options("if_a") + block_header("if_b") +
                  "dhcp-range=if_b,172.16.9.50,172.16.9.60,120s\n" + auto_options("if_b") +
                  block_header("if_c") + "dhcp-range=if_c,192.168.3.10,192.168.3.20,7200s\n" +
                  auto_options("if_c") + block_header("if_d") +
                  "dhcp-range=if_d,192.168.4.5,192.168.4.9,120s\n" + auto_options("if_d"));
}

TEST(DnsmasqInterface, OptionsLeasesAndBoot)
{
    auto out = generate(
        with_interfaces(static_interface("lan", "eth0", "192.168.1.1/24", plain_server + R"(,
      "advanced": {
        "domain_suffix": "lan.example",
        "gateway": "custom", "gateway_custom": "192.168.1.254",
        "mtu": "custom", "mtu_custom": 576,
        "primary_dns": "custom", "primary_dns_custom": "192.168.1.53", "secondary_dns": "auto",
        "primary_ntp": "none", "secondary_ntp": "none",
        "primary_wins": "auto", "secondary_wins": "custom", "secondary_wins_custom": "192.168.1.9",
        "custom_option": [
          {"enable": true, "option": 42, "datatype": "ipv4", "value_ipv4_list": ["192.0.2.1", "192.0.2.2"], "name": "time servers"},
          {"enable": true, "option": 252, "force": true, "datatype": "str", "value_str": "http://wpad.lan/\"p\".dat"},
          {"enable": false, "option": 15, "datatype": "str", "value_str": "off"},
          {"enable": true, "option": 43, "datatype": "hex", "value_hex": "ab12cd"},
          {"enable": true, "option": 125, "datatype": "hex", "value_hex": "abcde"},
          {"enable": true, "option": 19, "datatype": "1byte", "value_bytes": 1},
          {"enable": true, "option": 22, "datatype": "2byte", "value_bytes": 1500},
          {"enable": true, "option": 24, "datatype": "4byte", "value_bytes": 600}
        ],
        "static_lease": [
          {"ip": "192.168.1.20", "mac": "aa:bb:cc:dd:ee:01", "name": "printer"},
          {"ip": "192.168.1.21", "mac": "aa:bb:cc:dd:ee:02"},
          {"ip": "192.168.1.20", "mac": "aa:bb:cc:dd:ee:03", "name": "copier"},
          {"ip": "192.168.1.21", "mac": "aa:bb:cc:dd:ee:04"}
        ],
        "tftp_server": "192.168.1.5", "bootfile": "pxelinux.0",
        "bootp_dynamic": true
      })")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + block_header("lan") +
                            "dhcp-range=lan,192.168.1.100,192.168.1.199,600s\n"
                            "domain=lan.example,192.168.1.1/24 # domain name suffix\n"
                            "dhcp-option=net:lan,3,192.168.1.254 # gateway address\n"
                            "dhcp-option-force=net:lan,option:mtu,576 # mtu value\n"
                            "dhcp-option=net:lan,6,192.168.1.53,0.0.0.0 # dns server\n"
                            "dhcp-option=net:lan,option:ntp-server # ntp server\n"
                            "dhcp-option=net:lan,44,0.0.0.0,192.168.1.9 # wins server\n"
                            "dhcp-option=net:lan,42,192.0.2.1,192.0.2.2 # time servers\n"
                            "dhcp-option-force=net:lan,252,\"http://wpad.lan/\\\"p\\\".dat\"\n"
                            "dhcp-option=net:lan,43,ab:12:cd\n"
                            "dhcp-option=net:lan,125,ab:cd:e\n"
                            "dhcp-option=net:lan,19,1b\n"
                            "dhcp-option=net:lan,22,1500s\n"
                            "dhcp-option=net:lan,24,600i\n"
                            "dhcp-host=aa:bb:cc:dd:ee:01,printer,192.168.1.20,net:lan\n"
                            "dhcp-host=aa:bb:cc:dd:ee:02,192.168.1.21,net:lan\n"
                            "dhcp-option=net:lan,66,192.168.1.5 # tftp server\n"
                            "dhcp-boot=net:lan,pxelinux.0,,192.168.1.5 # bootp server\n"
                            "bootp-dynamic=lan\n");
    EXPECT_NE(
        out.err.find(
            "Duplicate static IP detected, IP address '192.168.1.20' for 'copier' is ignored."),
        std::string::npos)
        << out.err;
    EXPECT_NE(
        out.err.find(
            "Duplicate static IP detected, IP address '192.168.1.21' for 'aa:bb:cc:dd:ee:04' is "
            "ignored."),
        std::string::npos)
        << out.err;
}

TEST(DnsmasqInterface, BootSettingsAlone)
{
    auto out = generate(with_interfaces(
        static_interface("pxe", "eth0", "192.168.1.1/24",
                         plain_server + R"(, "advanced": {"tftp_server": "192.168.1.5"})") +
        "," +
        static_interface("lab", "eth1", "192.168.2.1/24",
                         plain_server + R"(, "advanced": {"bootfile": "pxelinux.0"})") +
        "," +
        // A Windows boot path: dnsmasq reads backslashes only inside quotes.
        static_interface("wds", "eth2", "192.168.3.1/24",
                         plain_server + R"(, "advanced": {"bootfile": "boot\\x64\\wdsnbp.com"})")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf,
              defaults + block_header("pxe") + "dhcp-range=pxe,192.168.1.100,192.168.1.199,600s\n" +
                  auto_options("pxe") +
                  "dhcp-option=net:pxe,66,192.168.1.5 # tftp server\n"
                  "dhcp-boot=net:pxe,,,192.168.1.5 # bootp server\n" +
                  block_header("lab") + "dhcp-range=lab,192.168.2.100,192.168.2.199,600s\n" +
                  auto_options("lab") + "dhcp-boot=net:lab,pxelinux.0 # bootp server\n" +
                  block_header("wds") + "dhcp-range=wds,192.168.3.100,192.168.3.199,600s\n" +
                  auto_options("wds") +
                  "dhcp-boot=net:wds,\"boot\\\\x64\\\\wdsnbp.com\" # bootp server\n");
}

// An interface key of hexadecimal digits only would read as an address in
// the range line's first field.
TEST(DnsmasqInterface, HexLookingInterfaceNameStillGivesValidRanges)
{
    auto out = generate(
        with_interfaces(static_interface("cafe", "eth0", "192.168.1.1/24", plain_server) + "," +
                        R"("beef": {"device": "/network/device/eth1", "ipv4": {"enable": false},
                    "ipv6": {"enable": true, "type": "prefix_delegation", "dhcpv6_server": {"enable": true}}})"));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + block_header("cafe") +
                            "dhcp-range=set:cafe,192.168.1.100,192.168.1.199,600s\n" +
                            auto_options("cafe") + block_header("beef") +
                            "dhcp-range=set:beef,::,constructor:eth1,ra-stateless\n");
}

TEST(DnsmasqInterface, CustomGatewayWithoutAddressIsLeftOut)
{
    auto out = generate(with_interfaces(static_interface(
        "lan", "eth0", "192.168.1.1/24",
        plain_server + R"(, "advanced": {"gateway": "custom", "primary_dns": "custom"})")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + block_header("lan") +
                            "dhcp-range=lan,192.168.1.100,192.168.1.199,600s\n"
                            "dhcp-option=net:lan,3 # gateway address\n"
                            "dhcp-option=net:lan,6,0.0.0.0 # dns server\n"
                            "dhcp-option=net:lan,option:ntp-server,0.0.0.0,0.0.0.0 # ntp server\n"
                            "dhcp-option=net:lan,44,0.0.0.0,0.0.0.0 # wins server\n");
    EXPECT_NE(out.err.find("gateway_custom"), std::string::npos) << out.err;
}

TEST(DnsmasqInterface, RelayWhenServerIsOff)
{
    auto out = generate(with_interfaces(
        static_interface("lan", "eth0", "192.168.2.1/24", R"("enable": false)",
                         R"(, "dhcp_relay": [{"address": "10.0.0.1"}, {"address": "10.0.0.2"}])") +
        "," + static_interface("quiet", "eth1", "192.168.3.1/24", R"("enable": false)")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults +
                            "dhcp-relay=192.168.2.1,10.0.0.1\n"
                            "dhcp-relay=192.168.2.1,10.0.0.2\n");
}

TEST(DnsmasqInterface, PassthroughAndHotspotKeepDnsmasqOffTheirDevice)
{
    auto out = generate(
        with_interfaces(static_interface("lan", "eth0", "192.168.1.1/24", plain_server) + "," +
                        // Shares eth2 with the passthrough interface: no DHCP there.
                        static_interface("mgmt", "eth2", "192.168.9.1/24", plain_server,
                                         R"(, "dhcp_relay": [{"address": "10.0.0.1"}])") +
                        "," + R"("pt": {"type": "passthrough", "device": "/network/device/eth2"},
                 "hs": {"type": "hotspot", "device": "/network/device/eth3"})"));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf,
              defaults + block_header("lan") + "dhcp-range=lan,192.168.1.100,192.168.1.199,600s\n" +
                  auto_options("lan") + "except-interface=eth2\n" + "except-interface=eth3\n");
}

TEST(DnsmasqInterface, DelegatedPrefixGetsStatelessRange)
{
    auto out = generate(with_interfaces(
        R"("lan": {"device": "/network/device/eth1", "ipv4": {"enable": false},
                   "ipv6": {"enable": true, "type": "prefix_delegation", "dhcpv6_server": {"enable": true}}},
           "off": {"device": "/network/device/eth2", "ipv4": {"enable": false},
                   "ipv6": {"enable": true, "type": "prefix_delegation", "dhcpv6_server": {"enable": false}}})"));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf,
              defaults + block_header("lan") + "dhcp-range=lan,::,constructor:eth1,ra-stateless\n");
}

// Configured text reaches the file only on its own line: a line break must
// not let a value add a directive of its own.
TEST(DnsmasqSafety, LineBreaksInInterfaceValuesAddNoDirective)
{
    auto out = generate(
        with_interfaces(static_interface("lan", "eth0", "192.168.1.1/24", plain_server + R"(,
      "advanced": {
        "domain_suffix": "lan.example\nserver=203.0.113.66",
        "custom_option": [
          {"enable": true, "option": 252, "datatype": "str", "value_str": "x\"\ndhcp-option=6,203.0.113.66"},
          {"enable": true, "option": 15, "datatype": "str", "value_str": "ok", "name": "fine\nserver=203.0.113.66"}
        ]})")));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + block_header("lan") +
                            "dhcp-range=lan,192.168.1.100,192.168.1.199,600s\n" +
                            auto_options("lan") + "dhcp-option=net:lan,15,\"ok\"\n");
    EXPECT_EQ(
        out.err,
        "config map dnsmasq: Ignoring network.interface.lan.ipv4.dhcp_server.advanced.domain_suffix: the "
        "value holds a line break\n"
        "config map dnsmasq: Ignoring network.interface.lan.ipv4.dhcp_server.advanced.custom_option.0.value_str: "
        "the value holds a line break\n"
        "config map dnsmasq: Ignoring network.interface.lan.ipv4.dhcp_server.advanced.custom_option.1.name: the "
        "value holds a line break\n");
}

// The example exercises every node kind: bridges, VLANs, bonds, modems,
// tunnels and passthrough next to the DHCP interfaces.
TEST(DnsmasqInterface, ExampleConfigurationIsAcceptedByTheDaemon)
{
    std::ifstream in(std::string(EXAMPLES_DIR) + "/office.json");
    std::string config((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(config.empty());
    auto out = generate(config);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.conf.find("\ndhcp-range=lan,::,constructor:br_lan,ra-stateless\n"),
              std::string::npos)
        << out.conf;
    EXPECT_NE(out.conf.find("\nexcept-interface=eth5\n"), std::string::npos) << out.conf;
}

}  // namespace
