// PPP interfaces: sessions over L2TPv2 (either end) and dial-in over a
// serial port.
#include "interface.h"
#include "proto.h"
#include "side_file.h"
#include "tallo.h"
#include "uci.h"

using namespace proto;

namespace {

void write_custom(FILE *out, config_node *cfg)
{
    uci_write_option_bool(out, "custom_enable", config_get_bool(cfg, "custom.enable"));
    uci_write_option_bool(out, "custom_override", config_get_bool(cfg, "custom.override"));
    uci_write_option_config(out, "custom_config_file", cfg, "custom.config_file");
}

}  // namespace

extern "C" {

void map_interface_pppol2tp(FILE *out, network_node *item)
{
    config_node *session = network_config(item);
    config_node *service = config_node_parent(config_node_parent(session));
    if (!service || !config_get_bool(service, "enable"))
        return;
    map_interface_name(out, item);
    map_interface_link(out, item);
    uci_write_option_int(out, "config_cookie", tallo_get_int32("vpn.l2tp.config_cookie", 0));
    uci_write_option_bool(out, "debug", config_get_bool(service, "debug"));
    uci_write_option_int(out, "metric", config_get_int(session, "metric"));
    uci_write_option_config(out, "username", session, "username");
    uci_write_option_config(out, "password", session, "password");
    write_custom(out, session);
    // Only a session that names its LNS is the LAC end, whatever the name.
    if (config_has_key(session, "lns")) {
        uci_write_option_string(out, "proto", "%s", "pppol2tp_lac");
        uci_write_option_config(out, "lns", session, "lns");
        uci_write_option_int(out, "port", config_get_int(session, "port"));
    } else {
        uci_write_option_string(out, "proto", "%s", "pppol2tp_lns");
        uci_write_option_config(out, "lac", session, "lac");
        uci_write_option_config(out, "local_ip", session, "local_address");
        uci_write_option_config(out, "remote_ip", session, "remote_address");
        uci_write_option_config(out, "auth", session, "auth");
        uci_write_option_bool(out, "default_route", config_get_bool(session, "default_route"));
    }
}

void map_interface_ppp_dialin(FILE *out, network_node *item)
{
    config_node *cfg = network_config(item);
    config_node *port = config_node_parent(cfg);
    if (!port || !config_get_bool(port, "enable") || get(port, "mode") != "ppp_dialin")
        return;
    map_interface_name(out, item);
    uci_write_option_string(out, "proto", "%s", "ppp_dialin");
    if (unique_text device(tallo_get_string_pathf("seriald.%s.device", config_key(port))); device)
        uci_write_option_string(out, "device", "%s", device.get());
    uci_write_option_config(out, "baudrate", port, "baudrate");
    uci_write_option_config(out, "flow", port, "flow");
    uci_write_option_int(out, "idle_timeout", config_get_duration(port, "idle_timeout"));
    uci_write_option_config(out, "local_ip", cfg, "local_address");
    uci_write_option_config(out, "remote_ip", cfg, "remote_address");
    uci_write_option_config(out, "auth", cfg, "auth");
    uci_write_option_config(out, "username", cfg, "username");
    uci_write_option_config(out, "password", cfg, "password");
    uci_write_option_int(out, "metric", config_get_int(cfg, "metric"));
    uci_write_option_bool(out, "default_route", config_get_bool(cfg, "default_route"));
    write_custom(out, cfg);
    uci_write_option_bool(out, "connect_enable", config_get_bool(cfg, "connect.enable"));
    uci_write_option_config(out, "connect_script", cfg, "connect.script");
}

}
