// Cellular modem interfaces: sections of protocol "mm" for the modem
// manager, and the service-provider file listing each interface's APNs.
#include <cstring>
#include <string>
#include <utility>

#include "mapper.h"
#include "side_file.h"
#include "tallo.h"

using namespace proto;

namespace {

bool has_children(network_node *node, int at_least)
{
    int n = 0;
    for (network_node *c = network_first(node); c && n < at_least; c = network_next_child(c))
        n++;
    return n >= at_least;
}

void write_custom_gateway(network_run &run, config_node *modem)
{
    if (!config_get_bool(modem, "custom_gw.enable"))
        return;
    const char *gateway = config_get_string(modem, "custom_gw.gateway");
    if (!gateway || !*gateway)
        return;
    unique_sl parts(sl_split(gateway, '/'));
    uci_write_option_string(run.uci, "custom_gateway", "%s", sl_get(parts.get(), 0));
    if (sl_len(parts.get()) > 1)
        uci_write_option_string(run.uci, "custom_netmask", "%s", sl_get(parts.get(), 1));
}

void write_ip_settings(network_run &run, config_node *cfg, config_node *modem)
{
    bool v4 = config_get_bool(cfg, "ipv4.enable");
    bool v6 = config_get_bool(cfg, "ipv6.enable");
    if (v4) {
        uci_write_option_int(run.uci, "metric4", config_get_int(cfg, "ipv4.metric"));
        uci_write_option_int(run.uci, "mtu4", config_get_int(cfg, "ipv4.mtu"));
        uci_write_option_string(run.uci, "reqopts", "%s", "mtu");
        uci_write_option_config(run.uci, "ip4_method", cfg, "ipv4.modem_type");
        write_custom_gateway(run, modem);
    }
    if (v6) {
        uci_write_option_int(run.uci, "metric6", config_get_int(cfg, "ipv6.metric"));
        uci_write_option_int(run.uci, "mtu6", config_get_int(cfg, "ipv6.mtu"));
        uci_write_option_config(run.uci, "ip6_method", cfg, "ipv6.modem_type");
    }
    uci_write_option_string(run.uci, "ip_version", "%s", v4 && v6 ? "auto" : v6 ? "ipv6" : "ipv4");
    uci_write_option_bool(run.uci, "clear_try_on_proto_up",
                          v4 || v6 ? !config_get_bool(cfg, "vigilo.enable") : 1);
}

// One line per APN that has a name.  The file quotes values in single
// quotes and separates the leading fields with commas, so a quote (or a
// comma in the APN field) would end its field early.  True when the file
// was written completely.
bool write_service_providers(network_run &run, const std::string &path, config_node *modem)
{
    unique_file f = create_side_file(run, path, true);
    if (!f)
        return false;
    config_node *apns = config_array(modem, "apn");
    for (config_node *apn = config_array_first(apns); apn; apn = config_array_next(apn)) {
        if (read_text(apn, "apn").empty())
            continue;
        side_record line;
        line.text("*,*,,,").value(apn, "apn", "',").text(",internet,dns='' ip_version='");
        line.value(apn, "ip_version", "'").text("' auth='").value(apn, "auth", "'");
        line.text("' username='").value(apn, "username", "'");
        line.text("' password='").value(apn, "password", "'");
        line.text("' attm2mglobal='").text(config_get_bool(apn, "attm2mglobal") ? "1" : "0");
        line.text("'");
        if (int cid = config_get_int(apn, "cid"); cid != 0)
            line.text(" cid=").text(std::to_string(cid));
        line.write(f.get(), path);
    }
    return finish_side_file(run, std::move(f), path);
}

}  // namespace

void map_interface_modem(network_run &run, network_node *node)
{
    network_node *modem_node = network_find_parent(node, NETWORK_NODE_MODEM);
    if (!modem_node)
        return;
    config_node *cfg = network_config(node);
    const char *key = config_key(cfg);
    if (!key)
        return;
    int idx = tallo_get_int_pathf(-1, "mm.map.interface_idx.%s", key);
    if (idx < 0)
        return;
    config_node *modem = config_object(cfg, "modem");

    map_interface_name(run, node);
    uci_write_option_string(run.uci, "proto", "%s", "mm");
    uci_write_option_int(run.uci, "idx", idx);
    uci_write_option_config(run.uci, "pin", modem, "pin");
    uci_write_option_int(run.uci, "retry_seconds", config_get_int(modem, "retry_seconds"));
    uci_write_option_int(run.uci, "registration_timeout",
                         config_get_int(modem, "registration_timeout"));
    uci_write_option_int(run.uci, "connection_timeout",
                         config_get_int(modem, "connection_timeout"));
    uci_write_option_bool(run.uci, "roaming", config_get_bool(modem, "roaming"));
    uci_write_option_config(run.uci, "operator_mode", modem, "operator_mode");
    uci_write_option_config(run.uci, "operator", modem, "operator");
    uci_write_option_config(run.uci, "operator_technology", modem, "operator_technology");
    uci_write_option_bool(run.uci, "multi_bearer", has_children(modem_node, 2));
    uci_write_option_int(run.uci, "interface_number",
                         tallo_get_int_pathf(0, "mm.map.interface_number.%s", key));

    config_node *system = config_lookup(config_node_get_root(modem ? modem : cfg), "system");
    uci_write_option_config(run.uci, "hostname", system, "name");
    uci_write_option_bool(run.uci, "dhcp_hostname", 0);

    write_ip_settings(run, cfg, modem);

    if (config_get_bool(modem, "sim_failover") &&
        read_text(network_config(modem_node), "sim_slot") == "any") {
        uci_write_option_int(run.uci, "sim_failover_retries",
                             config_get_int(modem, "sim_failover_retries"));
        uci_write_option_config(run.uci, "sim_failover_alt", modem, "sim_failover_alt");
    }

    std::string path = std::string("/var/run/serviceproviders-") + key + ".txt";
    if (write_service_providers(run, path, modem)) {
        uci_write_option_string(run.uci, "service_providers", "%s", path.c_str());
        if (std::string sum = md5sum_file(path.c_str()); !sum.empty())
            uci_write_option_text(run.uci, "service_providers_md5sum", sum);
        uci_write_option_bool(run.uci, "service_providers_override",
                              config_get_bool(modem, "apn_lock"));
    }

    map_interface_passthrough_src(run, node);
}

void map_modems_without_interface(network_run &run)
{
    unique_sl keys(tallo_keys("mm.map.no_interface_idx"));
    size_t count = sl_len(keys.get());
    for (size_t i = 0; i < count; i++) {
        const char *k = sl_get(keys.get(), i);
        uci_write_config_section_type_name(run.uci, "interface", "mm_no_interface_%s", k);
        uci_write_option_string(run.uci, "proto", "%s", "mm");
        uci_write_option_string(run.uci, "idx", "%s", k);
        uci_write_option_bool(run.uci, "no_interface", 1);
        uci_write_option_int(run.uci, "sim_failover_retries", 2);
        uci_write_option_int(run.uci, "retry_seconds", 20);
        uci_write_option_int(run.uci, "registration_timeout", 90);
    }
}

void map_modems_fw_update_interface(network_run &run)
{
    unique_sl keys(tallo_keys("mm.sh.update.modem"));
    size_t count = sl_len(keys.get());
    for (size_t i = 0; i < count; i++) {
        const char *m = sl_get(keys.get(), i);
        if (!m || !*m)
            break;
        unique_text iface(tallo_get_string_pathf("mm.sh.update.modem.%s.iface", m));
        unique_text host(tallo_get_string_pathf("mm.sh.update.modem.%s.host", m));
        uci_write_config_section_type_name(run.uci, "interface", "interface_%s", m);
        uci_write_option_string(run.uci, "proto", "%s", "mm_update");
        uci_write_option_bool(run.uci, "update_interface", 1);
        uci_write_option_string(run.uci, "modem", "%s", m);
        uci_write_option_string(run.uci, "iface", "%s", iface ? iface.get() : "");
        uci_write_option_string(run.uci, "host", "%s", host ? host.get() : "");
    }
}
