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
typedef network_node network_t; /* a model is its root node */

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

/* Builds the model of a configuration (docs/network-model.md has the
 * mapping); null for a null handle.  The model reads the configuration
 * only, keeps pointers to its nodes and must be freed before the handle. */
network_t *network_load(config_t *config);
/* Releases the model and every text it returned; null is allowed. */
void network_free(network_t *model);

/* Walks in model order: a node before its children, children in order.
 * network_first_type / network_next_type visit every node of one kind
 * strictly inside the subtree (never the subtree node itself); null after
 * the last one, or for a kind that does not exist. */
network_node *network_first_type(network_node *subtree, int kind);
network_node *network_next_type(network_node *subtree, network_node *current, int kind);
/* The node's first child; the next sibling of a child; null at the end. */
network_node *network_first(network_node *node);
network_node *network_next_child(network_node *child);
/* The nearest ancestor of the kind (NETWORK_NODE_ROOT gives the root), not
 * the node itself; null when there is none. */
network_node *network_find_parent(network_node *node, int kind);
/* The device node built from a configuration node (a member of a device
 * collection, an OpenVPN instance, an IPsec tunnel); root is any node of
 * the model.  Null when the node built no device. */
network_node *network_find_device(network_node *root, config_node *config);
/* The protocol node of one family ("ipv4" or "ipv6") of the interface built
 * from interface_config; null when the interface has none. */
network_node *network_find_proto(network_t *model, config_node *interface_config,
                                 const char *family);
/* The node of the kind inside subtree built from config (e.g. the bond
 * slave for a member device), or null. */
network_node *network_find(network_node *subtree, int kind, config_node *config);

/* Node kind, device type (devices only) and interface type (interface and
 * protocol nodes only); -1 where the node has none or is null. */
int network_type(network_node *node);
int network_device_type(network_node *node);
int network_interface_type(network_node *node);
/* Configuration key, name (a device's kernel name, at most 15 bytes) and
 * UCI section name of interface and protocol nodes; owned by the model. */
const char *network_key(network_node *node);
const char *network_name(network_node *node);
const char *network_interface_name(network_node *node);
/* The configuration node the node was built from; null for the root. */
config_node *network_config(network_node *node);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <memory>
/* RAII owner of a model; it must go before the configuration it was built
 * from. */
struct network_deleter {
    void operator()(network_t *m) const noexcept { network_free(m); }
};
using unique_network = std::unique_ptr<network_t, network_deleter>;
#endif
#endif
