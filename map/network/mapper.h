// What every mapper of the network generator includes: the state of one
// run, the pieces of interface sections that several mappers share, and
// the list of mappers.  A mapper turns one node of the network model into
// its sections of /var/run/uci/network, written through the run's UCI
// writer, in the order of the output; devices are mapped by device type
// (devices.cpp, mappers in device/), interfaces by interface type
// (interface.cpp, mappers in proto/).
#pragma once
#include <string_view>
#include <unordered_map>

#include "network.h"
#include "quill.h"
#include "uci.h"

// The runtime store for the length of a run.  The platform keeps one store
// per process and every read opens it on demand; the run only decides
// when it is opened and closed.
struct runtime_store {
    runtime_store() = default;
    runtime_store(const runtime_store &) = delete;
    runtime_store &operator=(const runtime_store &) = delete;
    ~runtime_store();
    // Logs a failure; reads then open the store themselves.
    void open();

    bool opened = false;
};

// Which passthrough interface takes an interface as a source: the first one
// in model order whose source list names it (configuration node of the
// source -> key of the passthrough interface).  Static, DHCP and modem
// sections all ask, so it is built once, on the first question.
struct passthrough_sources {
    bool built = false;
    std::unordered_map<config_node *, const char *> owner;
};

// One run of the generator.
struct network_run {
    config_t *config = nullptr;
    network_t *model = nullptr;
    runtime_store store;
    uci_writer uci;  // the network file
    passthrough_sources sources;
    // A side file could not be written completely: the run ends with 1.
    bool side_file_failed = false;
};

// A side file of the run could not be written: logs that, naming the path
// (errno tells why), and makes the run end with status 1.
void map_network_write_failed(network_run &run, const char *path);

// Borrowed text of the store or the model, never null.
inline std::string_view text_view(const char *s)
{
    return s ? std::string_view(s) : std::string_view();
}
inline std::string_view read_text(config_node *cfg, const char *path)
{
    return text_view(config_get_string(cfg, path));
}

// ---- Pieces of interface sections (sections.cpp) --------------------------

// Header "config interface <interface name>".
void map_interface_name(network_run &run, network_node *node);
// "ifname" = the device's name; nothing for a null device.
void map_interface_link(network_run &run, network_node *device);
// "metric" unless it is 0; an IPsec tunnel whose link check has not passed
// gets the largest metric so that it loses every route comparison.
void map_interface_metric(network_run &run, config_node *config);
// "passthrough" = <passthrough interface> when a passthrough interface
// takes this node's interface as a source; 1 when written.
int map_interface_passthrough_src(network_run &run, network_node *node);
// "hostname" and "dhcp_hostname".
void map_interface_hostname(network_run &run, config_node *config);
// "mtu" and "reqopts" when the configuration has an MTU.
void map_interface_mtu(network_run &run, config_node *config);
// "macaddr", the MTU options, "promisc".
void map_interface_device_options(network_run &run, config_node *config);
// "custom_enable", "custom_override", "custom_config_file" of a PPP
// daemon's own settings (the object that holds "custom").
void map_interface_custom_config(network_run &run, config_node *config);

// ---- The walks -------------------------------------------------------------

// Every device node in model order, by device type (devices.cpp).
void map_devices(network_run &run);
// All sections of one interface node (kind 3) or protocol node (kind 4),
// by interface type (interface.cpp).
void map_interface(network_run &run, network_node *node);
// Static and multicast routes (route.cpp).
void map_routes(network_run &run);
// One anonymous route section for a route configuration node and the
// interface it names (or null).
void map_route(network_run &run, config_node *route, config_node *interface_config);

// ---- Device mappers (device/), each given the device node --------------------

void map_ethernet(network_run &run, network_node *device);
void map_bridge(network_run &run, network_node *device);
void map_bond(network_run &run, network_node *device);
void map_iptunnel(network_run &run, network_node *device);
void map_l2tpeth(network_run &run, network_node *device);
void map_macsec(network_run &run, network_node *device);
// The VLAN section that comes first for every node of an interface on a
// VLAN device (node: the interface or protocol node).
void map_vlan(network_run &run, network_node *node, network_node *device);

// ---- Interface mappers (proto/), each given the interface or protocol node ---

void map_interface_ethernet(network_run &run, network_node *node);
void map_interface_static(network_run &run, network_node *node);
void map_interface_dhcp(network_run &run, network_node *node);
void map_interface_dhcpv6(network_run &run, network_node *node);
void map_interface_prefix_delegation(network_run &run, network_node *node);
void map_interface_management(network_run &run, network_node *node);
void map_interface_modem(network_run &run, network_node *node);
void map_interface_nemo(network_run &run, network_node *node);
void map_interface_openvpn(network_run &run, network_node *node);
void map_interface_ipsec(network_run &run, network_node *node);
void map_interface_pppoe(network_run &run, network_node *node);
void map_interface_passthrough(network_run &run, network_node *node);
void map_interface_pppol2tp(network_run &run, network_node *node);
void map_interface_ppp_dialin(network_run &run, network_node *node);

// Modem sections that belong to no interface; the driver writes them once
// per run after the interfaces (proto/modem.cpp).
void map_modems_without_interface(network_run &run);
void map_modems_fw_update_interface(network_run &run);
