// IPsec tunnel interfaces.  The IPsec generator runs first; a tunnel it
// left out has no connection file and so no interface, and the digest of
// the tunnel's live files makes the network daemon restart the tunnel
// whenever any of them changes.
#include <string>

#include "interface.h"
#include "ipsec.h"
#include "proto.h"
#include "side_file.h"
#include "uci.h"

using namespace proto;

namespace {

void write_backoff(FILE *out, config_node *settings, const char *prefix)
{
    std::string p(prefix);
    uci_write_option_int(out, (p + "_initial").c_str(), config_get_duration(settings, "duration"));
    uci_write_option_int(out, (p + "_limit").c_str(), config_get_duration(settings, "limit"));
    uci_write_option_int(out, (p + "_jitter").c_str(), config_get_int(settings, "jitter"));
    uci_write_option_string(out, (p + "_base").c_str(), "%lf", config_get_number(settings, "base"));
}

}  // namespace

extern "C" void map_interface_ipsec(FILE *out, network_node *item)
{
    config_node *tunnel = network_config(item);
    const char *name = config_key(tunnel);
    config_node *root = config_node_get_root(tunnel);
    if (!name || map_check_if_tunnel_is_nhrp(root, name))
        return;
    std::string conf = std::string("/var/run/ipsec.d/conf/") + name + ".conf";
    if (!file_exists(conf.c_str()))
        return;

    map_interface_name(out, item);
    uci_write_option_string(out, "proto", "%s", "ipsec");
    map_interface_link(out, network_find_device(network_find_parent(item, NETWORK_NODE_ROOT), tunnel));
    map_interface_metric(out, tunnel);
    uci_write_option_string(out, "initiate", "%s", config_get_bool(tunnel, "ike.initiate") ? "initiate" : "route");
    size_t policies = config_array_count(config_array(tunnel, "policy"));
    uci_write_option_int(out, "policies", policies ? static_cast<int>(policies) : 1);
    uci_write_option_int(out, "num_hosts", static_cast<int>(config_array_count(config_array(tunnel, "remote.hostname"))));
    write_backoff(out, config_lookup(root, "vpn.ipsec.advanced.connection_retry_timeout"), "retry_timeout");
    write_backoff(out, config_lookup(root, "vpn.ipsec.advanced.connection_try_interval"), "try_interval");

    // Tunnel keys hold only letters, digits, '_' and '-', so the name is
    // safe on the command line; the glob is what needs the shell.
    std::string command = std::string("cat /var/run/ipsec.d/*/") + name + ".* 2>/dev/null | md5sum";
    unique_text output(_process_capture(-1, -1, 1, 0, nullptr, "sh", "-c", command.c_str(), nullptr));
    if (std::string sum = first_word(output.get()); !sum.empty())
        uci_write_option_string(out, "conf_md5sum", "%s", sum.c_str());
}
