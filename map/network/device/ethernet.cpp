// Ethernet ports: a "link" interface section for every port, used or not,
// so the network daemon brings the link up.
#include "mapper.h"

void map_ethernet(network_run &run, network_node *device)
{
    uci_write_section(run.uci, "interface", network_config(device), "link_eth_%s",
                      network_key(device));
    uci_write_option_string(run.uci, "proto", "%s", "link");
    uci_write_option_string(run.uci, "ifname", "%s", network_name(device));
}
