// Ethernet interfaces: the sum of their protocol nodes (IPv4, IPv6), each a
// section of its own, mapped by its own type, that also carries the
// interface's MTU.
#include "mapper.h"

void map_interface_ethernet(network_run &run, network_node *node)
{
    config_node *cfg = network_config(node);
    for (network_node *p = network_first_type(node, NETWORK_NODE_PROTO); p;
         p = network_next_type(node, p, NETWORK_NODE_PROTO)) {
        map_interface(run, p);
        map_interface_mtu(run, cfg);
    }
}
