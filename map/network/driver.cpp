// `config map network`: writes the network daemon's UCI file from the
// network model, publishes the device map to the runtime store and moves
// the finished file into place.
#include "map_network.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "anvil.h"
#include "dump.h"
#include "interface.h"
#include "proto/proto.h"
#include "tallo.h"
#include "uci.h"

namespace {

constexpr const char *uci_dir = "/var/run/uci";
constexpr const char *tmp_file = "/var/run/uci/network.new";
constexpr const char *final_file = "/var/run/uci/network";

std::string_view text(const char *s) { return s ? std::string_view(s) : std::string_view(); }

// MAC address of a port as the kernel shows it, or empty.
std::string port_mac(const char *device)
{
    std::string path = std::string("/sys/class/net/") + device + "/address";
    unique_file f(std::fopen(path.c_str(), "r"));
    if (!f)
        return {};
    char buf[18] = {};
    size_t n = std::fread(buf, 1, 17, f.get());
    std::string mac(buf, n);
    while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' '))
        mac.pop_back();
    return mac;
}

// Position of a port in the bridge's configured list, or -1.
int port_position(config_node *ports, std::string_view key)
{
    size_t count = config_array_count(ports);
    for (size_t i = 0; i < count; i++) {
        std::string_view entry = text(config_array_get_string(ports, i));
        if (entry.empty())
            continue;
        std::string dotted(entry.substr(1));
        for (char &c : dotted)
            if (c == '/')
                c = '.';
        if (dotted == key)
            return static_cast<int>(i);
    }
    return -1;
}

void map_bridge(FILE *out, network_node *bridge)
{
    config_node *b = network_config(bridge);
    if (!config_get_bool(b, "enable"))
        return;
    bool switch_mode = text(config_get_string(b, "mode")) == "switch";
    const char *name = network_name(bridge);
    unique_sl members;
    std::string mac;
    int mac_position = INT_MAX;
    if (!switch_mode) {
        bool auto_mac = config_get_bool(b, "auto_mac_assignment") && config_has_key(b, "device");
        config_node *ports = config_array(b, "device");
        for (network_node *p = network_first_type(bridge, NETWORK_NODE_BRIDGE_PORT); p;
             p = network_next_type(bridge, p, NETWORK_NODE_BRIDGE_PORT)) {
            config_node *pc = network_config(p);
            const char *port = network_name(p);
            if (config_has_key(pc, "type") && config_has_key(pc, "mode") &&
                text(config_get_string(pc, "type")) == "wlan" && text(config_get_string(pc, "mode")) == "client") {
                // A wireless client cannot be enslaved to a bridge; a tap
                // device relays for it.
                uci_write_section(out, "interface", pc, "tap_%s_%s", name, port);
                uci_write_option_string(out, "proto", "%s", "wlan_tap");
                uci_write_option_string(out, "ifname", "%s", port);
                uci_write_option_string(out, "tap", "tap-%s", port);
                members.reset(sl_append_printf(members.release(), "tap-%s", port));
            } else {
                members.reset(sl_append(members.release(), port));
            }
            if (auto_mac) {
                int i = port_position(ports, text(network_key(p)));
                if (i >= 0 && i < mac_position) {
                    std::string found = port_mac(port);
                    if (!found.empty()) {
                        mac = found;
                        mac_position = i;
                    }
                }
            }
        }
    }
    uci_write_section(out, "device", b, nullptr);
    uci_write_option_string(out, "name", "%s", name);
    uci_write_option_string(out, "type", "%s", "bridge");
    uci_write_option_bool(out, "bridge_empty", 1);
    if (config_get_bool(b, "stp.enable")) {
        uci_write_option_bool(out, "stp", 1);
        uci_write_option_int(out, "forward_delay", config_get_int(b, "stp.forward_delay"));
    } else {
        uci_write_option_bool(out, "stp", 0);
    }
    if (!switch_mode) {
        write_option_sl_list(out, "ifname", members.get(), " ");
        if (!mac.empty())
            uci_write_option_string(out, "macaddr", "%s", mac.c_str());
    } else {
        uci_write_option_bool(out, "vlan_filtering", 1);
    }
    if (!network_first_type(bridge, NETWORK_NODE_INTERFACE)) {
        uci_write_section(out, "interface", b, "link_bridge_%s", network_key(bridge));
        uci_write_option_string(out, "proto", "%s", "link");
        uci_write_option_string(out, "ifname", "%s", name);
    }
}

void map_bond(FILE *out, network_node *bond)
{
    config_node *d = network_config(bond);
    if (!config_get_bool(d, "enable"))
        return;
    std::string_view mode = text(config_get_string(d, "mode"));
    const char *uci_mode = nullptr;
    network_node *primary = nullptr;
    if (mode == "active-backup") {
        config_node *first = config_get_ref(d, "device.0");
        if (!first) {
            // Slaves are named by path text; resolve the first one.
            std::string_view entry = text(config_array_get_string(config_array(d, "device"), 0));
            if (entry.size() > 1) {
                std::string path(entry.substr(1));
                for (char &c : path)
                    if (c == '/')
                        c = '.';
                first = config_lookup(config_node_get_root(d), path.c_str());
            }
        }
        primary = network_find(bond, NETWORK_NODE_BOND_SLAVE, first);
        if (!primary)
            return;
        uci_mode = "active-backup";
    } else if (mode == "round-robin") {
        uci_mode = "balance-rr";
    } else {
        return;
    }
    unique_sl members;
    for (network_node *s = network_first_type(bond, NETWORK_NODE_BOND_SLAVE); s;
         s = network_next_type(bond, s, NETWORK_NODE_BOND_SLAVE))
        members.reset(sl_append(members.release(), network_name(s)));
    uci_write_section(out, "device", d, nullptr);
    uci_write_option_string(out, "name", "%s", network_name(bond));
    uci_write_option_string(out, "type", "%s", "bond");
    uci_write_option_string(out, "mode", "%s", uci_mode);
    write_option_sl_list(out, "ifname", members.get(), " ");
    uci_write_option_bool(out, "bond_empty", 1);
    if (primary)
        uci_write_option_string(out, "primary", "%s", network_name(primary));
    if (int ms = config_get_duration_ms(d, "link_poll_interval"); ms != 0)
        uci_write_option_int(out, "link_poll_interval", ms);
}

void map_devices(FILE *out, network_t *model)
{
    for (network_node *dev = network_first_type(model, NETWORK_NODE_DEVICE); dev;
         dev = network_next_type(model, dev, NETWORK_NODE_DEVICE)) {
        switch (network_device_type(dev)) {
        case NETWORK_DEVICE_ETHERNET:
            uci_write_section(out, "interface", network_config(dev), "link_eth_%s",
                              network_key(dev));
            uci_write_option_string(out, "proto", "%s", "link");
            uci_write_option_string(out, "ifname", "%s", network_name(dev));
            break;
        case NETWORK_DEVICE_BRIDGE:
            map_bridge(out, dev);
            break;
        case NETWORK_DEVICE_BOND:
            map_bond(out, dev);
            break;
        case NETWORK_DEVICE_IPTUNNEL:
            map_iptunnel(out, dev);
            break;
        case NETWORK_DEVICE_L2TPETH:
            map_l2tpeth(out, dev);
            break;
        case NETWORK_DEVICE_MACSEC:
            map_macsec(out, dev);
            break;
        default:
            break;
        }
    }
}

void map_routes(FILE *out, config_t *config)
{
    config_node *routes = config_array(config, "network.route.static");
    for (config_node *r = config_array_first(routes); r; r = config_array_next(r)) {
        config_node *iface = config_get_ref(r, "interface");
        if (config_get_bool(r, "enable"))
            map_route(out, r, iface);
    }
    if (!config_object_has_key(config, "service", "multicast"))
        return;
    for (config_node *m = config_object_first(config_object(config, "service.multicast")); m;
         m = config_object_next(m)) {
        if (!config_get_bool(m, "enable"))
            continue;
        config_node *list = config_array(m, "interface");
        size_t count = config_array_count(list);
        for (size_t i = 0; i < count; i++)
            map_route(out, m, config_array_get_ref(list, i));
    }
}

void write_file(FILE *out, config_t *config, network_t *model)
{
    uci_write_begin(out);
    uci_write_section(out, "globals", nullptr, "%s", "globals");
    if (!text(config_get_string(config, "network.advanced.ula_prefix")).empty())
        uci_write_option_config(out, "ula_prefix", config, "network.advanced.ula_prefix");
    map_devices(out, model);
    for (network_node *n = network_first_type(model, NETWORK_NODE_INTERFACE); n;
         n = network_next_type(model, n, NETWORK_NODE_INTERFACE))
        map_interface(out, n);
    map_modems_without_interface(out);
    map_modems_fw_update_interface(out);
    map_routes(out, config);
}

// The device map is replaced as one edit group, so readers never see it
// half refreshed; a failed step abandons the group and keeps the old map.
bool publish_device_map(network_t *model)
{
    if (tallo_edit_start() != 0)
        return false;
    bool ok = tallo_delete("network.device_map") == 0;
    int n = 0;
    for (network_node *dev = network_first_type(model, NETWORK_NODE_DEVICE); ok && dev;
         dev = network_next_type(model, dev, NETWORK_NODE_DEVICE), n++) {
        unique_text path(config_path(network_config(dev)));
        ok = tallo_set_string_pathf(network_name(dev), "network.device_map.%d.device", n) == 0 &&
             tallo_set_string_pathf(path ? path.get() : "", "network.device_map.%d.path", n) == 0;
    }
    // Closing the store with the group still open rolls it back.
    return ok && tallo_edit_commit() == 0;
}

// Writes the whole file under its temporary name, mode 0600 (it holds the
// PPPoE, L2TP and dial-in passwords, the NEMO key and the MACsec CAK) and
// synced, ready to be moved over the live one.  A file that could not be
// written completely never replaces the working one.
bool write_network_file(config_t *config, network_t *model)
{
    FILE *out = file_create(tmp_file, FILE_PRIVATE);
    if (!out) {
        log_error("cannot create %s: %m", tmp_file);
        return false;
    }
    write_file(out, config, model);
    if (!file_finish(out, 1)) {
        log_error("cannot write %s: %m", tmp_file);
        unlink(tmp_file);
        return false;
    }
    return true;
}

int query_device(config_t *config, network_t *model, int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("error: expected single parameter for --device PATH\n", stderr);
        return 1;
    }
    config_node *node = config_lookup(config, argv[1]);
    if (!node) {
        std::fputs("error: config lookup failed\n", stderr);
        return 1;
    }
    network_node *device = network_find_device(model, node);
    if (!device) {
        std::fputs("error: network node lookup failed\n", stderr);
        return 1;
    }
    std::printf("%s\n", network_name(device));
    return 0;
}

}  // namespace

extern "C" int map_network(config_t *config, int argc, char **argv)
{
    network_t *model = network_load(config);
    map_network_set_model(model);
    log_init("config map network", 0, 1);

    for (int i = 0; i < argc; i++) {
        std::string_view arg = text(argv[i]);
        if (arg == "-p") {
            network_dump(model, 0);
            return 0;
        }
        if (arg == "--device")
            return query_device(config, model, argc, argv);
    }

    if (tallo_init() != 0)
        log_error("failed to initialize tallo interface");

    // The run directory lives on a tmpfs that starts empty at boot.
    if (mkdir(uci_dir, 0755) != 0 && errno != EEXIST)
        log_error("cannot create %s: %m", uci_dir);

    bool written = write_network_file(config, model);

    bool published = publish_device_map(model);
    if (!published)
        log_error("cannot refresh the device map network.device_map in the runtime store");
    // Side files that could not be written were logged as they failed.
    bool side_files = !map_network_failed();
    map_network_set_model(nullptr);
    network_free(model);
    tallo_deinit();

    if (!written)
        return 1;
    if (file_replace(1, tmp_file, final_file, 0) != 1) {
        log_error("cannot replace %s: %m", final_file);
        return 1;
    }
    return published && side_files ? 0 : 1;
}
