// PPP sessions over L2TPv2 (vpn.l2tp.<service>.lac.<key> and .lns.<key>):
// the service's switch and the session's PPP settings, then its role.
#include "mapper.h"
#include "tallo.h"

void map_interface_pppol2tp(network_run &run, network_node *item)
{
    config_node *session = network_config(item);
    config_node *service = config_node_parent(config_node_parent(session));
    if (!service || !config_get_bool(service, "enable"))
        return;
    map_interface_name(run, item);
    map_interface_link(run, item);
    uci_write_option_int(run.uci, "config_cookie", tallo_get_int32("vpn.l2tp.config_cookie", 0));
    uci_write_option_bool(run.uci, "debug", config_get_bool(service, "debug"));
    uci_write_option_int(run.uci, "metric", config_get_int(session, "metric"));
    uci_write_option_config(run.uci, "username", session, "username");
    uci_write_option_config(run.uci, "password", session, "password");
    map_interface_custom_config(run, session);
    // Only a session that names its LNS is the LAC end, whatever the name.
    if (config_has_key(session, "lns")) {
        uci_write_option_string(run.uci, "proto", "%s", "pppol2tp_lac");
        uci_write_option_config(run.uci, "lns", session, "lns");
        uci_write_option_int(run.uci, "port", config_get_int(session, "port"));
    } else {
        uci_write_option_string(run.uci, "proto", "%s", "pppol2tp_lns");
        uci_write_option_config(run.uci, "lac", session, "lac");
        uci_write_option_config(run.uci, "local_ip", session, "local_address");
        uci_write_option_config(run.uci, "remote_ip", session, "remote_address");
        uci_write_option_config(run.uci, "auth", session, "auth");
        uci_write_option_bool(run.uci, "default_route", config_get_bool(session, "default_route"));
    }
}
