// Pieces of interface sections that several mappers write, and the parts of
// a run that they share.
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "mapper.h"
#include "tallo.h"

namespace {

const char *passthrough_owner(network_run &run, config_node *own)
{
    passthrough_sources &sources = run.sources;
    if (!sources.built) {
        for (network_node *n = network_first_type(run.model, NETWORK_NODE_INTERFACE); n;
             n = network_next_type(run.model, n, NETWORK_NODE_INTERFACE)) {
            if (network_interface_type(n) != NETWORK_INTERFACE_PASSTHROUGH)
                continue;
            config_node *cfg = network_config(n);
            config_node *list = config_array(cfg, "passthrough.src");
            size_t count = config_array_count(list);
            for (size_t i = 0; i < count; i++)
                sources.owner.emplace(config_array_get_ref(list, i), config_key(cfg));
        }
        sources.built = true;
    }
    auto it = sources.owner.find(own);
    return it == sources.owner.end() ? nullptr : it->second;
}

// The DHCP client's host name: the configured system name, else the
// kernel's as /bin/hostname prints it.
std::string hostname(config_node *config)
{
    config_node *system = config_lookup(config_node_get_root(config), "system");
    if (std::string_view name = system ? read_text(system, "name") : std::string_view();
        !name.empty())
        return std::string(name);
    unique_text captured(_process_capture(-1, -1, 1, 0, nullptr, "/bin/hostname", nullptr));
    std::string_view out = text_view(captured.get());
    size_t start = out.find_first_not_of(" \n");
    if (start == std::string_view::npos)
        return {};
    size_t end = out.find_first_of(" \n", start);
    return std::string(out.substr(start, end == std::string_view::npos ? end : end - start));
}

}  // namespace

runtime_store::~runtime_store()
{
    if (opened)
        tallo_deinit();
}

void runtime_store::open()
{
    opened = true;
    if (tallo_init() != 0)
        log_error("failed to initialize tallo interface");
}

void map_network_write_failed(network_run &run, const char *path)
{
    log_error("cannot write %s: %m", path);
    run.side_file_failed = true;
}

void map_interface_name(network_run &run, network_node *node)
{
    uci_write_section(run.uci, "interface", network_config(node), "%s",
                      network_interface_name(node));
}

void map_interface_link(network_run &run, network_node *device)
{
    if (device)
        uci_write_option_string(run.uci, "ifname", "%s", network_name(device));
}

void map_interface_metric(network_run &run, config_node *config)
{
    int metric = config_get_int(config, "metric");
    if (metric == 0)
        return;
    static constexpr std::string_view tunnel_prefix = "vpn.ipsec.tunnel.";
    unique_text path(config_path(config));
    if (path && text_view(path.get()).starts_with(tunnel_prefix) &&
        config_get_bool(config, "vigilo.enable")) {
        unique_text passed(
            tallo_get_string_pathf("vigilo.ipsec_%s.passed", path.get() + tunnel_prefix.size()));
        if (!passed || std::strcmp(passed.get(), "y") != 0)
            metric = INT_MAX;
    }
    uci_write_option_int(run.uci, "metric", metric);
}

int map_interface_passthrough_src(network_run &run, network_node *node)
{
    network_node *iface = network_type(node) == NETWORK_NODE_PROTO
                              ? network_find_parent(node, NETWORK_NODE_INTERFACE)
                              : node;
    config_node *own = network_config(iface);
    if (!own || !run.model)
        return 0;
    const char *owner = passthrough_owner(run, own);
    if (!owner)
        return 0;
    uci_write_option_string(run.uci, "passthrough", "%s", owner);
    return 1;
}

void map_interface_hostname(network_run &run, config_node *config)
{
    std::string name = hostname(config);
    if (name.empty())
        return;
    uci_write_option_text(run.uci, "hostname", name);
    uci_write_option_bool(run.uci, "dhcp_hostname", config_get_bool(config, "dhcp_hostname"));
}

void map_interface_mtu(network_run &run, config_node *config)
{
    if (!config_has_key(config, "mtu"))
        return;
    uci_write_option_int(run.uci, "mtu", config_get_int(config, "mtu"));
    uci_write_option_string(run.uci, "reqopts", "%s", "mtu");
}

void map_interface_device_options(network_run &run, config_node *config)
{
    if (config_has_key(config, "mac") && !read_text(config, "mac").empty())
        uci_write_option_config(run.uci, "macaddr", config, "mac");
    map_interface_mtu(run, config);
    if (config_has_key(config, "promisc"))
        uci_write_option_bool(run.uci, "promisc", config_get_bool(config, "promisc"));
}

void map_interface_custom_config(network_run &run, config_node *config)
{
    uci_write_option_bool(run.uci, "custom_enable", config_get_bool(config, "custom.enable"));
    uci_write_option_bool(run.uci, "custom_override", config_get_bool(config, "custom.override"));
    uci_write_option_config(run.uci, "custom_config_file", config, "custom.config_file");
}
