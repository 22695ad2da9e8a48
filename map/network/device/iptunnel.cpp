// IP tunnels (network.iptunnel): one interface section of protocol
// "iptunnel", named after the device.
#include "tunnel.h"

void map_iptunnel(network_run &run, network_node *device)
{
    config_node *cfg = network_config(device);
    tunnel_local_end local = map_tunnel_start(run, device, cfg, true);
    if (!local.address)
        return;
    uci_write_option_string(run.uci, "name", "%s", network_name(device));
    uci_write_option_string(run.uci, "proto", "%s", "iptunnel");
    uci_write_option_config(run.uci, "mode", cfg, "type");
    uci_write_option_config(run.uci, "remote", cfg, "remote");
    uci_write_option_string(run.uci, "local", "%s", local.address.get());
    uci_write_option_string(run.uci, "device", "%s", local.device ? local.device.get() : "");
    uci_write_option_bool(run.uci, "keepalive", config_get_bool(cfg, "keepalive"));
    if (!read_text(cfg, "key").empty())
        uci_write_option_config(run.uci, "key", cfg, "key");
}
