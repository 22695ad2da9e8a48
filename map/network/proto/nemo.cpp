// NEMO (mobile router) interfaces: static settings plus the current IPv4
// networks of the local interfaces it advertises to the home agent.
#include "interface.h"
#include "proto.h"
#include "side_file.h"
#include "tallo.h"
#include "uci.h"

using namespace proto;

extern "C" void map_interface_nemo(FILE *out, network_node *node)
{
    config_node *cfg = network_config(node);
    if (!config_get_bool(cfg, "enable"))
        return;
    map_interface_name(out, node);
    uci_write_option_string(out, "proto", "%s", "nemo");
    uci_write_option_config(out, "home_address", cfg, "home_address");

    std::string_view coaddress = get(cfg, "coaddress.type");
    uci_write_option_config(out, "coaddress_type", cfg, "coaddress.type");
    if (coaddress == "interface")
        uci_write_option_config(out, "coaddress", cfg, "coaddress.interface");
    else if (coaddress == "ip")
        uci_write_option_config(out, "coaddress", cfg, "coaddress.address");

    bool tun_local_interface = get(cfg, "tun_local.type") == "interface";
    uci_write_option_config(out, "tun_local", cfg,
                            tun_local_interface ? "tun_local.interface" : "tun_local.type");

    uci_write_option_config(out, "home_agent", cfg, "home_agent");
    uci_write_option_config(out, "key", cfg, "key");
    uci_write_option_config(out, "spi", cfg, "spi");
    uci_write_option_int(out, "lifetime", config_get_int(cfg, "lifetime"));
    uci_write_option_int(out, "metric", config_get_int(cfg, "metric"));
    bool discovery = config_get_bool(cfg, "mtu_discovery");
    uci_write_option_bool(out, "mtu_discovery", discovery);
    if (!discovery)
        uci_write_option_int(out, "mtu", config_get_int(cfg, "mtu"));

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
    uci_write_option_int(out, "num_adv_networks", count);
    write_option_sl_list(out, "adv_networks", networks.get(), ",");
}
