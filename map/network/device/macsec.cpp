// MACsec links (network.macsec): one interface section of protocol
// "macsec", named after the device; a manual key association carries its
// CAK and CKN first.
#include "tunnel.h"

void map_macsec(network_run &run, network_node *device)
{
    config_node *cfg = network_config(device);
    tunnel_local_end local = map_tunnel_start(run, device, cfg, true);
    if (!local.address)
        return;
    if (read_text(cfg, "type") == "manual") {
        uci_write_option_config(run.uci, "cak", cfg, "association.cak");
        uci_write_option_config(run.uci, "ckn", cfg, "association.ckn");
    }
    uci_write_option_string(run.uci, "local_ip", "%s", local.address.get());
    uci_write_option_config(run.uci, "type", cfg, "type");
    uci_write_option_string(run.uci, "name", "%s", network_name(device));
    uci_write_option_string(run.uci, "proto", "%s", "macsec");
    uci_write_option_string(run.uci, "device", "%s", local.device ? local.device.get() : "");
}
