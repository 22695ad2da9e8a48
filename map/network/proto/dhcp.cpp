// Addresses by DHCP (IPv4) and DHCPv6: the client's options, with the
// protocol last.
#include "mapper.h"

namespace {

void map_dhcp(network_run &run, network_node *node, bool v6)
{
    config_node *cfg = network_config(node);
    map_interface_name(run, node);
    map_interface_link(run, network_find_parent(node, NETWORK_NODE_DEVICE));
    map_interface_metric(run, cfg);
    if (cfg)
        map_interface_device_options(run, cfg);
    map_interface_hostname(run, cfg);
    map_interface_passthrough_src(run, node);
    uci_write_option_string(run.uci, "proto", "%s", v6 ? "dhcpv6" : "dhcp");
    if (v6)
        uci_write_option_bool(run.uci, "sourcerouting", 0);
}

}  // namespace

void map_interface_dhcp(network_run &run, network_node *node) { map_dhcp(run, node, false); }

void map_interface_dhcpv6(network_run &run, network_node *node) { map_dhcp(run, node, true); }
