// What configured text can do to the network file: keys that UCI would not
// take as names, two keys that meet in one name, values built to end their
// quotes or lines, and the file's mode and failures.
#include <gtest/gtest.h>

#include <string>

#include "e2e_helpers.h"

using namespace nettest;

namespace {

// Keys may hold '-', which UCI refuses in a name; it becomes '_' wherever
// a key or a device name becomes part of a section name, also where an
// option names the section (the route's interface).  Device names keep it.
// A VLAN on a VLAN (eth-0.7.100) has its id after the last dot.
TEST(NetworkNames, DashedKeysAndVlanOnVlan)
{
    expect_file(R"({
  "network": {
    "device": {"eth-0": {}},
    "vlan": {"v7": {"device": "/network/device/eth-0", "vid": 7},
             "v100": {"device": "/network/vlan/v7", "vid": 100}},
    "bridge": {"my-br": {}},
    "interface": {"my-lan": {"device": "/network/vlan/v100",
                             "ipv4": {"type": "static", "address": "10.0.0.1/24"}}},
    "route": {"static": [{"dst": "10.9.0.0/16", "gateway": "10.0.0.2",
                          "interface": "/network/interface/my-lan"}]}
  }
})",
                R"(
config globals globals

config interface link_eth_eth_0
    option proto "link"
    option ifname "eth-0"

config device
    option name "br_my-br"
    option type "bridge"
    option bridge_empty 1
    option stp 0
    option ifname ""

config interface link_bridge_my_br
    option proto "link"
    option ifname "br_my-br"

config interface vlan4_eth_0_7_100
    option ifname "eth-0.7"
    option proto "vlan"
    option vid "100"
    option name "my_lan"

config interface vlan4_eth_0_7_100
    option ifname "eth-0.7"
    option proto "vlan"
    option vid "100"
    option name "ipv4_my_lan"

config interface ipv4_my_lan
    option proto "static"
    option ifname "eth-0.7.100"
    option ipaddr "10.0.0.1"
    option netmask "24"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0

config route
    option target "10.9.0.0"
    option netmask 16
    option interface "ipv4_my_lan"
    option source "10.0.0.1"
    option gateway "10.0.0.2"
    option onlink 0
    option metric 0
)");
}

// "my-lan" and "my_lan" would both be ipv4_my_lan, and UCI would merge the
// two into one interface.  The first keeps the name; the second is left out
// whole, and the message names both configuration paths.
TEST(NetworkNames, TwoKeysOneNameKeepTheFirst)
{
    run_result res = map_network(R"({
  "network": {
    "device": {"eth0": {}, "eth1": {}},
    "interface": {"my-lan": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "10.0.0.1"}},
                  "my_lan": {"device": "/network/device/eth1", "ipv4": {"type": "dhcp"}}}
  }
})");
    ASSERT_EQ(res.r.status, 0) << res.r.err;
    EXPECT_EQ(res.file, uci_text(R"(
config globals globals

config interface link_eth_eth0
    option proto "link"
    option ifname "eth0"

config interface link_eth_eth1
    option proto "link"
    option ifname "eth1"

config interface ipv4_my_lan
    option proto "static"
    option ifname "eth0"
    option ipaddr "10.0.0.1"
    option mtu 1500
    option reqopts "mtu"
    option force_link 0
)"));
    EXPECT_EQ(
        res.r.err,
        "config map network: network.interface.my_lan.ipv4: section name ipv4_my_lan is already "
        "used by network.interface.my-lan.ipv4; section left out\n");
}

// Every character that could end a quoted value or a line: the escape
// table keeps them inside the quotes; a carriage return, which UCI cannot
// escape, leaves its option out, naming the path and not the value.
TEST(NetworkValues, PayloadsStayInsideTheirOption)
{
    std::string user = "a\nb\"c'd\\e f]g$(id)`id`";
    run_result res = map_network(R"({
  "network": {
    "interface": {"wan": {"type": "pppoe",
                          "pppoe": {"username": )" +
                                 nsrun::json_string(user) + R"(, "password": "hunter\r2"}}}
  }
})");
    ASSERT_EQ(res.r.status, 0) << res.r.err;
    EXPECT_EQ(res.file, uci_text(R"(
config globals globals

config interface wan
    option proto "pppoe"
    option username "a\\nb\"c'd\\e f]g$(id)`id`"
    option debug 0
    option ipv4 1
    option mtu4 1500
    option metric4 0
    option ipv6 0
    option mtu6 1500
    option metric6 0
)"));
    uci::result parsed = uci::parse(res.file);
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.sections.size(), 2u);
    EXPECT_EQ(parsed.sections[1].options[1].value, "a\\nb\"c'd\\e f]g$(id)`id`");
    EXPECT_EQ(res.r.err,
              "config map network: network.interface.wan.pppoe.password holds a carriage return; "
              "option password left out\n");
}

// The file holds passwords and keys: owner only, whatever the umask.
TEST(NetworkFile, PrivateUnderAnyUmask)
{
    nsrun::Spec spec;
    spec.program = "/bin/sh";
    spec.args = {"-c", "umask 000 && exec " + nsrun::config_binary() + " map network"};
    spec.config_json =
        R"({"network": {"interface": {"wan": {"type": "pppoe", "pppoe": {"password": "x"}}}}})";
    spec.files = {{network_file, "old"}};
    spec.collect = {network_file, "/var/run/uci"};
    nsrun::Result r = nsrun::run(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.modes[network_file], 0600u);
    EXPECT_EQ(r.modes["/var/run/uci"], 0755u);
}

// The device map is refreshed as one edit group; when the runtime store
// cannot take it, the run says so and ends with status 1 (the file itself
// is still replaced: it does not depend on the map).
TEST(NetworkFile, DeviceMapFailureIsReported)
{
    nsrun::Spec extra;
    extra.env = {{"TALLO_DB", "/var/run"}};
    run_result res = map_network(R"({"network": {"device": {"eth0": {}}}})", {}, {}, extra);
    EXPECT_EQ(res.r.status, 1);
    EXPECT_NE(
        res.r.err.find("cannot refresh the device map network.device_map in the runtime store"),
        std::string::npos)
        << res.r.err;
    EXPECT_NE(res.file.find("link_eth_eth0"), std::string::npos);
}

}  // namespace
