// The network model built from configurations: the relations every
// generator relies on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "network.h"
#include "quill.h"
#include "unit_support.h"

namespace {

unique_config load_file(const std::string &path)
{
    config_file_record files{};
    files.config_file = path.c_str();
    files.schema_file = "";
    files.baked_file = "";
    return unique_config(config_load_file(&files));
}

using unit::load_config_text;

std::vector<std::string> names(network_node *subtree, int kind)
{
    std::vector<std::string> out;
    for (network_node *n = network_first_type(subtree, kind); n;
         n = network_next_type(subtree, n, kind))
        out.push_back(network_name(n));
    return out;
}

network_node *device_named(network_t *model, const std::string &name)
{
    for (network_node *n = network_first_type(model, NETWORK_NODE_DEVICE); n;
         n = network_next_type(model, n, NETWORK_NODE_DEVICE))
        if (name == network_name(n))
            return n;
    return nullptr;
}

class Office : public ::testing::Test {
protected:
    void SetUp() override
    {
        config = load_file(std::string(EXAMPLES_DIR) + "/office.json");
        ASSERT_TRUE(config);
        model.reset(network_load(config.get()));
        ASSERT_TRUE(model);
    }
    config_node *cfg(const char *path) { return config_lookup(config.get(), path); }
    unique_config config;
    unique_network model;
};

TEST_F(Office, ExampleHasEveryKindAndType)
{
    std::set<int> kinds, devices, interfaces;
    kinds.insert(network_type(model.get()));
    for (int kind = 0; kind <= NETWORK_NODE_MODEM; kind++)
        for (network_node *n = network_first_type(model.get(), kind); n;
             n = network_next_type(model.get(), n, kind)) {
            kinds.insert(network_type(n));
            if (kind == NETWORK_NODE_DEVICE)
                devices.insert(network_device_type(n));
            if (kind == NETWORK_NODE_INTERFACE || kind == NETWORK_NODE_PROTO)
                interfaces.insert(network_interface_type(n));
        }
    EXPECT_EQ(kinds, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(devices, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}));
    EXPECT_EQ(interfaces,
              (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 19}));
}

TEST_F(Office, BridgePortsAndStackedDevices)
{
    network_node *lan = network_find_device(model.get(), cfg("network.bridge.lan"));
    ASSERT_TRUE(lan);
    EXPECT_STREQ(network_name(lan), "br_lan");
    EXPECT_EQ(network_device_type(lan), NETWORK_DEVICE_BRIDGE);
    EXPECT_EQ(names(lan, NETWORK_NODE_BRIDGE_PORT),
              (std::vector<std::string>{"eth1", "eth2", "wlan0"}));
    network_node *port = network_first_type(lan, NETWORK_NODE_BRIDGE_PORT);
    EXPECT_STREQ(network_key(port), "network.device.eth1");
    EXPECT_EQ(network_config(port), cfg("network.device.eth1"));
    // Devices stacked on the bridge and the interfaces over them.
    EXPECT_EQ(names(lan, NETWORK_NODE_DEVICE),
              (std::vector<std::string>{"br_lan.10", "vrrp_lan_vip"}));
    std::vector<std::string> ifaces;
    for (network_node *n = network_first_type(lan, NETWORK_NODE_INTERFACE); n;
         n = network_next_type(lan, n, NETWORK_NODE_INTERFACE))
        ifaces.push_back(network_interface_name(n));
    EXPECT_EQ(ifaces, (std::vector<std::string>{"guest", "lan"}));
    network_node *vlan = network_find_device(model.get(), cfg("network.vlan.guest"));
    EXPECT_EQ(network_find_parent(vlan, NETWORK_NODE_DEVICE), lan);
    EXPECT_EQ(network_find_parent(vlan, NETWORK_NODE_ROOT), model.get());
    EXPECT_EQ(network_find_parent(model.get(), NETWORK_NODE_ROOT), nullptr);
}

TEST_F(Office, ProtocolNodesOfAnInterface)
{
    network_node *v4 = network_find_proto(model.get(), cfg("network.interface.lan"), "ipv4");
    network_node *v6 = network_find_proto(model.get(), cfg("network.interface.lan"), "ipv6");
    ASSERT_TRUE(v4 && v6);
    EXPECT_EQ(network_interface_type(v4), NETWORK_INTERFACE_STATIC);
    EXPECT_EQ(network_interface_type(v6), NETWORK_INTERFACE_PREFIX_DELEGATION);
    EXPECT_STREQ(network_interface_name(v4), "ipv4_lan");
    EXPECT_STREQ(network_interface_name(v6), "ipv6_lan");
    EXPECT_STREQ(network_name(v4), "lan");
    EXPECT_EQ(network_config(v4), cfg("network.interface.lan.ipv4"));
    network_node *iface = network_find_parent(v4, NETWORK_NODE_INTERFACE);
    EXPECT_EQ(network_config(iface), cfg("network.interface.lan"));
    EXPECT_STREQ(network_name(network_find_parent(v4, NETWORK_NODE_DEVICE)), "br_lan");
    // Protocol nodes of one interface only; none for an interface without.
    EXPECT_EQ(network_next_type(iface, v6, NETWORK_NODE_PROTO), nullptr);
    EXPECT_EQ(network_find_proto(model.get(), cfg("network.interface.dsl"), "ipv4"), nullptr);
    EXPECT_EQ(network_find_proto(model.get(), cfg("network.interface.wan"), "ipv6") != nullptr,
              true);
    EXPECT_EQ(network_find_proto(model.get(), nullptr, "ipv4"), nullptr);
}

TEST_F(Office, BondSlavesAndPrimaryLookup)
{
    network_node *bond = network_find_device(model.get(), cfg("network.bond.servers"));
    ASSERT_TRUE(bond);
    EXPECT_EQ(names(bond, NETWORK_NODE_BOND_SLAVE), (std::vector<std::string>{"eth3", "eth4"}));
    network_node *slave = network_find(bond, NETWORK_NODE_BOND_SLAVE, cfg("network.device.eth4"));
    ASSERT_TRUE(slave);
    EXPECT_STREQ(network_name(slave), "eth4");
    EXPECT_EQ(network_find(bond, NETWORK_NODE_BOND_SLAVE, cfg("network.device.eth1")), nullptr);
    // The port node is not the device: the device lookup gives the device.
    EXPECT_EQ(network_type(network_find_device(model.get(), cfg("network.device.eth4"))),
              NETWORK_NODE_DEVICE);
}

TEST_F(Office, ModemsRadiosNamespacesAndTunnels)
{
    network_node *iface = nullptr;
    for (network_node *n = network_first_type(model.get(), NETWORK_NODE_INTERFACE); n;
         n = network_next_type(model.get(), n, NETWORK_NODE_INTERFACE))
        if (network_interface_type(n) == NETWORK_INTERFACE_MODEM)
            iface = n;
    ASSERT_TRUE(iface);
    network_node *modem = network_find_parent(iface, NETWORK_NODE_MODEM);
    ASSERT_TRUE(modem);
    EXPECT_EQ(network_config(modem), cfg("network.modem.lte"));
    EXPECT_EQ(network_first(modem), iface);
    EXPECT_EQ(network_next_child(iface), nullptr);

    network_node *wlan = device_named(model.get(), "wlan0");
    ASSERT_TRUE(wlan);
    EXPECT_EQ(network_device_type(wlan), NETWORK_DEVICE_WLAN);
    EXPECT_EQ(network_config(network_find_parent(wlan, NETWORK_NODE_RADIO)),
              cfg("network.radio.radio0"));
    network_node *veth = device_named(model.get(), "veth_monitor");
    ASSERT_TRUE(veth);
    EXPECT_STREQ(network_key(network_find_parent(veth, NETWORK_NODE_NAMESPACE)), "apps");

    network_node *tunnel = network_find_device(model.get(), cfg("vpn.ipsec.tunnel.branch"));
    ASSERT_TRUE(tunnel);
    EXPECT_STREQ(network_name(tunnel), "ipsec1");
    network_node *ti = network_first_type(tunnel, NETWORK_NODE_INTERFACE);
    EXPECT_EQ(network_interface_type(ti), NETWORK_INTERFACE_IPSEC);
    EXPECT_EQ(network_config(ti), cfg("vpn.ipsec.tunnel.branch"));
    EXPECT_EQ(network_find_device(network_find_parent(ti, NETWORK_NODE_ROOT), network_config(ti)),
              tunnel);

    network_node *vpn = network_find_device(model.get(), cfg("vpn.openvpn.client.hq"));
    ASSERT_TRUE(vpn);
    EXPECT_EQ(network_device_type(vpn), NETWORK_DEVICE_OPENVPN);
    EXPECT_EQ(network_interface_type(network_first(vpn)), NETWORK_INTERFACE_OPENVPN);
    EXPECT_EQ(
        network_device_type(network_find_device(model.get(), cfg("vpn.l2tpeth.pw.session.s1"))),
        NETWORK_DEVICE_L2TPETH);
}

TEST(Model, ChildrenInOrderAndWalksStayInTheirSubtree)
{
    unique_config c = load_config_text(R"({"network": {
        "device": {"eth0": {}, "eth1": {}},
        "interface": {"a": {"device": "/network/device/eth0"}, "b": {"device": "/network/device/eth1"},
                      "c": {"device": "/network/device/eth0"}, "d": {}}}})");
    ASSERT_TRUE(c);
    unique_network m(network_load(c.get()));
    ASSERT_TRUE(m);
    std::vector<std::string> top;
    for (network_node *n = network_first(m.get()); n; n = network_next_child(n))
        top.push_back(network_name(n));
    EXPECT_EQ(top, (std::vector<std::string>{"eth0", "eth1", "d"}));
    EXPECT_EQ(names(m.get(), NETWORK_NODE_INTERFACE),
              (std::vector<std::string>{"a", "c", "b", "d"}));
    network_node *eth0 = network_first(m.get());
    EXPECT_EQ(names(eth0, NETWORK_NODE_INTERFACE), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(network_first_type(eth0, NETWORK_NODE_DEVICE), nullptr);
    EXPECT_EQ(network_first_type(m.get(), 42), nullptr);
    EXPECT_EQ(network_first_type(nullptr, NETWORK_NODE_DEVICE), nullptr);
}

TEST(Model, LongNamesAreShortenedAndStayDistinct)
{
    unique_config c = load_config_text(R"({"network": {
        "device": {"eth0": {}},
        "macsec": {"backbone_link_long_a": {}, "backbone_link_long_b": {}},
        "vlan": {"v": {"device": "/network/bridge/office_floor_one", "vid": 4000}},
        "bridge": {"office_floor_one": {}}}})");
    ASSERT_TRUE(c);
    unique_network m(network_load(c.get()));
    std::set<std::string> seen;
    for (network_node *n = network_first_type(m.get(), NETWORK_NODE_DEVICE); n;
         n = network_next_type(m.get(), n, NETWORK_NODE_DEVICE)) {
        std::string name = network_name(n);
        EXPECT_LE(name.size(), 15u) << name;
        EXPECT_TRUE(seen.insert(name).second) << name;
    }
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen.count("eth0"));
    network_node *a =
        network_find_device(m.get(), config_lookup(c.get(), "network.macsec.backbone_link_long_a"));
    EXPECT_EQ(std::string(network_name(a)).substr(0, 11), "macsec_back");
}

TEST(Model, DanglingDeviceReferences)
{
    // A VLAN on a missing device is left out, and an interface on it sits
    // under the root.
    unique_config c = load_config_text(R"({"network": {
        "vlan": {"v": {"device": "/network/device/nope", "vid": 5}},
        "interface": {"x": {"device": "/network/vlan/v"}, "y": {"device": "garbage"}}}})");
    ASSERT_TRUE(c);
    unique_network m(network_load(c.get()));
    EXPECT_EQ(network_first_type(m.get(), NETWORK_NODE_DEVICE), nullptr);
    EXPECT_EQ(names(m.get(), NETWORK_NODE_INTERFACE), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(network_load(nullptr), nullptr);
    network_free(nullptr);
}

}  // namespace
