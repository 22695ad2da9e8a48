#!/usr/bin/env python3
"""Writes a configuration with N interfaces for timing `config map network`.

Each interface sits on its own VLAN of a LAN bridge, has a static IPv4
address and DHCPv6, and one static route; every tenth interface is a
DHCP uplink on its own port, and one passthrough interface takes the first
uplinks as sources, so the sources' lookups walk the whole model.
"""
import json
import sys


def config(n):
    devices = {"eth0": {}, "eth1": {}}
    vlans, interfaces, routes = {}, {}, []
    uplinks = []
    for i in range(n):
        name = "if%d" % i
        if i % 10 == 9:
            port = "eth%d" % (i + 10)
            devices[port] = {}
            interfaces[name] = {"device": "/network/device/" + port,
                                "ipv4": {"type": "dhcp", "metric": i}}
            uplinks.append("/network/interface/" + name)
            continue
        vid = 2 + i
        vlans["v%d" % vid] = {"device": "/network/bridge/lan", "vid": vid}
        third, fourth = divmod(i, 250)
        interfaces[name] = {
            "device": "/network/vlan/v%d" % vid,
            "ipv4": {"type": "static", "address": "10.%d.%d.1/24" % (third, fourth),
                     "dns": ["10.0.0.53"]},
            "ipv6": {"enable": True, "type": "dhcpv6"},
        }
        routes.append({"dst": "172.%d.%d.0/24" % (16 + third, fourth),
                       "gateway": "10.%d.%d.254" % (third, fourth),
                       "interface": "/network/interface/" + name, "metric": i})
    interfaces["kiosk"] = {"type": "passthrough", "device": "/network/device/eth1",
                           "passthrough": {"src": uplinks[:3]}}
    return {
        "system": {"name": "bench"},
        "network": {
            "device": devices,
            "bridge": {"lan": {"device": ["/network/device/eth0"]}},
            "vlan": vlans,
            "interface": interfaces,
            "route": {"static": routes},
        },
    }


if __name__ == "__main__":
    json.dump(config(int(sys.argv[1])), sys.stdout, indent=1)
