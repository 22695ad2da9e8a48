// IPv6 prefix delegation: a static section that assigns a delegated prefix
// of the configured length (and hint) to the interface.
#include "mapper.h"

void map_interface_prefix_delegation(network_run &run, network_node *node)
{
    config_node *cfg = network_config(node);
    map_interface_name(run, node);
    map_interface_link(run, network_find_parent(node, NETWORK_NODE_DEVICE));
    uci_write_option_string(run.uci, "proto", "%s", "static");
    uci_write_option_int(run.uci, "ip6assign", config_get_int(cfg, "prefix_length"));
    if (!read_text(cfg, "prefix_id").empty())
        uci_write_option_config(run.uci, "ip6hint", cfg, "prefix_id");
    if (cfg)
        map_interface_device_options(run, cfg);
    uci_write_option_bool(run.uci, "force_link", 0);
}
