// Tunnel devices: IP tunnels, MACsec links and L2TPv3 Ethernet sessions.
// Each takes its local end point from the runtime values of the interface
// that its "local" setting names; without a local address there is nothing
// to set up yet, so no section is written.
#include <string>

#include "proto.h"
#include "side_file.h"
#include "tallo.h"
#include "uci.h"

using namespace proto;

namespace {

struct local_end {
    unique_text address;
    unique_text device;
};

// The local end point of an enabled tunnel; empty when the tunnel is
// disabled or its local interface has no address yet.
local_end read_local(config_node *cfg, bool with_device)
{
    local_end local;
    if (!config_get_bool(cfg, "enable"))
        return local;
    unique_text prefix(config_path(config_get_ref(cfg, "local")));
    if (!prefix)
        return local;
    local.address.reset(tallo_get_string_pathf("%s.ipv4.address", prefix.get()));
    if (with_device)
        local.device.reset(tallo_get_string_pathf("%s.device", prefix.get()));
    return local;
}

const char *or_empty(const unique_text &t) { return t ? t.get() : ""; }

}  // namespace

extern "C" {

void map_iptunnel(FILE *out, network_node *device)
{
    config_node *cfg = network_config(device);
    local_end local = read_local(cfg, true);
    if (!local.address)
        return;
    const char *name = network_name(device);
    uci_write_section(out, "interface", cfg, "%s", name);
    uci_write_option_string(out, "name", "%s", name);
    uci_write_option_string(out, "proto", "%s", "iptunnel");
    uci_write_option_config(out, "mode", cfg, "type");
    uci_write_option_config(out, "remote", cfg, "remote");
    uci_write_option_string(out, "local", "%s", local.address.get());
    uci_write_option_string(out, "device", "%s", or_empty(local.device));
    uci_write_option_bool(out, "keepalive", config_get_bool(cfg, "keepalive"));
    if (!get(cfg, "key").empty())
        uci_write_option_config(out, "key", cfg, "key");
}

void map_macsec(FILE *out, network_node *device)
{
    config_node *cfg = network_config(device);
    local_end local = read_local(cfg, true);
    if (!local.address)
        return;
    const char *name = network_name(device);
    uci_write_section(out, "interface", cfg, "%s", name);
    if (get(cfg, "type") == "manual") {
        uci_write_option_config(out, "cak", cfg, "association.cak");
        uci_write_option_config(out, "ckn", cfg, "association.ckn");
    }
    uci_write_option_string(out, "local_ip", "%s", local.address.get());
    uci_write_option_config(out, "type", cfg, "type");
    uci_write_option_string(out, "name", "%s", name);
    uci_write_option_string(out, "proto", "%s", "macsec");
    uci_write_option_string(out, "device", "%s", or_empty(local.device));
}

void map_l2tpeth(FILE *out, network_node *device)
{
    config_node *session = network_config(device);
    config_node *tunnel = config_node_parent(config_node_parent(session));
    if (!tunnel)
        return;
    local_end local = read_local(tunnel, false);
    if (!local.address)
        return;
    uci_write_section(out, "interface", session, "%s", network_name(device));
    uci_write_option_string(out, "proto", "%s", "l2tpeth");
    uci_write_option_config(out, "remote", tunnel, "remote");
    uci_write_option_string(out, "local", "%s", local.address.get());
    uci_write_option_config(out, "tunnel_id", tunnel, "tunnel_id");
    uci_write_option_config(out, "peer_tunnel_id", tunnel, "peer_tunnel_id");
    uci_write_option_config(out, "encapsulation", tunnel, "encapsulation");
    uci_write_option_int(out, "udp_source_port", config_get_int(tunnel, "udp_source_port"));
    uci_write_option_int(out, "udp_destination_port", config_get_int(tunnel, "udp_destination_port"));
    uci_write_option_bool(out, "udp_checksum", config_get_bool(tunnel, "udp_checksum"));
    for (const char *key : {"session_id", "peer_session_id", "cookie", "peer_cookie", "l2spec_type", "seq"})
        uci_write_option_config(out, key, session, key);
}

}
