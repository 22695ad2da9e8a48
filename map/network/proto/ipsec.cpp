// IPsec tunnel interfaces.  The IPsec generator runs first; a tunnel it
// left out has no connection file and so no interface, and the digest of
// the tunnel's live files makes the network daemon restart the tunnel
// whenever any of them changes.
#include <string>

#include "ipsec_tree.h"
#include "mapper.h"
#include "side_file.h"

namespace {

void write_backoff(network_run &run, config_node *settings, const std::string &prefix)
{
    uci_write_option_int(run.uci, (prefix + "_initial").c_str(),
                         config_get_duration(settings, "duration"));
    uci_write_option_int(run.uci, (prefix + "_limit").c_str(),
                         config_get_duration(settings, "limit"));
    uci_write_option_int(run.uci, (prefix + "_jitter").c_str(), config_get_int(settings, "jitter"));
    uci_write_option_string(run.uci, (prefix + "_base").c_str(), "%lf",
                            config_get_number(settings, "base"));
}

}  // namespace

void map_interface_ipsec(network_run &run, network_node *item)
{
    config_node *tunnel = network_config(item);
    const char *name = config_key(tunnel);
    config_node *root = config_node_get_root(tunnel);
    if (!name || map_check_if_tunnel_is_nhrp(root, name))
        return;
    if (!file_exists(ipsec_tunnel_conf_file(ipsec_live_tree, name).c_str()))
        return;

    map_interface_name(run, item);
    uci_write_option_string(run.uci, "proto", "%s", "ipsec");
    map_interface_link(run, network_find_device(run.model, tunnel));
    map_interface_metric(run, tunnel);
    uci_write_option_string(run.uci, "initiate", "%s",
                            config_get_bool(tunnel, "ike.initiate") ? "initiate" : "route");
    size_t policies = config_array_count(config_array(tunnel, "policy"));
    uci_write_option_int(run.uci, "policies", policies ? static_cast<int>(policies) : 1);
    uci_write_option_int(
        run.uci, "num_hosts",
        static_cast<int>(config_array_count(config_array(tunnel, "remote.hostname"))));
    write_backoff(run, config_lookup(root, "vpn.ipsec.advanced.connection_retry_timeout"),
                  "retry_timeout");
    write_backoff(run, config_lookup(root, "vpn.ipsec.advanced.connection_try_interval"),
                  "try_interval");
    if (std::string sum = proto::md5sum_files(ipsec_tunnel_files(name)); !sum.empty())
        uci_write_option_string(run.uci, "conf_md5sum", "%s", sum.c_str());
}
