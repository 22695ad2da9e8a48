// `config map network` end to end: whole files compared with the text the
// network daemon must get.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e_helpers.h"

using namespace nettest;

namespace {

TEST(MapNetwork, NewDeviceWritesOnlyGlobals)
{
    nsrun::Spec extra;
    extra.has_config = false;
    expect_file("", R"(
config globals globals
)",
                {}, extra);
}

TEST(MapNetwork, LanBridgeWanDhcpAndRoutes)
{
    expect_file(R"({
  "system": {"name": "gw"},
  "network": {
    "advanced": {"ula_prefix": "fd00:1::/48"},
    "device": {"eth0": {}, "eth1": {}, "eth2": {}},
    "bridge": {"lan": {"device": ["/network/device/eth1", "/network/device/eth2"],
                       "stp": {"enable": true, "forward_delay": 4}}},
    "interface": {
      "lan": {"device": "/network/bridge/lan",
              "ipv4": {"type": "static", "address": "192.168.1.1/24", "gateway": "192.168.1.254",
                       "dns": ["1.1.1.1", "9.9.9.9"]}},
      "wan": {"device": "/network/device/eth0",
              "ipv4": {"type": "dhcp", "metric": 10},
              "ipv6": {"enable": true, "type": "dhcpv6"}}
    },
    "route": {"static": [
      {"dst": "10.0.0.0/8", "gateway": "192.168.1.2", "interface": "/network/interface/lan"},
      {"dst": "10.1.2.3/32", "interface": "/network/interface/wan"},
      {"enable": false, "dst": "10.9.0.0/16", "interface": "/network/interface/lan"}
    ]}
  }
})",
                R"(
config globals globals
    option ula_prefix "fd00:1::/48"

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface link_eth_eth1
    option proto "link"
    option ifname "eth1"

config interface link_eth_eth2
    option proto "link"
    option ifname "eth2"

config device
    option name "br_lan"
    option type "bridge"
    option bridge_empty 1
    option stp 1
    option forward_delay 4
    option ifname "eth1 eth2"

config interface ipv4_wan
    option ifname "eth0"
    option metric 10
    option mtu 1500
    option reqopts "mtu"
    option hostname "gw"
    option dhcp_hostname 1
    option proto "dhcp"

config interface ipv6_wan
    option ifname "eth0"
    option mtu 1500
    option reqopts "mtu"
    option hostname "gw"
    option dhcp_hostname 1
    option proto "dhcpv6"
    option sourcerouting 0

config interface ipv4_lan
    option proto "static"
    option ifname "br_lan"
    option ipaddr "192.168.1.1"
    option netmask "24"
    option gateway "192.168.1.254"
    option dns "1.1.1.1 9.9.9.9"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config route
    option target "10.0.0.0"
    option netmask 8
    option interface "ipv4_lan"
    option source "192.168.1.1"
    option gateway "192.168.1.2"
    option onlink 0
    option metric 0

config route
    option target "10.1.2.3"
    option interface "ipv4_wan"
    option metric 0
)");
}

TEST(MapNetwork, VlanSectionForEveryMappedNode)
{
    // The interface itself and each of its protocol nodes get the VLAN
    // section; the IPv6 node's is vlan6.
    expect_file(R"({
  "system": {"name": "gw"},
  "network": {
    "device": {"eth0": {}},
    "vlan": {"v100": {"device": "/network/device/eth0", "vid": 100}},
    "interface": {"office": {"device": "/network/vlan/v100",
                             "ipv4": {"type": "static", "address": "10.1.0.1"},
                             "ipv6": {"enable": true, "type": "dhcpv6"}}}
  }
})",
                R"(
config globals globals

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface vlan4_eth0_100
    option ifname "eth0"
    option proto "vlan"
    option vid "100"
    option name "office"

config interface vlan4_eth0_100
    option ifname "eth0"
    option proto "vlan"
    option vid "100"
    option name "ipv4_office"

config interface ipv4_office
    option proto "static"
    option ifname "eth0.100"
    option ipaddr "10.1.0.1"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config interface vlan6_eth0_100
    option ifname "eth0"
    option proto "vlan"
    option vid "100"
    option name "ipv6_office"

config interface ipv6_office
    option ifname "eth0.100"
    option mtu 1500
    option reqopts "mtu"
    option hostname "gw"
    option dhcp_hostname 1
    option proto "dhcpv6"
    option sourcerouting 0
)");
}

TEST(MapNetwork, BridgesSwitchModeTapsAndAutomaticMac)
{
    // eth1, the first configured port of lan, has no readable address, so
    // the bridge takes eth2's.
    nsrun::Spec extra;
    extra.tmpfs = {"/sys/class/net"};
    extra.files = {{"/sys/class/net/eth2/address", "02:00:00:00:00:02\n"},
                   {"/sys/class/net/eth3/address", "02:00:00:00:00:03\n"}};
    expect_file(R"({
  "network": {
    "device": {"eth1": {}, "eth2": {}, "eth3": {}, "wlan0": {"type": "wlan", "mode": "client"}},
    "bridge": {
      "lan": {"device": ["/network/device/eth1", "/network/device/eth2"], "auto_mac_assignment": true},
      "wifi": {"device": ["/network/device/wlan0"]},
      "sw": {"mode": "switch", "device": ["/network/device/eth3"], "auto_mac_assignment": true,
             "stp": {"enable": true, "forward_delay": 15}},
      "off": {"enable": false, "device": ["/network/device/eth3"]}
    }
  }
})",
                R"(
config globals globals

config interface link_eth_eth1
    option proto "link"
    option ifname "eth1"

config interface link_eth_eth2
    option proto "link"
    option ifname "eth2"

config interface link_eth_eth3
    option proto "link"
    option ifname "eth3"

config device
    option name "br_lan"
    option type "bridge"
    option bridge_empty 1
    option stp 0
    option ifname "eth1 eth2"
    option macaddr "02:00:00:00:00:02"

config interface link_bridge_lan
    option proto "link"
    option ifname "br_lan"

config interface tap_br_wifi_wlan0
    option proto "wlan_tap"
    option ifname "wlan0"
    option tap "tap-wlan0"

config device
    option name "br_wifi"
    option type "bridge"
    option bridge_empty 1
    option stp 0
    option ifname "tap-wlan0"

config interface link_bridge_wifi
    option proto "link"
    option ifname "br_wifi"

config device
    option name "br_sw"
    option type "bridge"
    option bridge_empty 1
    option stp 1
    option forward_delay 15
    option vlan_filtering 1

config interface link_bridge_sw
    option proto "link"
    option ifname "br_sw"
)",
                {}, extra);
}

TEST(MapNetwork, BondModesAndMissingPrimary)
{
    expect_file(R"({
  "network": {
    "device": {"eth3": {}, "eth4": {}},
    "bond": {
      "ab": {"device": ["/network/device/eth4", "/network/device/eth3"], "link_poll_interval": "250ms"},
      "rr": {"mode": "round-robin", "device": ["/network/device/eth3"], "link_poll_interval": 0},
      "lost": {"device": ["/network/device/eth9", "/network/device/eth3"]},
      "off": {"enable": false, "device": ["/network/device/eth3"]}
    }
  }
})",
                R"(
config globals globals

config interface link_eth_eth3
    option proto "link"
    option ifname "eth3"

config interface link_eth_eth4
    option proto "link"
    option ifname "eth4"

config device
    option name "bond_ab"
    option type "bond"
    option mode "active-backup"
    option ifname "eth4 eth3"
    option bond_empty 1
    option primary "eth4"
    option link_poll_interval 250

config device
    option name "bond_rr"
    option type "bond"
    option mode "balance-rr"
    option ifname "eth3"
    option bond_empty 1
)");
}

TEST(MapNetwork, MulticastRoutePerInterface)
{
    expect_file(R"({
  "network": {
    "device": {"eth0": {}},
    "interface": {
      "a": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "10.0.0.1/24"}},
      "b": {"ipv4": {"type": "static"}},
      "c": {"ipv4": {"enable": false}}
    }
  },
  "service": {"multicast": {
    "tv": {"dst": "239.0.0.0/8", "gateway": "10.0.0.9", "mtu": 1400, "metric": 3,
           "interface": ["/network/interface/a", "/network/interface/b", "/network/interface/c"]},
    "off": {"enable": false, "dst": "239.1.0.0/16", "interface": ["/network/interface/a"]}
  }}
})",
                R"(
config globals globals

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface ipv4_a
    option proto "static"
    option ifname "eth0"
    option ipaddr "10.0.0.1"
    option netmask "24"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config interface ipv4_b
    option proto "static"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config route
    option target "239.0.0.0"
    option netmask 8
    option interface "ipv4_a"
    option source "10.0.0.1"
    option gateway "10.0.0.9"
    option onlink 0
    option mtu 1400
    option metric 3

config route
    option target "239.0.0.0"
    option netmask 8
    option interface "ipv4_b"
    option gateway "10.0.0.9"
    option onlink 0
    option mtu 1400
    option metric 3

config route
    option target "239.0.0.0"
    option netmask 8
    option gateway "10.0.0.9"
    option onlink 0
    option mtu 1400
    option metric 3
)");
}

const char *passthrough_config = R"({
  "system": {"name": "gw"},
  "network": {
    "device": {"eth0": {}, "eth5": {}},
    "interface": {
      "wan": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "198.51.100.2/29"}},
      "kiosk": {"type": "passthrough", "device": "/network/device/eth5", "ipv6": {"enable": true},
                "passthrough": {"src": ["/network/interface/lte", "/network/interface/wan"],
                                "ancillary": {"enable": true, "address": "192.168.250.1/30",
                                              "gw": "192.168.250.2", "dns": true}}},
      "lte": {"ipv4": {"type": "dhcp"}}
    }
  }
})";

TEST(MapNetwork, PassthroughTakesFirstSourceThatIsUp)
{
    // lte failed its link check; wan is up.  The sources' own sections say
    // which passthrough interface uses them.
    expect_file(passthrough_config,
                R"(
config globals globals

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface link_eth_eth5
    option proto "link"
    option ifname "eth5"

config interface ipv4_wan
    option passthrough "kiosk"
    option proto "passthrough_static4"
    option ifname "eth0"
    option ipaddr "198.51.100.2"
    option netmask "29"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config interface ipv4_kiosk
    option ifname "eth5"
    option mtu 1500
    option reqopts "mtu"
    option proto "passthrough4"
    option type "dhcp"
    option service_name ""
    option ac_name ""
    option auth "none"
    option username ""
    option password ""
    option custom_enable 0
    option custom_override 0
    option custom_config_file ""
    option passthrough_src "interface_wan"
    option ipaddr "198.51.100.2"
    option netmask "255.255.255.248"
    option gateway "198.51.100.1"
    option client_mtu "1500"
    option dns_server "9.9.9.9 1.1.1.1"
    option dns_domain ""
    option ancillary_ipaddr "192.168.250.1"
    option ancillary_netmask "30"
    option ancillary_gateway "192.168.250.2"
    option ancillary_dns_redirect 1

config interface passthrough_ancillary_ipv4_kiosk
    option proto "static"
    option ifname "lo"
    option ipaddr "192.168.250.2"
    option netmask "32"

config interface ipv4_lte
    option mtu 1500
    option reqopts "mtu"
    option hostname "gw"
    option dhcp_hostname 1
    option passthrough "kiosk"
    option proto "dhcp"
)",
                {{"vigilo.ipv4_interface_lte.passed", "no"},
                 {"network.interface.lte.ipv4.up", "1"},
                 {"network.interface.wan.ipv4.up", "1"},
                 {"network.interface.wan.ipv4.address", "198.51.100.2"},
                 {"network.interface.wan.ipv4.netmask", "255.255.255.248"},
                 {"network.interface.wan.ipv4.gateway", "198.51.100.1"},
                 // natural order: 2 before 10
                 {"network.interface.wan.ipv4.dns.10", "1.1.1.1"},
                 {"network.interface.wan.ipv4.dns.2", "9.9.9.9"}});
}

TEST(MapNetwork, PassthroughWithoutSourceOrAncillaryWritesNothing)
{
    expect_file(R"({
  "network": {
    "device": {"eth5": {}},
    "interface": {"wan": {"ipv4": {"enable": false}},
                  "kiosk": {"type": "passthrough", "device": "/network/device/eth5",
                            "passthrough": {"src": ["/network/interface/wan"]}}}
  }
})",
                R"(
config globals globals

config interface link_eth_eth5
    option proto "link"
    option ifname "eth5"
)");
}

TEST(MapNetwork, PppoeAndPrefixDelegation)
{
    expect_file(R"({
  "network": {
    "device": {"eth0": {}, "eth1": {}},
    "interface": {
      "dsl": {"type": "pppoe", "device": "/network/device/eth0",
              "pppoe": {"username": "u@isp", "password": "p\"w\\d", "debug": true},
              "ipv4": {"mtu": 1492, "metric": 20}, "ipv6": {"enable": true}},
      "dsl2": {"type": "pppoe", "enable": false, "device": "/network/device/eth0"},
      "lan": {"device": "/network/device/eth1", "ipv4": {"enable": false},
              "ipv6": {"enable": true, "type": "prefix_delegation", "prefix_length": 60, "prefix_id": "a",
                       "mac": "02:11:22:33:44:55"}}
    }
  }
})",
                R"(
config globals globals

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface link_eth_eth1
    option proto "link"
    option ifname "eth1"

config interface dsl
    option ifname "eth0"
    option proto "pppoe"
    option username "u@isp"
    option password "p\"w\\d"
    option debug 1
    option ipv4 1
    option mtu4 1492
    option metric4 20
    option ipv6 1
    option mtu6 1500
    option metric6 0

config interface dsl2
    option ifname "eth0"

config interface ipv6_lan
    option ifname "eth1"
    option proto "static"
    option ip6assign 60
    option ip6hint "a"
    option macaddr "02:11:22:33:44:55"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0
)");
}

// A stand-in for the management-tunnel address program.
std::string stand_in_dir(const std::string &output)
{
    char dir[] = "/tmp/nettest-XXXXXX";
    if (!mkdtemp(dir))
        return {};
    std::string path = std::string(dir) + "/tamsa_ip";
    std::ofstream(path) << "#!/bin/sh\nprintf '" << output << "'\n";
    chmod(path.c_str(), 0755);
    chmod(dir, 0755);
    return dir;
}

TEST(MapNetwork, ManagementTunnelAddressFromHelper)
{
    const char *config = R"({"network": {"interface": {"mgmt": {"type": "management"}}}})";
    nsrun::Spec extra;
    extra.path_prepend = {stand_in_dir("10.255.0.7\\n")};
    expect_file(config, R"(
config globals globals

config interface mgmt
    option proto "static"
    option ipaddr "10.255.0.7"
    option netmask "255.255.255.255"
)",
                {}, extra);

    std::filesystem::remove_all(extra.path_prepend[0]);

    // No address: not even the section header.
    extra.path_prepend = {stand_in_dir("")};
    expect_file(config, R"(
config globals globals
)",
                {}, extra);
    std::filesystem::remove_all(extra.path_prepend[0]);
}

TEST(MapNetwork, DumpPrintsTreeAndWritesNothing)
{
    run_result res = map_network(R"({"network": {"device": {"eth0": {}},
        "interface": {"wan": {"device": "/network/device/eth0", "ipv4": {"type": "dhcp"}}}}})",
                                 {}, {"--verbose", "-p"});
    EXPECT_EQ(res.r.status, 0) << res.r.err;
    EXPECT_FALSE(res.has_file);
    EXPECT_EQ(res.r.files.count(network_file + ".new"), 0u);
    EXPECT_EQ(res.r.out, R"(----------
key: ''
name: ''
type: NETWORK_NODE_ROOT
children:
| ----------
| key: 'eth0'
| name: 'eth0'
| type: NETWORK_NODE_DEVICE
| device type: NETWORK_DEVICE_ETHERNET
| config: 'network.device.eth0'
| children:
| | ----------
| | key: 'wan'
| | name: 'wan'
| | type: NETWORK_NODE_INTERFACE
| | interface type: NETWORK_INTERFACE_ETHERNET
| | interface name: 'wan'
| | config: 'network.interface.wan'
| | children:
| | | ----------
| | | key: 'ipv4'
| | | name: 'wan'
| | | type: NETWORK_NODE_PROTO
| | | interface type: NETWORK_INTERFACE_DHCP
| | | interface name: 'ipv4_wan'
| | | config: 'network.interface.wan.ipv4'
| | | ----------
| | ----------
| ----------
)");
}

TEST(MapNetwork, DeviceQuery)
{
    const char *config = R"({"network": {"device": {"eth0": {}},
        "bridge": {"lan": {"device": ["/network/device/eth0"]}},
        "vlan": {"guest": {"device": "/network/bridge/lan", "vid": 10}},
        "interface": {"wan": {"device": "/network/device/eth0"}}},
        "vpn": {"ipsec": {"tunnel": {"a": {}, "b": {}}}}})";
    struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"--device", "network.bridge.lan"}, 0, "br_lan\n", ""},
        {{"--device", "network.vlan.guest"}, 0, "br_lan.10\n", ""},
        {{"--device", "vpn.ipsec.tunnel.b"}, 0, "ipsec2\n", ""},
        {{"--device"}, 1, "", "error: expected single parameter for --device PATH\n"},
        {{"--device", "network.bridge.lan", "x"},
         1,
         "",
         "error: expected single parameter for --device PATH\n"},
        {{"--device", "network.interface.missing"}, 1, "", "error: config lookup failed\n"},
        {{"--device", "network.interface.wan"}, 1, "", "error: network node lookup failed\n"},
    };
    for (const auto &c : cases) {
        run_result res = map_network(config, {}, c.args);
        EXPECT_EQ(res.r.status, c.status) << c.args.back();
        EXPECT_EQ(res.r.out, c.out) << c.args.back();
        EXPECT_EQ(res.r.err, c.err) << c.args.back();
        EXPECT_FALSE(res.has_file);
    }
}

std::string tallo_reads(const std::vector<std::string> &keys)
{
    std::string script;
    for (const auto &k : keys)
        script += "echo \"" + k + "=$(" + nsrun::tallo_binary() + " get " + k + " 2>/dev/null)\"; ";
    return script;
}

const char *device_map_config = R"({"network": {
    "device": {"eth0": {}, "eth1": {}},
    "bridge": {"lan": {"device": ["/network/device/eth1"]}}}})";

const std::vector<std::string> device_map_keys = {
    "network.device_map.0.device", "network.device_map.0.path", "network.device_map.1.device",
    "network.device_map.2.device", "network.device_map.2.path", "network.device_map.3.device"};

const char *device_map_expected =
    "network.device_map.0.device=eth0\n"
    "network.device_map.0.path=network.device.eth0\n"
    "network.device_map.1.device=eth1\n"
    "network.device_map.2.device=br_lan\n"
    "network.device_map.2.path=network.bridge.lan\n"
    "network.device_map.3.device=\n";

TEST(MapNetwork, DeviceMapIsRenumberedFromZero)
{
    nsrun::Spec extra;
    extra.after = tallo_reads(device_map_keys);
    run_result res = map_network(
        device_map_config,
        {{"network.device_map.3.device", "stale0"}, {"network.device_map.7.device", "x"}}, {},
        extra);
    ASSERT_EQ(res.r.status, 0) << res.r.err;
    EXPECT_EQ(res.r.after, device_map_expected);
}

TEST(MapNetwork, UnwritableFileKeepsTheOldOne)
{
    // network.new is a directory here, so the new file cannot be created:
    // the old file stays, the status is 1, and the device map is still
    // refreshed.
    nsrun::Spec extra;
    extra.files = {{network_file, "\nconfig globals old\n"}, {network_file + ".new/keep", ""}};
    extra.after = tallo_reads(device_map_keys);
    run_result res = map_network(device_map_config, {}, {}, extra);
    EXPECT_EQ(res.r.status, 1);
    EXPECT_NE(res.r.err.find("cannot create /var/run/uci/network.new: Is a directory"),
              std::string::npos)
        << res.r.err;
    EXPECT_EQ(res.file, "\nconfig globals old\n");
    EXPECT_EQ(res.r.after, device_map_expected);
}

TEST(MapNetwork, FullDiskKeepsTheOldFile)
{
    // The run directory fills up halfway through the file: the partial file
    // must not replace the working one.
    std::string devices;
    for (int i = 0; i < 200; i++)
        devices += std::string(i ? "," : "") + "\"eth" + std::to_string(i) + "\": {}";
    nsrun::Spec spec;
    spec.program = "/bin/sh";
    spec.args = {"-c",
                 "mkdir -p /var/run/uci && mount -t tmpfs -o size=8k full /var/run/uci && "
                 "printf old > /var/run/uci/network && exec " +
                     nsrun::config_binary() + " map network"};
    spec.config_json = "{\"network\": {\"device\": {" + devices + "}}}";
    spec.collect = {network_file, network_file + ".new"};
    nsrun::Result r = nsrun::run(spec);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write /var/run/uci/network.new: No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.files[network_file], "old");
    EXPECT_EQ(r.files.count(network_file + ".new"), 0u);
}

TEST(MapNetwork, ExampleConfigurationParses)
{
    std::ifstream in(std::string(EXAMPLES_DIR) + "/office.json");
    std::string config((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(config.empty());
    run_result res = map_network(config);
    ASSERT_EQ(res.r.status, 0) << res.r.err;
    uci::result parsed = uci::parse(res.file);
    EXPECT_EQ(parsed.error, "");
    EXPECT_GT(parsed.sections.size(), 20u);
}

}  // namespace
