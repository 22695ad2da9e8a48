// The sections of one interface node: the VLAN section when it sits on a
// VLAN device, then those of its interface type, whose mapper the table
// below names.  Types without a row (dial-in, hotspot, the passthrough
// protocol nodes on their own) write nothing further.
#include "mapper.h"

namespace {

struct interface_mapper {
    int type;
    void (*map)(network_run &run, network_node *node);
};

constexpr interface_mapper interface_mappers[] = {
    {NETWORK_INTERFACE_ETHERNET, map_interface_ethernet},
    {NETWORK_INTERFACE_STATIC, map_interface_static},
    {NETWORK_INTERFACE_DHCP, map_interface_dhcp},
    {NETWORK_INTERFACE_DHCPV6, map_interface_dhcpv6},
    {NETWORK_INTERFACE_PREFIX_DELEGATION, map_interface_prefix_delegation},
    {NETWORK_INTERFACE_VELMO, map_interface_management},
    {NETWORK_INTERFACE_MODEM, map_interface_modem},
    {NETWORK_INTERFACE_NEMO, map_interface_nemo},
    {NETWORK_INTERFACE_OPENVPN, map_interface_openvpn},
    {NETWORK_INTERFACE_IPSEC, map_interface_ipsec},
    {NETWORK_INTERFACE_PPPOE, map_interface_pppoe},
    {NETWORK_INTERFACE_PASSTHROUGH, map_interface_passthrough},
    {NETWORK_INTERFACE_PPPOL2TP, map_interface_pppol2tp},
    {NETWORK_INTERFACE_PPP_DIALIN, map_interface_ppp_dialin},
};

}  // namespace

void map_interface(network_run &run, network_node *node)
{
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    if (device && network_device_type(device) == NETWORK_DEVICE_VLAN)
        map_vlan(run, node, device);
    int type = network_interface_type(node);
    for (const interface_mapper &m : interface_mappers) {
        if (m.type == type) {
            m.map(run, node);
            break;
        }
    }
}
