// PPPoE clients: the header and link always, the session settings only
// while the interface is enabled.
#include "mapper.h"

void map_interface_pppoe(network_run &run, network_node *node)
{
    config_node *cfg = network_config(node);
    map_interface_name(run, node);
    map_interface_link(run, network_find_parent(node, NETWORK_NODE_DEVICE));
    if (!config_get_bool(cfg, "enable"))
        return;
    uci_write_option_string(run.uci, "proto", "%s", "pppoe");
    uci_write_option_config(run.uci, "username", cfg, "pppoe.username");
    uci_write_option_config(run.uci, "password", cfg, "pppoe.password");
    uci_write_option_bool(run.uci, "debug", config_get_bool(cfg, "pppoe.debug"));
    uci_write_option_bool(run.uci, "ipv4", config_get_bool(cfg, "ipv4.enable"));
    uci_write_option_int(run.uci, "mtu4", config_get_int(cfg, "ipv4.mtu"));
    uci_write_option_int(run.uci, "metric4", config_get_int(cfg, "ipv4.metric"));
    uci_write_option_bool(run.uci, "ipv6", config_get_bool(cfg, "ipv6.enable"));
    uci_write_option_int(run.uci, "mtu6", config_get_int(cfg, "ipv6.mtu"));
    uci_write_option_int(run.uci, "metric6", config_get_int(cfg, "ipv6.metric"));
}
