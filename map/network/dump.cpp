#include "dump.h"

#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace {

const char *const node_names[] = {
    "NETWORK_NODE_ROOT",       "NETWORK_NODE_NAMESPACE", "NETWORK_NODE_DEVICE",
    "NETWORK_NODE_INTERFACE",  "NETWORK_NODE_PROTO",     "NETWORK_NODE_BRIDGE_PORT",
    "NETWORK_NODE_BOND_SLAVE", "NETWORK_NODE_RADIO",     "NETWORK_NODE_MODEM",
};

// Value 12 is unused by the model and has no name.
const char *const device_names[] = {
    "NETWORK_DEVICE_LOOPBACK",
    "NETWORK_DEVICE_ETHERNET",
    "NETWORK_DEVICE_VNET",
    "NETWORK_DEVICE_WLAN",
    "NETWORK_DEVICE_VLAN",
    "NETWORK_DEVICE_BRIDGE",
    "NETWORK_DEVICE_BOND",
    "NETWORK_DEVICE_OPENVPN",
    "NETWORK_DEVICE_IPSEC",
    "NETWORK_DEVICE_IPTUNNEL",
    "NETWORK_DEVICE_VRRP",
    "NETWORK_DEVICE_L2TPETH",
    nullptr,
    "NETWORK_DEVICE_MACSEC",
};

// Values 16 and 18 are unused by the model and have no name.
const char *const interface_names[] = {
    "NETWORK_INTERFACE_ETHERNET",
    "NETWORK_INTERFACE_STATIC",
    "NETWORK_INTERFACE_DHCP",
    "NETWORK_INTERFACE_DHCPV6",
    "NETWORK_INTERFACE_PREFIX_DELEGATION",
    "NETWORK_INTERFACE_VELMO",
    "NETWORK_INTERFACE_MODEM",
    "NETWORK_INTERFACE_DIALIN",
    "NETWORK_INTERFACE_NEMO",
    "NETWORK_INTERFACE_OPENVPN",
    "NETWORK_INTERFACE_IPSEC",
    "NETWORK_INTERFACE_PPPOE",
    "NETWORK_INTERFACE_PASSTHROUGH",
    "NETWORK_INTERFACE_PASSTHROUGH4",
    "NETWORK_INTERFACE_PASSTHROUGH6",
    "NETWORK_INTERFACE_HOTSPOT",
    nullptr,
    "NETWORK_INTERFACE_PPPOL2TP",
    nullptr,
    "NETWORK_INTERFACE_PPP_DIALIN",
};

template <size_t N>
const char *lookup(const char *const (&names)[N], int value)
{
    if (value < 0 || static_cast<size_t>(value) >= N || !names[value])
        return "???";
    return names[value];
}

}  // namespace

extern "C" {

const char *network_node_type_name(int kind) { return lookup(node_names, kind); }
const char *network_device_type_name(int type) { return lookup(device_names, type); }
const char *network_interface_type_name(int type) { return lookup(interface_names, type); }

void network_dump_line(int depth, const char *fmt, ...)
{
    for (int i = 0; i < depth; i++)
        std::fputs("| ", stdout);
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
}

void network_dump(network_node *node, int depth)
{
    network_dump_line(depth, "----------\n");
    network_dump_line(depth, "key: '%s'\n", network_key(node));
    network_dump_line(depth, "name: '%s'\n", network_name(node));
    int kind = network_type(node);
    if (kind == NETWORK_NODE_DEVICE) {
        network_dump_line(depth, "type: %s\n", "NETWORK_NODE_DEVICE");
        network_dump_line(depth, "device type: %s\n",
                          network_device_type_name(network_device_type(node)));
    } else if (kind == NETWORK_NODE_INTERFACE || kind == NETWORK_NODE_PROTO) {
        network_dump_line(depth, "type: %s\n", network_node_type_name(kind));
        network_dump_line(depth, "interface type: %s\n",
                          network_interface_type_name(network_interface_type(node)));
        network_dump_line(depth, "interface name: '%s'\n", network_interface_name(node));
    } else {
        network_dump_line(depth, "type: %s\n", network_node_type_name(kind));
    }
    if (config_node *config = network_config(node)) {
        unique_text path(config_path(config));
        network_dump_line(depth, "config: '%s'\n", path ? path.get() : "");
    }
    network_node *child = network_first(node);
    if (!child)
        return;
    network_dump_line(depth, "children:\n");
    for (; child; child = network_next_child(child))
        network_dump(child, depth + 1);
    network_dump_line(depth + 1, "----------\n");
}
}
