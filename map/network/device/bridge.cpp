// Bridges: the bridge device with its members, a tap relay section for
// each wireless client port, and a "link" interface when no interface sits
// on the bridge.
#include <climits>
#include <cstdio>
#include <string>

#include "mapper.h"

namespace {

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
        std::string_view entry = text_view(config_array_get_string(ports, i));
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

}  // namespace

void map_bridge(network_run &run, network_node *bridge)
{
    config_node *b = network_config(bridge);
    if (!config_get_bool(b, "enable"))
        return;
    bool switch_mode = read_text(b, "mode") == "switch";
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
                read_text(pc, "type") == "wlan" && read_text(pc, "mode") == "client") {
                // A wireless client cannot be enslaved to a bridge; a tap
                // device relays for it.
                uci_write_section(run.uci, "interface", pc, "tap_%s_%s", name, port);
                uci_write_option_string(run.uci, "proto", "%s", "wlan_tap");
                uci_write_option_string(run.uci, "ifname", "%s", port);
                uci_write_option_string(run.uci, "tap", "tap-%s", port);
                members.reset(sl_append_printf(members.release(), "tap-%s", port));
            } else {
                members.reset(sl_append(members.release(), port));
            }
            if (auto_mac) {
                int i = port_position(ports, text_view(network_key(p)));
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
    uci_write_section(run.uci, "device", b, nullptr);
    uci_write_option_string(run.uci, "name", "%s", name);
    uci_write_option_string(run.uci, "type", "%s", "bridge");
    uci_write_option_bool(run.uci, "bridge_empty", 1);
    if (config_get_bool(b, "stp.enable")) {
        uci_write_option_bool(run.uci, "stp", 1);
        uci_write_option_int(run.uci, "forward_delay", config_get_int(b, "stp.forward_delay"));
    } else {
        uci_write_option_bool(run.uci, "stp", 0);
    }
    if (!switch_mode) {
        write_option_sl_list(run.uci, "ifname", members.get(), " ");
        if (!mac.empty())
            uci_write_option_string(run.uci, "macaddr", "%s", mac.c_str());
    } else {
        uci_write_option_bool(run.uci, "vlan_filtering", 1);
    }
    if (!network_first_type(bridge, NETWORK_NODE_INTERFACE)) {
        uci_write_section(run.uci, "interface", b, "link_bridge_%s", network_key(bridge));
        uci_write_option_string(run.uci, "proto", "%s", "link");
        uci_write_option_string(run.uci, "ifname", "%s", name);
    }
}
