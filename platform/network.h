/* Network model: a typed tree of devices, interfaces and protocol nodes
 * derived from the configuration alone (part of libquill).  Texts returned
 * by the model are owned by it. */
#ifndef NETWORK_H
#define NETWORK_H
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

typedef struct network_node network_node;
typedef network_node network_t;        /* a model is its root node */

enum network_node_type {
    NETWORK_NODE_ROOT = 0,
    NETWORK_NODE_NAMESPACE = 1,
    NETWORK_NODE_DEVICE = 2,
    NETWORK_NODE_INTERFACE = 3,
    NETWORK_NODE_PROTO = 4,
    NETWORK_NODE_BRIDGE_PORT = 5,
    NETWORK_NODE_BOND_SLAVE = 6,
    NETWORK_NODE_RADIO = 7,
    NETWORK_NODE_MODEM = 8,
};

enum network_device_type {
    NETWORK_DEVICE_LOOPBACK = 0,
    NETWORK_DEVICE_ETHERNET = 1,
    NETWORK_DEVICE_VNET = 2,
    NETWORK_DEVICE_WLAN = 3,
    NETWORK_DEVICE_VLAN = 4,
    NETWORK_DEVICE_BRIDGE = 5,
    NETWORK_DEVICE_BOND = 6,
    NETWORK_DEVICE_OPENVPN = 7,
    NETWORK_DEVICE_IPSEC = 8,
    NETWORK_DEVICE_IPTUNNEL = 9,
    NETWORK_DEVICE_VRRP = 10,
    NETWORK_DEVICE_L2TPETH = 11,
    NETWORK_DEVICE_MACSEC = 13,
};

enum network_interface_type {
    NETWORK_INTERFACE_ETHERNET = 0,
    NETWORK_INTERFACE_STATIC = 1,
    NETWORK_INTERFACE_DHCP = 2,
    NETWORK_INTERFACE_DHCPV6 = 3,
    NETWORK_INTERFACE_PREFIX_DELEGATION = 4,
    NETWORK_INTERFACE_VELMO = 5,
    NETWORK_INTERFACE_MODEM = 6,
    NETWORK_INTERFACE_DIALIN = 7,
    NETWORK_INTERFACE_NEMO = 8,
    NETWORK_INTERFACE_OPENVPN = 9,
    NETWORK_INTERFACE_IPSEC = 10,
    NETWORK_INTERFACE_PPPOE = 11,
    NETWORK_INTERFACE_PASSTHROUGH = 12,
    NETWORK_INTERFACE_PASSTHROUGH4 = 13,
    NETWORK_INTERFACE_PASSTHROUGH6 = 14,
    NETWORK_INTERFACE_HOTSPOT = 15,
    NETWORK_INTERFACE_PPPOL2TP = 17,
    NETWORK_INTERFACE_PPP_DIALIN = 19,
};

network_t *network_load(config_t *config);
void network_free(network_t *model);

network_node *network_first_type(network_node *subtree, int kind);
network_node *network_next_type(network_node *subtree, network_node *current, int kind);
network_node *network_first(network_node *node);
network_node *network_next_child(network_node *child);
network_node *network_find_parent(network_node *node, int kind);
network_node *network_find_device(network_node *root, config_node *config);
network_node *network_find_proto(network_t *model, config_node *interface_config, const char *family);
network_node *network_find(network_node *subtree, int kind, config_node *config);

int network_type(network_node *node);
int network_device_type(network_node *node);
int network_interface_type(network_node *node);
const char *network_key(network_node *node);
const char *network_name(network_node *node);
const char *network_interface_name(network_node *node);
config_node *network_config(network_node *node);

#ifdef __cplusplus
}
#endif
#endif
