// Passthrough interfaces: per protocol node, the section that hands the
// address of the first source interface that is up (and, for IPv4, the
// ancillary address) to the passthrough client; then, with an ancillary
// address, the loopback section of its gateway.
#include <string>

#include "mapper.h"
#include "tallo.h"

namespace {

// Name of the source interface at position i of a passthrough list.
std::string source_name(config_node *sources, size_t i)
{
    if (config_node *ref = config_array_get_ref(sources, i))
        return std::string(text_view(config_key(ref)));
    std::string_view t = text_view(config_array_get_string(sources, i));
    size_t slash = t.rfind('/');
    return std::string(slash == std::string_view::npos ? t : t.substr(slash + 1));
}

// The first source that the link check has not failed and that is up.
std::string select_source(config_node *sources, char family)
{
    size_t count = config_array_count(sources);
    for (size_t i = 0; i < count; i++) {
        std::string name = source_name(sources, i);
        if (name.empty())
            break;
        unique_text passed(
            tallo_get_string_pathf("vigilo.ipv%c_interface_%s.passed", family, name.c_str()));
        if (passed && passed.get()[0] == 'n')
            continue;
        if (tallo_get_int_pathf(0, "network.interface.%s.ipv%c.up", name.c_str(), family))
            return name;
    }
    return {};
}

void write_runtime_string(network_run &run, const char *option, const std::string &key,
                          const char *fallback)
{
    unique_text value(tallo_get_string(key.c_str()));
    uci_write_option_string(run.uci, option, "%s", value ? value.get() : fallback);
}

// Values of every child of a runtime key, in the store's order, joined by
// a blank.
void write_runtime_list(network_run &run, const char *option, const std::string &key)
{
    unique_sl names(tallo_keys(key.c_str()));
    unique_sl values;
    size_t count = sl_len(names.get());
    for (size_t i = 0; i < count; i++) {
        std::string child = key + "." + sl_get(names.get(), i);
        if (unique_text value(tallo_get_string(child.c_str())); value)
            values.reset(sl_append(values.release(), value.get()));
    }
    write_option_sl_list(run.uci, option, values.get(), " ");
}

// The source's live address, network and name servers.
void write_source(network_run &run, const std::string &source, bool v6)
{
    std::string base = "network.interface." + source + (v6 ? ".ipv6" : ".ipv4");
    uci_write_option_string(run.uci, "passthrough_src", "interface_%s", source.c_str());
    write_runtime_string(run, "ipaddr", base + ".address", "");
    write_runtime_string(run, "netmask", base + ".netmask", "");
    write_runtime_string(run, "gateway", base + ".gateway", "");
    write_runtime_string(run, "client_mtu", base + ".mtu", "1500");
    write_runtime_list(run, "dns_server", base + ".dns");
    write_runtime_list(run, "dns_domain", base + ".dns_domain");
}

// The address handed out when no source is up; the configuration holds it
// with its prefix length.
void write_ancillary(network_run &run, config_node *p)
{
    std::string_view address = read_text(p, "ancillary.address");
    size_t slash = address.find('/');
    uci_write_option_text(run.uci, "ancillary_ipaddr", address.substr(0, slash));
    uci_write_option_text(run.uci, "ancillary_netmask",
                          slash == std::string_view::npos ? std::string_view()
                                                          : address.substr(slash + 1));
    uci_write_option_config(run.uci, "ancillary_gateway", p, "ancillary.gw");
    uci_write_option_bool(run.uci, "ancillary_dns_redirect", config_get_bool(p, "ancillary.dns"));
}

}  // namespace

void map_interface_passthrough(network_run &run, network_node *node)
{
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    config_node *cfg = network_config(node);
    config_node *p = config_object(cfg, "passthrough");
    config_node *sources = config_array(p, "src");
    bool ancillary = config_get_bool(p, "ancillary.enable");
    for (network_node *n = network_first_type(node, NETWORK_NODE_PROTO); n;
         n = network_next_type(node, n, NETWORK_NODE_PROTO)) {
        bool v6 = network_interface_type(n) == NETWORK_INTERFACE_PASSTHROUGH6;
        std::string source = select_source(sources, v6 ? '6' : '4');
        if (!source.empty() || (!v6 && ancillary)) {
            map_interface_name(run, n);
            map_interface_link(run, device);
            map_interface_mtu(run, network_config(n));
            uci_write_option_string(run.uci, "proto", "%s",
                                    !source.empty() && v6 ? "passthrough6" : "passthrough4");
            if (config_has_key(p, "type")) {
                uci_write_option_config(run.uci, "type", p, "type");
                config_node *server = config_object(p, "pppoe_server");
                for (const char *key : {"service_name", "ac_name", "auth", "username", "password"})
                    uci_write_option_config(run.uci, key, server, key);
                map_interface_custom_config(run, server);
            }
            if (!source.empty())
                write_source(run, source, v6);
            if (!v6 && ancillary)
                write_ancillary(run, p);
        }
        if (!v6 && ancillary) {
            uci_write_section(run.uci, "interface", network_config(n), "passthrough_ancillary_%s",
                              network_interface_name(n));
            uci_write_option_string(run.uci, "proto", "%s", "static");
            uci_write_option_string(run.uci, "ifname", "%s", "lo");
            uci_write_option_config(run.uci, "ipaddr", p, "ancillary.gw");
            uci_write_option_string(run.uci, "netmask", "%s", "32");
        }
    }
}
