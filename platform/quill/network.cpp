// Network model: the typed tree of devices, interfaces and protocol nodes
// that the generators walk.  It is built once per run from the
// configuration alone (docs/network-model.md has the mapping) and is
// read-only afterwards, so every walk is answered from indexes made at the
// end of the build: the tree in pre-order, one position list per node kind
// and a map from configuration node to device / interface node.
#include "network.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct network_model;

struct network_node {
    network_model *owner = nullptr;
    network_node *parent = nullptr;
    std::vector<network_node *> children;
    size_t sibling = 0;  // position in parent->children
    size_t pre = 0;      // position in pre-order
    size_t end = 0;      // one past the last node of the subtree
    int kind = 0;
    int device_type = -1;
    int interface_type = -1;
    std::string key, name, interface_name;
    config_node *config = nullptr;
};

static constexpr int kind_count = NETWORK_NODE_MODEM + 1;

struct network_model {
    std::deque<network_node> nodes;  // nodes[0] is the root; addresses stay put
    std::vector<network_node *> order;
    std::vector<size_t> by_kind[kind_count];
    std::unordered_map<config_node *, network_node *> device_of;
    std::unordered_map<config_node *, network_node *> interface_of;
};

namespace {

constexpr size_t ifname_max = 15;

std::string_view text(const char *s) { return s ? std::string_view(s) : std::string_view(); }

// Kernel device names hold at most 15 bytes.  A longer name keeps its
// first 11 bytes and gets four hex digits of a hash of the whole name, so
// two long names that share a start still differ.
std::string device_name(std::string name)
{
    if (name.size() <= ifname_max)
        return name;
    uint32_t h = 2166136261u;
    for (unsigned char c : name)
        h = (h ^ c) * 16777619u;
    char tail[8];
    std::snprintf(tail, sizeof tail, "%04x", static_cast<unsigned>((h ^ (h >> 16)) & 0xffff));
    name.resize(ifname_max - 4);
    return name + tail;
}

// "/network/bridge/lan" -> "network.bridge.lan"
std::string dotted(std::string_view path)
{
    if (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '.');
    return out;
}

template <typename F>
void for_each_member(config_node *node, const char *path, F f)
{
    config_node *object = config_object(node, path);
    for (config_node *m = config_object_first(object); m; m = config_object_next(m))
        f(m, std::string(text(config_key(m))));
}

class builder {
public:
    explicit builder(config_t *config) : root_config(config), m(std::make_unique<network_model>())
    {
        root = add(nullptr, NETWORK_NODE_ROOT, "", "", nullptr);
    }

    std::unique_ptr<network_model> build()
    {
        radios();
        ports();
        namespaces();
        masters();
        tunnels();
        vpn_devices();
        modems();
        stacked(NETWORK_DEVICE_VLAN, "network.vlan");
        stacked(NETWORK_DEVICE_VRRP, "network.vrrp");
        members("network.bridge", NETWORK_NODE_BRIDGE_PORT);
        members("network.bond", NETWORK_NODE_BOND_SLAVE);
        interfaces();
        vpn_interfaces();
        index();
        return std::move(m);
    }

private:
    config_t *root_config;
    std::unique_ptr<network_model> m;
    network_node *root = nullptr;
    std::unordered_map<config_node *, network_node *> radio_of, namespace_of, modem_of;
    std::unordered_map<std::string, config_node *> by_path;

    network_node *add(network_node *parent, int kind, std::string key, std::string name,
                      config_node *config)
    {
        network_node &n = m->nodes.emplace_back();
        n.owner = m.get();
        n.parent = parent;
        n.kind = kind;
        n.key = std::move(key);
        n.name = std::move(name);
        n.config = config;
        if (parent)
            parent->children.push_back(&n);
        return &n;
    }

    network_node *device(network_node *parent, int type, std::string key, std::string name,
                         config_node *config)
    {
        network_node *n =
            add(parent, NETWORK_NODE_DEVICE, std::move(key), device_name(std::move(name)), config);
        n->device_type = type;
        m->device_of.emplace(config, n);
        remember(config);
        return n;
    }

    network_node *interface(network_node *parent, int type, std::string key, std::string name,
                            std::string interface_name, config_node *config)
    {
        network_node *n =
            add(parent, NETWORK_NODE_INTERFACE, std::move(key), std::move(name), config);
        n->interface_type = type;
        n->interface_name = std::move(interface_name);
        m->interface_of.emplace(config, n);
        return n;
    }

    network_node *proto(network_node *iface, const char *family, int type, config_node *config)
    {
        network_node *n = add(iface, NETWORK_NODE_PROTO, family, iface->name, config);
        n->interface_type = type;
        n->interface_name = std::string(family) + "_" + iface->key;
        return n;
    }

    // References to devices name members of several collections, so they
    // are path text ("/network/bridge/lan").  Devices are found through the
    // paths recorded while building, which keeps the build linear; anything
    // else goes to the store.
    config_node *resolve_text(std::string_view t)
    {
        if (t.size() < 2 || t.front() != '/')
            return nullptr;
        std::string path = dotted(t);
        if (auto it = by_path.find(path); it != by_path.end())
            return it->second;
        return config_lookup(root_config, path.c_str());
    }

    config_node *resolve(config_node *node, const char *path)
    {
        if (config_node *c = resolve_text(text(config_get_string(node, path))))
            return c;
        return config_get_ref(node, path);
    }

    config_node *resolve_element(config_node *array, size_t i)
    {
        if (config_node *c = resolve_text(text(config_array_get_string(array, i))))
            return c;
        return config_array_get_ref(array, i);
    }

    void remember(config_node *config)
    {
        if (unique_text path{config_path(config)})
            by_path.emplace(path.get(), config);
    }

    network_node *device_for(config_node *config)
    {
        auto it = m->device_of.find(config);
        return it == m->device_of.end() ? nullptr : it->second;
    }

    void radios()
    {
        for_each_member(root_config, "network.radio", [&](config_node *r, std::string key) {
            radio_of.emplace(r, add(root, NETWORK_NODE_RADIO, key, key, r));
        });
    }

    // Physical ports: Ethernet and loopback at the top, wireless ports under
    // the radio they run on.
    void ports()
    {
        for_each_member(root_config, "network.device", [&](config_node *d, std::string key) {
            std::string_view type = text(config_get_string(d, "type"));
            if (type == "wlan") {
                network_node *parent = root;
                if (config_node *r = config_get_ref(d, "radio"))
                    if (auto it = radio_of.find(r); it != radio_of.end())
                        parent = it->second;
                device(parent, NETWORK_DEVICE_WLAN, key, key, d);
            } else {
                device(root, type == "loopback" ? NETWORK_DEVICE_LOOPBACK : NETWORK_DEVICE_ETHERNET,
                       key, key, d);
            }
        });
    }

    void namespaces()
    {
        for_each_member(root_config, "network.namespace", [&](config_node *ns, std::string key) {
            namespace_of.emplace(ns, add(root, NETWORK_NODE_NAMESPACE, key, key, ns));
        });
        for_each_member(root_config, "network.veth", [&](config_node *v, std::string key) {
            network_node *parent = root;
            if (config_node *ns = config_get_ref(v, "namespace"))
                if (auto it = namespace_of.find(ns); it != namespace_of.end())
                    parent = it->second;
            device(parent, NETWORK_DEVICE_VNET, key, "veth_" + key, v);
        });
    }

    void masters()
    {
        for_each_member(root_config, "network.bridge", [&](config_node *b, std::string key) {
            device(root, NETWORK_DEVICE_BRIDGE, key, "br_" + key, b);
        });
        for_each_member(root_config, "network.bond", [&](config_node *b, std::string key) {
            device(root, NETWORK_DEVICE_BOND, key, "bond_" + key, b);
        });
    }

    void tunnels()
    {
        for_each_member(root_config, "network.iptunnel", [&](config_node *t, std::string key) {
            device(root, NETWORK_DEVICE_IPTUNNEL, key, "tnl_" + key, t);
        });
        for_each_member(root_config, "network.macsec", [&](config_node *t, std::string key) {
            device(root, NETWORK_DEVICE_MACSEC, key, "macsec_" + key, t);
        });
        for_each_member(root_config, "vpn.l2tpeth", [&](config_node *t, std::string tunnel) {
            for_each_member(t, "session", [&](config_node *s, std::string key) {
                device(root, NETWORK_DEVICE_L2TPETH, key, "l2te_" + tunnel + "_" + key, s);
            });
        });
    }

    // Each OpenVPN instance and each IPsec tunnel is a device with exactly
    // one interface on it, both built from the same configuration object.
    void vpn_devices()
    {
        for_each_member(root_config, "vpn.openvpn.client", [&](config_node *c, std::string key) {
            network_node *dev = device(root, NETWORK_DEVICE_OPENVPN, key, "ovpnc_" + key, c);
            std::string name = "openvpn_" + key;
            interface(dev, NETWORK_INTERFACE_OPENVPN, key, name, name, c);
        });
        for_each_member(root_config, "vpn.openvpn.server", [&](config_node *c, std::string key) {
            network_node *dev = device(root, NETWORK_DEVICE_OPENVPN, key, "ovpns_" + key, c);
            std::string name = "openvpn_srv_" + key;
            interface(dev, NETWORK_INTERFACE_OPENVPN, key, name, name, c);
        });
        // The device number is the tunnel's position counting from 1, the
        // interface id that the IPsec generator gives the tunnel.
        int ordinal = 0;
        for_each_member(root_config, "vpn.ipsec.tunnel", [&](config_node *t, std::string key) {
            network_node *dev =
                device(root, NETWORK_DEVICE_IPSEC, key, "ipsec" + std::to_string(++ordinal), t);
            std::string name = "ipsec_" + key;
            interface(dev, NETWORK_INTERFACE_IPSEC, key, name, name, t);
        });
    }

    void modems()
    {
        for_each_member(root_config, "network.modem", [&](config_node *c, std::string key) {
            modem_of.emplace(c, add(root, NETWORK_NODE_MODEM, key, key, c));
            remember(c);
        });
    }

    // VLAN and VRRP devices sit on another device.  A VLAN may sit on a VLAN
    // that comes later in the store, so passes repeat until nothing moves;
    // one whose base device does not exist is left out.
    void stacked(int type, const char *collection)
    {
        std::vector<std::pair<config_node *, std::string>> pending;
        for_each_member(root_config, collection, [&](config_node *c, std::string key) {
            pending.emplace_back(c, std::move(key));
        });
        while (!pending.empty()) {
            std::vector<std::pair<config_node *, std::string>> later;
            for (auto &[config, key] : pending) {
                network_node *base = device_for(resolve(config, "device"));
                if (!base) {
                    later.emplace_back(config, std::move(key));
                    continue;
                }
                std::string name =
                    type == NETWORK_DEVICE_VLAN
                        ? base->name + "." + std::to_string(config_get_int(config, "vid"))
                        : "vrrp_" + key;
                device(base, type, key, name, config);
            }
            if (later.size() == pending.size())
                break;
            pending = std::move(later);
        }
    }

    // Bridge ports and bond slaves come first among the master's children.
    // A port's key is the configuration path of its device, its name the
    // device name.
    void members(const char *collection, int kind)
    {
        for_each_member(root_config, collection, [&](config_node *c, std::string) {
            network_node *master = device_for(c);
            config_node *list = config_array(c, "device");
            size_t count = config_array_count(list);
            std::vector<network_node *> ports;
            for (size_t i = 0; i < count; i++) {
                config_node *target = resolve_element(list, i);
                network_node *dev = device_for(target);
                if (!dev)
                    continue;
                unique_text path(config_path(target));
                network_node *p = add(nullptr, kind, path ? path.get() : "", dev->name, target);
                p->parent = master;
                ports.push_back(p);
            }
            master->children.insert(master->children.begin(), ports.begin(), ports.end());
        });
    }

    void interfaces()
    {
        for_each_member(root_config, "network.interface", [&](config_node *c, std::string key) {
            std::string_view type = text(config_get_string(c, "type"));
            config_node *target = resolve(c, "device");
            network_node *parent = device_for(target);
            if (auto it = modem_of.find(target); !parent && it != modem_of.end())
                parent = it->second;
            if (!parent)
                parent = root;
            config_node *v4 = config_object(c, "ipv4");
            config_node *v6 = config_object(c, "ipv6");
            bool has4 = config_get_bool(c, "ipv4.enable");
            bool has6 = config_get_bool(c, "ipv6.enable");
            if (type == "modem") {
                interface(parent, NETWORK_INTERFACE_MODEM, key, key, key, c);
            } else if (type == "pppoe") {
                interface(parent, NETWORK_INTERFACE_PPPOE, key, key, key, c);
            } else if (type == "hotspot") {
                interface(parent, NETWORK_INTERFACE_HOTSPOT, key, key, key, c);
            } else if (type == "management") {
                interface(parent, NETWORK_INTERFACE_VELMO, key, key, key, c);
            } else if (type == "dialin") {
                interface(parent, NETWORK_INTERFACE_DIALIN, key, key, key, c);
            } else if (type == "passthrough") {
                network_node *n =
                    interface(parent, NETWORK_INTERFACE_PASSTHROUGH, key, key, key, c);
                if (has4)
                    proto(n, "ipv4", NETWORK_INTERFACE_PASSTHROUGH4, v4);
                if (has6)
                    proto(n, "ipv6", NETWORK_INTERFACE_PASSTHROUGH6, v6);
            } else {
                network_node *n = interface(parent, NETWORK_INTERFACE_ETHERNET, key, key, key, c);
                if (has4)
                    proto(n, "ipv4",
                          text(config_get_string(v4, "type")) == "static" ? NETWORK_INTERFACE_STATIC
                                                                          : NETWORK_INTERFACE_DHCP,
                          v4);
                if (has6) {
                    std::string_view t6 = text(config_get_string(v6, "type"));
                    proto(n, "ipv6",
                          t6 == "static"              ? NETWORK_INTERFACE_STATIC
                          : t6 == "prefix_delegation" ? NETWORK_INTERFACE_PREFIX_DELEGATION
                                                      : NETWORK_INTERFACE_DHCPV6,
                          v6);
                }
            }
        });
    }

    void vpn_interfaces()
    {
        for_each_member(root_config, "vpn.nemo", [&](config_node *c, std::string key) {
            std::string name = "nemo_" + key;
            interface(root, NETWORK_INTERFACE_NEMO, key, name, name, c);
        });
        // PPP sessions over L2TP: the session's name is its PPP device.
        for_each_member(root_config, "vpn.l2tp", [&](config_node *service, std::string skey) {
            for (const char *role : {"lac", "lns"})
                for_each_member(service, role, [&](config_node *c, std::string key) {
                    interface(root, NETWORK_INTERFACE_PPPOL2TP, key,
                              device_name("l2tp_" + skey + "_" + key), "l2tp_" + skey + "_" + key,
                              c);
                });
        });
        for_each_member(root_config, "serial", [&](config_node *port, std::string key) {
            if (config_node *c = config_object(port, "ppp_dialin")) {
                std::string name = "dialin_" + key;
                interface(root, NETWORK_INTERFACE_PPP_DIALIN, key, name, name, c);
            }
        });
    }

    void visit(network_node *n)
    {
        n->pre = m->order.size();
        m->order.push_back(n);
        if (n->kind >= 0 && n->kind < kind_count)
            m->by_kind[n->kind].push_back(n->pre);
        for (size_t i = 0; i < n->children.size(); i++) {
            n->children[i]->sibling = i;
            visit(n->children[i]);
        }
        n->end = m->order.size();
    }

    void index()
    {
        m->order.reserve(m->nodes.size());
        visit(root);
    }
};

// The first node of the kind inside subtree at or after pre-order position
// from, or null.
network_node *next_of_kind(network_node *subtree, size_t from, int kind)
{
    if (!subtree || kind < 0 || kind >= kind_count)
        return nullptr;
    const std::vector<size_t> &list = subtree->owner->by_kind[kind];
    auto it = std::lower_bound(list.begin(), list.end(), from);
    if (it == list.end() || *it >= subtree->end)
        return nullptr;
    return subtree->owner->order[*it];
}

}  // namespace

extern "C" {

network_t *network_load(config_t *config)
{
    if (!config)
        return nullptr;
    std::unique_ptr<network_model> model = builder(config).build();
    return &model.release()->nodes.front();
}

void network_free(network_t *model)
{
    if (model)
        std::unique_ptr<network_model> owner(model->owner);
}

network_node *network_first_type(network_node *subtree, int kind)
{
    return subtree ? next_of_kind(subtree, subtree->pre + 1, kind) : nullptr;
}

network_node *network_next_type(network_node *subtree, network_node *current, int kind)
{
    if (!subtree || !current)
        return nullptr;
    return next_of_kind(subtree, current->pre + 1, kind);
}

network_node *network_first(network_node *node)
{
    return node && !node->children.empty() ? node->children.front() : nullptr;
}

network_node *network_next_child(network_node *child)
{
    if (!child || !child->parent)
        return nullptr;
    const auto &siblings = child->parent->children;
    return child->sibling + 1 < siblings.size() ? siblings[child->sibling + 1] : nullptr;
}

network_node *network_find_parent(network_node *node, int kind)
{
    for (network_node *p = node ? node->parent : nullptr; p; p = p->parent)
        if (p->kind == kind)
            return p;
    return nullptr;
}

network_node *network_find_device(network_node *root, config_node *config)
{
    if (!root || !config)
        return nullptr;
    auto &map = root->owner->device_of;
    auto it = map.find(config);
    return it == map.end() ? nullptr : it->second;
}

network_node *network_find_proto(network_t *model, config_node *interface_config,
                                 const char *family)
{
    if (!model || !interface_config || !family)
        return nullptr;
    auto &map = model->owner->interface_of;
    auto it = map.find(interface_config);
    if (it == map.end())
        return nullptr;
    for (network_node *c : it->second->children)
        if (c->kind == NETWORK_NODE_PROTO && c->key == family)
            return c;
    return nullptr;
}

network_node *network_find(network_node *subtree, int kind, config_node *config)
{
    if (!subtree || !config)
        return nullptr;
    for (network_node *n = network_first_type(subtree, kind); n;
         n = network_next_type(subtree, n, kind))
        if (n->config == config)
            return n;
    return nullptr;
}

int network_type(network_node *node) { return node ? node->kind : -1; }
int network_device_type(network_node *node) { return node ? node->device_type : -1; }
int network_interface_type(network_node *node) { return node ? node->interface_type : -1; }
const char *network_key(network_node *node) { return node ? node->key.c_str() : nullptr; }
const char *network_name(network_node *node) { return node ? node->name.c_str() : nullptr; }
const char *network_interface_name(network_node *node)
{
    return node ? node->interface_name.c_str() : nullptr;
}
config_node *network_config(network_node *node) { return node ? node->config : nullptr; }

}  // extern "C"
