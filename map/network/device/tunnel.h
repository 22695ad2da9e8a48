// The common start of the tunnel devices' sections (IP tunnel, MACsec,
// L2TPv3): the local end point is read from the runtime values of the
// interface that the tunnel's "local" setting names.  Without a local
// address there is nothing to set up yet, so no section is written.
#pragma once
#include "mapper.h"
#include "tallo.h"

struct tunnel_local_end {
    unique_text address;  // null: no section was started
    unique_text device;
};

// For an enabled tunnel (configured at `tunnel`) whose local interface has
// an address: reads that address (and, when asked, the local device) and
// writes the header of the device's section, named after the device.
inline tunnel_local_end map_tunnel_start(network_run &run, network_node *device,
                                         config_node *tunnel, bool with_device)
{
    tunnel_local_end local;
    if (!config_get_bool(tunnel, "enable"))
        return local;
    // The interface's configuration path is also the prefix of its
    // runtime keys.
    unique_text prefix(config_path(config_get_ref(tunnel, "local")));
    if (!prefix)
        return local;
    local.address.reset(tallo_get_string_pathf("%s.ipv4.address", prefix.get()));
    if (!local.address)
        return local;
    if (with_device)
        local.device.reset(tallo_get_string_pathf("%s.device", prefix.get()));
    uci_write_section(run.uci, "interface", network_config(device), "%s", network_name(device));
    return local;
}
