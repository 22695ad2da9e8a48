// NEMO (mobile router) interfaces: static settings plus the current IPv4
// networks of the local interfaces it advertises to the home agent.
#include "mapper.h"
#include "tallo.h"

void map_interface_nemo(network_run &run, network_node *node)
{
    config_node *cfg = network_config(node);
    if (!config_get_bool(cfg, "enable"))
        return;
    map_interface_name(run, node);
    uci_write_option_string(run.uci, "proto", "%s", "nemo");
    uci_write_option_config(run.uci, "home_address", cfg, "home_address");

    std::string_view coaddress = read_text(cfg, "coaddress.type");
    uci_write_option_config(run.uci, "coaddress_type", cfg, "coaddress.type");
    if (coaddress == "interface")
        uci_write_option_config(run.uci, "coaddress", cfg, "coaddress.interface");
    else if (coaddress == "ip")
        uci_write_option_config(run.uci, "coaddress", cfg, "coaddress.address");

    bool tun_local_interface = read_text(cfg, "tun_local.type") == "interface";
    uci_write_option_config(run.uci, "tun_local", cfg,
                            tun_local_interface ? "tun_local.interface" : "tun_local.type");

    uci_write_option_config(run.uci, "home_agent", cfg, "home_agent");
    uci_write_option_config(run.uci, "key", cfg, "key");
    uci_write_option_config(run.uci, "spi", cfg, "spi");
    uci_write_option_int(run.uci, "lifetime", config_get_int(cfg, "lifetime"));
    uci_write_option_int(run.uci, "metric", config_get_int(cfg, "metric"));
    bool discovery = config_get_bool(cfg, "mtu_discovery");
    uci_write_option_bool(run.uci, "mtu_discovery", discovery);
    if (!discovery)
        uci_write_option_int(run.uci, "mtu", config_get_int(cfg, "mtu"));

    // An interface that is down has no address: it is simply not advertised.
    unique_sl networks(sl_new());
    int count = 0;
    unique_sl names(config_get_string_list(cfg, "network"));
    for (size_t i = 0; i < sl_len(names.get()); i++) {
        const char *n = sl_get(names.get(), i);
        unique_text address(tallo_get_string_pathf("network.interface.%s.ipv4.address", n));
        unique_text netmask(tallo_get_string_pathf("network.interface.%s.ipv4.netmask", n));
        if (!address || !netmask)
            continue;
        networks.reset(sl_append_printf(networks.release(), "%s/%s", address.get(), netmask.get()));
        count++;
    }
    uci_write_option_int(run.uci, "num_adv_networks", count);
    write_option_sl_list(run.uci, "adv_networks", networks.get(), ",");
}
