#include "interface.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "proto/proto.h"
#include "tallo.h"
#include "uci.h"

namespace {

network_t *run_model = nullptr;
bool run_failed = false;

// Which passthrough interface takes an interface as a source: the first one
// in model order whose source list names it.  Every static and DHCP section
// asks, so for the run's model the answer is indexed once instead of
// walking all interfaces per section.
struct passthrough_index {
    bool built = false;
    std::unordered_map<config_node *, const char *> owner;
};

// Made on first use, so that runs that never ask (every `config get`) do
// not construct it at start-up.
passthrough_index &sources_of_run()
{
    static passthrough_index index;
    return index;
}

const char *passthrough_owner(network_node *root, config_node *own, bool use_index)
{
    if (use_index && sources_of_run().built) {
        auto it = sources_of_run().owner.find(own);
        return it == sources_of_run().owner.end() ? nullptr : it->second;
    }
    for (network_node *n = network_first_type(root, NETWORK_NODE_INTERFACE); n;
         n = network_next_type(root, n, NETWORK_NODE_INTERFACE)) {
        if (network_interface_type(n) != NETWORK_INTERFACE_PASSTHROUGH)
            continue;
        config_node *cfg = network_config(n);
        config_node *sources = config_array(cfg, "passthrough.src");
        size_t count = config_array_count(sources);
        for (size_t i = 0; i < count; i++) {
            config_node *ref = config_array_get_ref(sources, i);
            if (use_index)
                sources_of_run().owner.emplace(ref, config_key(cfg));
            else if (ref == own)
                return config_key(cfg);
        }
    }
    if (use_index) {
        sources_of_run().built = true;
        return passthrough_owner(root, own, true);
    }
    return nullptr;
}

std::string_view text(const char *s) { return s ? std::string_view(s) : std::string_view(); }

std::string_view get(config_node *cfg, const char *path) { return text(config_get_string(cfg, path)); }

void write_string(FILE *out, const char *name, std::string_view value)
{
    uci_write_option_string(out, name, "%.*s", static_cast<int>(value.size()), value.data());
}

// An option that names another section: it must name it as UCI knows it.
void write_section_ref(FILE *out, const char *option, const char *section)
{
    unique_text name(uci_section_name(section));
    uci_write_option_string(out, option, "%s", name ? name.get() : "");
}

// Output of a helper program run without a shell, or empty when it could
// not run or printed nothing.
std::string capture(const char *program)
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, program, nullptr));
    return out ? std::string(out.get()) : std::string();
}

// The DHCP client's host name: the configured system name, else the
// kernel's as /bin/hostname prints it.
std::string hostname(config_node *config)
{
    config_node *system = config_lookup(config_node_get_root(config), "system");
    if (std::string_view name = system ? get(system, "name") : std::string_view(); !name.empty())
        return std::string(name);
    std::string out = capture("/bin/hostname");
    size_t start = out.find_first_not_of(" \n");
    if (start == std::string::npos)
        return {};
    size_t end = out.find_first_of(" \n", start);
    return out.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A VLAN device is named <base>.<vid>; the base may itself be a VLAN
// (eth0.7.100 is VLAN 100 on eth0.7), so the id is what follows the last dot.
void map_vlan(FILE *out, network_node *node, network_node *device)
{
    std::string_view name = text(network_name(device));
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return;
    std::string base(name.substr(0, dot)), vid(name.substr(dot + 1));
    const char *ifname = network_interface_name(node);
    int family = std::strncmp(ifname ? ifname : "", "ipv6", 4) == 0 ? 6 : 4;
    uci_write_section(out, "interface", network_config(device), "vlan%d_%s_%s", family,
                      base.c_str(), vid.c_str());
    uci_write_option_string(out, "ifname", "%s", base.c_str());
    uci_write_option_string(out, "proto", "%s", "vlan");
    uci_write_option_string(out, "vid", "%s", vid.c_str());
    write_section_ref(out, "name", ifname);
}

void map_static(FILE *out, network_node *node, network_node *device, config_node *cfg)
{
    map_interface_name(out, node);
    bool passthrough = map_interface_passthrough_src(out, node);
    uci_write_option_string(out, "proto", "%s", passthrough ? "passthrough_static4" : "static");
    map_interface_link(out, device);
    map_interface_metric(out, cfg);
    if (std::string_view address = get(cfg, "address"); !address.empty()) {
        size_t slash = address.find('/');
        write_string(out, "ipaddr", address.substr(0, slash));
        if (slash != std::string_view::npos)
            write_string(out, "netmask", address.substr(slash + 1));
    }
    if (!get(cfg, "gateway").empty())
        uci_write_option_config(out, "gateway", cfg, "gateway");
    unique_sl dns(config_get_string_list(cfg, "dns"));
    if (sl_len(dns.get()) > 0)
        write_option_sl_list(out, "dns", dns.get(), " ");
    if (cfg)
        map_interface_device_options(out, cfg);
    uci_write_option_bool(out, "force_link", config_get_bool(cfg, "force_link"));
}

void map_dhcp(FILE *out, network_node *node, network_node *device, config_node *cfg, bool v6)
{
    map_interface_name(out, node);
    map_interface_link(out, device);
    map_interface_metric(out, cfg);
    if (cfg)
        map_interface_device_options(out, cfg);
    map_interface_hostname(out, cfg);
    map_interface_passthrough_src(out, node);
    uci_write_option_string(out, "proto", "%s", v6 ? "dhcpv6" : "dhcp");
    if (v6)
        uci_write_option_bool(out, "sourcerouting", 0);
}

void map_prefix_delegation(FILE *out, network_node *node, network_node *device, config_node *cfg)
{
    map_interface_name(out, node);
    map_interface_link(out, device);
    uci_write_option_string(out, "proto", "%s", "static");
    uci_write_option_int(out, "ip6assign", config_get_int(cfg, "prefix_length"));
    if (!get(cfg, "prefix_id").empty())
        uci_write_option_config(out, "ip6hint", cfg, "prefix_id");
    if (cfg)
        map_interface_device_options(out, cfg);
    uci_write_option_bool(out, "force_link", 0);
}

// The management tunnel's address comes from tamsa_ip.  Its output ends
// with a line feed like any program's, which is not part of the address.
void map_management(FILE *out, network_node *node, network_node *device)
{
    std::string address = capture("tamsa_ip");
    while (!address.empty() && (address.back() == '\n' || address.back() == '\r'))
        address.pop_back();
    if (address.empty())
        return;
    map_interface_name(out, node);
    map_interface_link(out, device);
    uci_write_option_string(out, "proto", "%s", "static");
    write_string(out, "ipaddr", address);
    uci_write_option_string(out, "netmask", "%s", "255.255.255.255");
}

void map_pppoe(FILE *out, network_node *node, network_node *device, config_node *cfg)
{
    map_interface_name(out, node);
    map_interface_link(out, device);
    if (!config_get_bool(cfg, "enable"))
        return;
    uci_write_option_string(out, "proto", "%s", "pppoe");
    uci_write_option_config(out, "username", cfg, "pppoe.username");
    uci_write_option_config(out, "password", cfg, "pppoe.password");
    uci_write_option_bool(out, "debug", config_get_bool(cfg, "pppoe.debug"));
    uci_write_option_bool(out, "ipv4", config_get_bool(cfg, "ipv4.enable"));
    uci_write_option_int(out, "mtu4", config_get_int(cfg, "ipv4.mtu"));
    uci_write_option_int(out, "metric4", config_get_int(cfg, "ipv4.metric"));
    uci_write_option_bool(out, "ipv6", config_get_bool(cfg, "ipv6.enable"));
    uci_write_option_int(out, "mtu6", config_get_int(cfg, "ipv6.mtu"));
    uci_write_option_int(out, "metric6", config_get_int(cfg, "ipv6.metric"));
}

// Name of the source interface at position i of a passthrough list.
std::string source_name(config_node *sources, size_t i)
{
    if (config_node *ref = config_array_get_ref(sources, i))
        return std::string(text(config_key(ref)));
    std::string_view t = text(config_array_get_string(sources, i));
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
        unique_text passed(tallo_get_string_pathf("vigilo.ipv%c_interface_%s.passed", family, name.c_str()));
        if (passed && passed.get()[0] == 'n')
            continue;
        if (tallo_get_int_pathf(0, "network.interface.%s.ipv%c.up", name.c_str(), family))
            return name;
    }
    return {};
}

// Values of every child of a runtime key, in the store's order, joined by
// a blank.
void write_runtime_list(FILE *out, const char *option, const std::string &key)
{
    unique_sl names(tallo_keys(key.c_str()));
    unique_sl values;
    size_t count = sl_len(names.get());
    for (size_t i = 0; i < count; i++) {
        std::string child = key + "." + sl_get(names.get(), i);
        if (unique_text value(tallo_get_string(child.c_str())); value)
            values.reset(sl_append(values.release(), value.get()));
    }
    write_option_sl_list(out, option, values.get(), " ");
}

void write_runtime_string(FILE *out, const char *option, const std::string &key, const char *fallback)
{
    unique_text value(tallo_get_string(key.c_str()));
    uci_write_option_string(out, option, "%s", value ? value.get() : fallback);
}

void map_passthrough(FILE *out, network_node *node, network_node *device, config_node *cfg)
{
    config_node *p = config_object(cfg, "passthrough");
    config_node *sources = config_array(p, "src");
    bool ancillary = config_get_bool(p, "ancillary.enable");
    for (network_node *n = network_first_type(node, NETWORK_NODE_PROTO); n;
         n = network_next_type(node, n, NETWORK_NODE_PROTO)) {
        bool v6 = network_interface_type(n) == NETWORK_INTERFACE_PASSTHROUGH6;
        config_node *ncfg = network_config(n);
        std::string source = select_source(sources, v6 ? '6' : '4');
        if (!source.empty() || (!v6 && ancillary)) {
            map_interface_name(out, n);
            map_interface_link(out, device);
            map_interface_mtu(out, ncfg);
            uci_write_option_string(out, "proto", "%s",
                                    !source.empty() && v6 ? "passthrough6" : "passthrough4");
            if (config_has_key(p, "type")) {
                uci_write_option_config(out, "type", p, "type");
                config_node *server = config_object(p, "pppoe_server");
                for (const char *key : {"service_name", "ac_name", "auth", "username", "password"})
                    uci_write_option_config(out, key, server, key);
                uci_write_option_bool(out, "custom_enable", config_get_bool(server, "custom.enable"));
                uci_write_option_bool(out, "custom_override", config_get_bool(server, "custom.override"));
                uci_write_option_config(out, "custom_config_file", server, "custom.config_file");
            }
            if (!source.empty()) {
                std::string base = "network.interface." + source + (v6 ? ".ipv6" : ".ipv4");
                uci_write_option_string(out, "passthrough_src", "interface_%s", source.c_str());
                write_runtime_string(out, "ipaddr", base + ".address", "");
                write_runtime_string(out, "netmask", base + ".netmask", "");
                write_runtime_string(out, "gateway", base + ".gateway", "");
                write_runtime_string(out, "client_mtu", base + ".mtu", "1500");
                write_runtime_list(out, "dns_server", base + ".dns");
                write_runtime_list(out, "dns_domain", base + ".dns_domain");
            }
            if (!v6 && ancillary) {
                std::string_view address = get(p, "ancillary.address");
                size_t slash = address.find('/');
                write_string(out, "ancillary_ipaddr", address.substr(0, slash));
                write_string(out, "ancillary_netmask",
                             slash == std::string_view::npos ? std::string_view() : address.substr(slash + 1));
                uci_write_option_config(out, "ancillary_gateway", p, "ancillary.gw");
                uci_write_option_bool(out, "ancillary_dns_redirect", config_get_bool(p, "ancillary.dns"));
            }
        }
        if (!v6 && config_get_bool(cfg, "passthrough.ancillary.enable")) {
            uci_write_section(out, "interface", ncfg, "passthrough_ancillary_%s",
                              network_interface_name(n));
            uci_write_option_string(out, "proto", "%s", "static");
            uci_write_option_string(out, "ifname", "%s", "lo");
            uci_write_option_config(out, "ipaddr", cfg, "passthrough.ancillary.gw");
            uci_write_option_string(out, "netmask", "%s", "32");
        }
    }
}

}  // namespace

extern "C" {

network_t *map_network_model(void) { return run_model; }

void map_network_set_model(network_t *model)
{
    run_model = model;
    run_failed = false;
    sources_of_run() = passthrough_index{};
}

void map_network_write_failed(const char *path)
{
    log_error("cannot write %s: %m", path);
    run_failed = true;
}

int map_network_failed(void) { return run_failed; }

void map_interface_name(FILE *out, network_node *node)
{
    uci_write_section(out, "interface", network_config(node), "%s", network_interface_name(node));
}

void map_interface_link(FILE *out, network_node *device)
{
    if (device)
        uci_write_option_string(out, "ifname", "%s", network_name(device));
}

void map_interface_metric(FILE *out, config_node *config)
{
    int metric = config_get_int(config, "metric");
    if (metric == 0)
        return;
    static constexpr std::string_view tunnel_prefix = "vpn.ipsec.tunnel.";
    unique_text path(config_path(config));
    if (path && text(path.get()).starts_with(tunnel_prefix) && config_get_bool(config, "vigilo.enable")) {
        unique_text passed(tallo_get_string_pathf("vigilo.ipsec_%s.passed", path.get() + tunnel_prefix.size()));
        if (!passed || std::strcmp(passed.get(), "y") != 0)
            metric = INT_MAX;
    }
    uci_write_option_int(out, "metric", metric);
}

int map_interface_passthrough_src(FILE *out, network_node *node)
{
    network_node *iface = network_type(node) == NETWORK_NODE_PROTO ? network_find_parent(node, NETWORK_NODE_INTERFACE)
                                                                   : node;
    config_node *own = network_config(iface);
    network_node *root = network_find_parent(node, NETWORK_NODE_ROOT);
    if (!own || !root)
        return 0;
    const char *owner = passthrough_owner(root, own, root == run_model);
    if (!owner)
        return 0;
    uci_write_option_string(out, "passthrough", "%s", owner);
    return 1;
}

void map_interface_hostname(FILE *out, config_node *config)
{
    std::string name = hostname(config);
    if (name.empty())
        return;
    write_string(out, "hostname", name);
    uci_write_option_bool(out, "dhcp_hostname", config_get_bool(config, "dhcp_hostname"));
}

void map_interface_mtu(FILE *out, config_node *config)
{
    if (!config_has_key(config, "mtu"))
        return;
    uci_write_option_int(out, "mtu", config_get_int(config, "mtu"));
    uci_write_option_string(out, "reqopts", "%s", "mtu");
}

void map_interface_device_options(FILE *out, config_node *config)
{
    if (config_has_key(config, "mac") && !get(config, "mac").empty())
        uci_write_option_config(out, "macaddr", config, "mac");
    map_interface_mtu(out, config);
    if (config_has_key(config, "promisc"))
        uci_write_option_bool(out, "promisc", config_get_bool(config, "promisc"));
}

void map_route(FILE *out, config_node *route, config_node *interface_config)
{
    uci_write_section(out, "route", route, nullptr);
    if (const char *dst = config_get_string(route, "dst"); dst && *dst) {
        unsigned int address = 0;
        int prefix = 0;
        char dotted[16];
        struct in_addr in {};
        if (xip4_parse_network(dst, &address, &prefix)) {
            in.s_addr = address;
            if (inet_ntop(AF_INET, &in, dotted, sizeof dotted)) {
                uci_write_option_string(out, "target", "%s", dotted);
                if (prefix != 32)
                    uci_write_option_int(out, "netmask", prefix);
            }
        }
    }
    if (interface_config) {
        if (network_node *p = network_find_proto(map_network_model(), interface_config, "ipv4")) {
            write_section_ref(out, "interface", network_interface_name(p));
            config_node *cfg = network_config(p);
            std::string_view address = get(cfg, "address");
            if (network_interface_type(p) == NETWORK_INTERFACE_STATIC && !address.empty())
                write_string(out, "source", address.substr(0, address.find('/')));
        }
    }
    if (!get(route, "gateway").empty()) {
        uci_write_option_config(out, "gateway", route, "gateway");
        uci_write_option_bool(out, "onlink", config_get_bool(route, "onlink"));
    }
    if (int mtu = config_get_int(route, "mtu"); mtu != 0)
        uci_write_option_int(out, "mtu", mtu);
    uci_write_option_int(out, "metric", config_get_int(route, "metric"));
}

void map_interface(FILE *out, network_node *node)
{
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    config_node *cfg = network_config(node);
    if (device && network_device_type(device) == NETWORK_DEVICE_VLAN)
        map_vlan(out, node, device);

    switch (network_interface_type(node)) {
    case NETWORK_INTERFACE_ETHERNET:
        for (network_node *p = network_first_type(node, NETWORK_NODE_PROTO); p;
             p = network_next_type(node, p, NETWORK_NODE_PROTO)) {
            map_interface(out, p);
            map_interface_mtu(out, cfg);
        }
        break;
    case NETWORK_INTERFACE_STATIC:
        map_static(out, node, device, cfg);
        break;
    case NETWORK_INTERFACE_DHCP:
        map_dhcp(out, node, device, cfg, false);
        break;
    case NETWORK_INTERFACE_DHCPV6:
        map_dhcp(out, node, device, cfg, true);
        break;
    case NETWORK_INTERFACE_PREFIX_DELEGATION:
        map_prefix_delegation(out, node, device, cfg);
        break;
    case NETWORK_INTERFACE_VELMO:
        map_management(out, node, device);
        break;
    case NETWORK_INTERFACE_MODEM:
        map_interface_modem(out, node);
        break;
    case NETWORK_INTERFACE_NEMO:
        map_interface_nemo(out, node);
        break;
    case NETWORK_INTERFACE_OPENVPN:
        map_interface_openvpn(out, node);
        break;
    case NETWORK_INTERFACE_IPSEC:
        map_interface_ipsec(out, node);
        break;
    case NETWORK_INTERFACE_PPPOE:
        map_pppoe(out, node, device, cfg);
        break;
    case NETWORK_INTERFACE_PASSTHROUGH:
        map_passthrough(out, node, device, cfg);
        break;
    case NETWORK_INTERFACE_PPPOL2TP:
        map_interface_pppol2tp(out, node);
        break;
    case NETWORK_INTERFACE_PPP_DIALIN:
        map_interface_ppp_dialin(out, node);
        break;
    default:
        break;
    }
}

}
