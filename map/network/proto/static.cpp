// Static addresses (IPv4 or IPv6 protocol node of type static): a section
// of protocol "static", or "passthrough_static4" when a passthrough
// interface takes the interface as its source.
#include "mapper.h"

void map_interface_static(network_run &run, network_node *node)
{
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    config_node *cfg = network_config(node);
    map_interface_name(run, node);
    bool passthrough = map_interface_passthrough_src(run, node);
    uci_write_option_string(run.uci, "proto", "%s", passthrough ? "passthrough_static4" : "static");
    map_interface_link(run, device);
    map_interface_metric(run, cfg);
    if (std::string_view address = read_text(cfg, "address"); !address.empty()) {
        size_t slash = address.find('/');
        uci_write_option_text(run.uci, "ipaddr", address.substr(0, slash));
        if (slash != std::string_view::npos)
            uci_write_option_text(run.uci, "netmask", address.substr(slash + 1));
    }
    if (!read_text(cfg, "gateway").empty())
        uci_write_option_config(run.uci, "gateway", cfg, "gateway");
    unique_sl dns(config_get_string_list(cfg, "dns"));
    if (sl_len(dns.get()) > 0)
        write_option_sl_list(run.uci, "dns", dns.get(), " ");
    if (cfg)
        map_interface_device_options(run, cfg);
    uci_write_option_bool(run.uci, "force_link", config_get_bool(cfg, "force_link"));
}
