// Bonds: one device section listing the slaves; active-backup names its
// primary, the bond's first configured device.
#include <string>

#include "mapper.h"

namespace {

// The primary of an active-backup bond: the slave built from the bond's
// first configured device, or null.
network_node *primary_slave(network_node *bond, config_node *d)
{
    config_node *first = config_get_ref(d, "device.0");
    if (!first) {
        // Slaves are named by path text; resolve the first one.
        std::string_view entry = text_view(config_array_get_string(config_array(d, "device"), 0));
        if (entry.size() > 1) {
            std::string path(entry.substr(1));
            for (char &c : path)
                if (c == '/')
                    c = '.';
            first = config_lookup(config_node_get_root(d), path.c_str());
        }
    }
    return network_find(bond, NETWORK_NODE_BOND_SLAVE, first);
}

}  // namespace

void map_bond(network_run &run, network_node *bond)
{
    config_node *d = network_config(bond);
    if (!config_get_bool(d, "enable"))
        return;
    std::string_view mode = read_text(d, "mode");
    const char *uci_mode = nullptr;
    network_node *primary = nullptr;
    if (mode == "active-backup") {
        primary = primary_slave(bond, d);
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
    uci_write_section(run.uci, "device", d, nullptr);
    uci_write_option_string(run.uci, "name", "%s", network_name(bond));
    uci_write_option_string(run.uci, "type", "%s", "bond");
    uci_write_option_string(run.uci, "mode", "%s", uci_mode);
    write_option_sl_list(run.uci, "ifname", members.get(), " ");
    uci_write_option_bool(run.uci, "bond_empty", 1);
    if (primary)
        uci_write_option_string(run.uci, "primary", "%s", network_name(primary));
    if (int ms = config_get_duration_ms(d, "link_poll_interval"); ms != 0)
        uci_write_option_int(run.uci, "link_poll_interval", ms);
}
