// Route sections: the static routes, then the multicast routes, one
// anonymous section each.
#include <arpa/inet.h>
#include <netinet/in.h>

#include "mapper.h"

void map_route(network_run &run, config_node *route, config_node *interface_config)
{
    uci_write_section(run.uci, "route", route, nullptr);
    if (const char *dst = config_get_string(route, "dst"); dst && *dst) {
        unsigned int address = 0;
        int prefix = 0;
        char dotted[16];
        struct in_addr in {};
        if (xip4_parse_network(dst, &address, &prefix)) {
            in.s_addr = address;
            if (inet_ntop(AF_INET, &in, dotted, sizeof dotted)) {
                uci_write_option_string(run.uci, "target", "%s", dotted);
                if (prefix != 32)
                    uci_write_option_int(run.uci, "netmask", prefix);
            }
        }
    }
    if (interface_config) {
        if (network_node *p = network_find_proto(run.model, interface_config, "ipv4")) {
            uci_write_option_section(run.uci, "interface", network_interface_name(p));
            std::string_view address = read_text(network_config(p), "address");
            if (network_interface_type(p) == NETWORK_INTERFACE_STATIC && !address.empty())
                uci_write_option_text(run.uci, "source", address.substr(0, address.find('/')));
        }
    }
    if (!read_text(route, "gateway").empty()) {
        uci_write_option_config(run.uci, "gateway", route, "gateway");
        uci_write_option_bool(run.uci, "onlink", config_get_bool(route, "onlink"));
    }
    if (int mtu = config_get_int(route, "mtu"); mtu != 0)
        uci_write_option_int(run.uci, "mtu", mtu);
    uci_write_option_int(run.uci, "metric", config_get_int(route, "metric"));
}

void map_routes(network_run &run)
{
    config_node *routes = config_array(run.config, "network.route.static");
    for (config_node *r = config_array_first(routes); r; r = config_array_next(r)) {
        config_node *iface = config_get_ref(r, "interface");
        if (config_get_bool(r, "enable"))
            map_route(run, r, iface);
    }
    // Each multicast entry gives one route per interface it lists.
    if (!config_object_has_key(run.config, "service", "multicast"))
        return;
    for (config_node *m = config_object_first(config_object(run.config, "service.multicast")); m;
         m = config_object_next(m)) {
        if (!config_get_bool(m, "enable"))
            continue;
        config_node *list = config_array(m, "interface");
        size_t count = config_array_count(list);
        for (size_t i = 0; i < count; i++)
            map_route(run, m, config_array_get_ref(list, i));
    }
}
