// PPP dial-in over a serial port (serial.<port>.ppp_dialin): the port's
// line settings, then the PPP settings of the dial-in object.
#include "mapper.h"
#include "tallo.h"

void map_interface_ppp_dialin(network_run &run, network_node *item)
{
    config_node *cfg = network_config(item);
    config_node *port = config_node_parent(cfg);
    if (!port || !config_get_bool(port, "enable") || read_text(port, "mode") != "ppp_dialin")
        return;
    map_interface_name(run, item);
    uci_write_option_string(run.uci, "proto", "%s", "ppp_dialin");
    // The serial daemon publishes which device the port is.
    if (unique_text device(tallo_get_string_pathf("seriald.%s.device", config_key(port))); device)
        uci_write_option_string(run.uci, "device", "%s", device.get());
    uci_write_option_config(run.uci, "baudrate", port, "baudrate");
    uci_write_option_config(run.uci, "flow", port, "flow");
    uci_write_option_int(run.uci, "idle_timeout", config_get_duration(port, "idle_timeout"));
    uci_write_option_config(run.uci, "local_ip", cfg, "local_address");
    uci_write_option_config(run.uci, "remote_ip", cfg, "remote_address");
    uci_write_option_config(run.uci, "auth", cfg, "auth");
    uci_write_option_config(run.uci, "username", cfg, "username");
    uci_write_option_config(run.uci, "password", cfg, "password");
    uci_write_option_int(run.uci, "metric", config_get_int(cfg, "metric"));
    uci_write_option_bool(run.uci, "default_route", config_get_bool(cfg, "default_route"));
    map_interface_custom_config(run, cfg);
    uci_write_option_bool(run.uci, "connect_enable", config_get_bool(cfg, "connect.enable"));
    uci_write_option_config(run.uci, "connect_script", cfg, "connect.script");
}
