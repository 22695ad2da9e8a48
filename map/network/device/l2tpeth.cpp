// L2TPv3 Ethernet sessions (vpn.l2tpeth.<tunnel>.session.<key>): one
// interface section of protocol "l2tpeth" per session, named after its
// device.  The tunnel, the session's grandparent, holds the switch and the
// transport settings.
#include "tunnel.h"

void map_l2tpeth(network_run &run, network_node *device)
{
    config_node *session = network_config(device);
    config_node *tunnel = config_node_parent(config_node_parent(session));
    if (!tunnel)
        return;
    tunnel_local_end local = map_tunnel_start(run, device, tunnel, false);
    if (!local.address)
        return;
    uci_write_option_string(run.uci, "proto", "%s", "l2tpeth");
    uci_write_option_config(run.uci, "remote", tunnel, "remote");
    uci_write_option_string(run.uci, "local", "%s", local.address.get());
    uci_write_option_config(run.uci, "tunnel_id", tunnel, "tunnel_id");
    uci_write_option_config(run.uci, "peer_tunnel_id", tunnel, "peer_tunnel_id");
    uci_write_option_config(run.uci, "encapsulation", tunnel, "encapsulation");
    uci_write_option_int(run.uci, "udp_source_port", config_get_int(tunnel, "udp_source_port"));
    uci_write_option_int(run.uci, "udp_destination_port",
                         config_get_int(tunnel, "udp_destination_port"));
    uci_write_option_bool(run.uci, "udp_checksum", config_get_bool(tunnel, "udp_checksum"));
    for (const char *key :
         {"session_id", "peer_session_id", "cookie", "peer_cookie", "l2spec_type", "seq"})
        uci_write_option_config(run.uci, key, session, key);
}
