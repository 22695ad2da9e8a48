// The sections of every device node, in model order, by device type.
// Types without a row (loopback, wireless, VLAN, OpenVPN, IPsec, VRRP ...)
// write nothing here: their interfaces carry what they need.
#include "mapper.h"

namespace {

struct device_mapper {
    int type;
    void (*map)(network_run &run, network_node *device);
};

constexpr device_mapper device_mappers[] = {
    {NETWORK_DEVICE_ETHERNET, map_ethernet}, {NETWORK_DEVICE_BRIDGE, map_bridge},
    {NETWORK_DEVICE_BOND, map_bond},         {NETWORK_DEVICE_IPTUNNEL, map_iptunnel},
    {NETWORK_DEVICE_L2TPETH, map_l2tpeth},   {NETWORK_DEVICE_MACSEC, map_macsec},
};

}  // namespace

void map_devices(network_run &run)
{
    for (network_node *dev = network_first_type(run.model, NETWORK_NODE_DEVICE); dev;
         dev = network_next_type(run.model, dev, NETWORK_NODE_DEVICE)) {
        int type = network_device_type(dev);
        for (const device_mapper &m : device_mappers) {
            if (m.type == type) {
                m.map(run, dev);
                break;
            }
        }
    }
}
