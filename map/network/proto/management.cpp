// The management tunnel's interface: a host address that the program
// tamsa_ip prints; nothing until it prints one.
#include <string>

#include "mapper.h"

void map_interface_management(network_run &run, network_node *node)
{
    unique_text captured(_process_capture(-1, -1, 1, 0, nullptr, "tamsa_ip", nullptr));
    // The output ends with a line feed like any program's, which is not
    // part of the address.
    std::string_view address = text_view(captured.get());
    while (!address.empty() && (address.back() == '\n' || address.back() == '\r'))
        address.remove_suffix(1);
    if (address.empty())
        return;
    map_interface_name(run, node);
    map_interface_link(run, network_find_parent(node, NETWORK_NODE_DEVICE));
    uci_write_option_string(run.uci, "proto", "%s", "static");
    uci_write_option_text(run.uci, "ipaddr", address);
    uci_write_option_string(run.uci, "netmask", "%s", "255.255.255.255");
}
