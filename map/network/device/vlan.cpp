// VLAN devices: the section that sets up the VLAN, written before each
// section of an interface that sits on it (the writer lets the one device
// repeat its section).
#include <cstring>
#include <string>

#include "mapper.h"

// A VLAN device is named <base>.<vid>; the base may itself be a VLAN
// (eth0.7.100 is VLAN 100 on eth0.7), so the id is what follows the last dot.
void map_vlan(network_run &run, network_node *node, network_node *device)
{
    std::string_view name = text_view(network_name(device));
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return;
    std::string base(name.substr(0, dot)), vid(name.substr(dot + 1));
    const char *ifname = network_interface_name(node);
    int family = std::strncmp(ifname ? ifname : "", "ipv6", 4) == 0 ? 6 : 4;
    uci_write_section(run.uci, "interface", network_config(device), "vlan%d_%s_%s", family,
                      base.c_str(), vid.c_str());
    uci_write_option_string(run.uci, "ifname", "%s", base.c_str());
    uci_write_option_string(run.uci, "proto", "%s", "vlan");
    uci_write_option_string(run.uci, "vid", "%s", vid.c_str());
    uci_write_option_section(run.uci, "name", ifname);
}
