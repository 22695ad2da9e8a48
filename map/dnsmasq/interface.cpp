// Per-interface DHCP blocks of /var/run/dnsmasq.conf: a DHCPv4 server
// (range, options, static leases, boot settings) or relay lines for static
// interfaces, a stateless DHCPv6 range for delegated prefixes, and
// except-interface lines that keep dnsmasq off handed-through devices.
//
// Every line of a block carries the node's network name as dnsmasq tag, so
// options and leases of one interface never leak to another.
#include <string>
#include <string_view>

#include "anvil.h"
#include "dnsmasq.h"
#include "internal.h"
#include "network.h"
#include "quill.h"
#include "text.h"

namespace {

using namespace dnsmasq;

constexpr int min_lease_time = 120;
// Most data one DHCP option carries.
constexpr size_t max_option_data = 255;

std::string_view get(config_node *cfg, const std::string &path)
{
    return text_or_empty(config_get_string(cfg, path.c_str()));
}

std::string_view before_last(std::string_view s, char c)
{
    size_t pos = s.rfind(c);
    return pos == std::string_view::npos ? s : s.substr(0, pos);
}

// Appends ",<value>" as put() writes it, or nothing when put() refuses it.
bool put_item(std::string &line, const char *value, field f, const origin &from)
{
    size_t mark = line.size();
    line += ',';
    if (put(line, value, f, from))
        return true;
    line.resize(mark);
    return false;
}

// One value of a gateway/DNS/NTP/WINS option: "auto" lets dnsmasq put in
// its own address on that interface, "custom" the configured one; anything
// else contributes no value.
void put_server_value(std::string &line, config_node *cfg, const std::string &key)
{
    std::string_view mode = get(cfg, key);
    if (mode == "auto") {
        line += ",0.0.0.0";
    } else if (mode == "custom") {
        std::string custom_key = key + "_custom";
        const char *custom = config_get_string(cfg, custom_key.c_str());
        // A bare comma would be an empty address, which dnsmasq refuses
        // to start with.
        if (!custom || !*custom)
            ignore({cfg, custom_key}, "\"custom\" is chosen but no address is set");
        else
            put_item(line, custom, field::ipv4, {cfg, custom_key});
    }
}

void write_server_option(std::FILE *out, config_node *cfg, std::string_view tag, const char *option,
                         const char *name, const char *comment)
{
    std::string line = "dhcp-option=net:" + std::string(tag) + "," + option;
    put_server_value(line, cfg, "dhcp_server.advanced.primary_" + std::string(name));
    put_server_value(line, cfg, "dhcp_server.advanced.secondary_" + std::string(name));
    line += " # ";
    line += comment;
    write_line(out, line, {cfg, ""});
}

void write_range(std::FILE *out, config_node *cfg, std::string_view tag, std::string_view prefix)
{
    std::string_view start = get(cfg, "dhcp_server.lease_start");
    std::string_view end = get(cfg, "dhcp_server.lease_end");
    int lease = config_get_duration(cfg, "dhcp_server.lease_time");
    if (lease < min_lease_time)
        lease = min_lease_time;

    // A bound without a dot is only the host part; it takes its network
    // part from the other bound when that one is complete, else from the
    // interface address.
    bool start_full = start.find('.') != std::string_view::npos;
    bool end_full = end.find('.') != std::string_view::npos;
    std::string first, last;
    if (start_full)
        first = start;
    else
        first = std::string(end_full ? before_last(end, '.') : prefix) + "." + std::string(start);
    if (end_full)
        last = end;
    else
        last = std::string(start_full ? before_last(start, '.') : prefix) + "." + std::string(end);

    std::string line = "dhcp-range=" + range_tag(tag);
    if (!put_item(line, first.c_str(), field::ipv4, {cfg, "dhcp_server.lease_start"}) ||
        !put_item(line, last.c_str(), field::ipv4, {cfg, "dhcp_server.lease_end"}))
        return;
    line += "," + std::to_string(lease) + "s";
    write_line(out, line, {cfg, "dhcp_server"});
}

// The value of a custom option, by its datatype, or false when it has
// none that dnsmasq would take.
bool put_custom_value(std::string &line, config_node *option, std::string_view datatype)
{
    if (datatype == "ipv4") {
        unique_sl list(config_get_string_list(option, "value_ipv4_list"));
        size_t written = 0;
        for (size_t i = 0; i < sl_len(list.get()); ++i)
            if (put_item(line, sl_get(list.get(), i), field::ipv4,
                         {option, "value_ipv4_list", int(i)}))
                ++written;
        // dnsmasq refuses an address option that ends in a comma, and an
        // address list option without addresses is no valid option.
        if (written == 0) {
            ignore({option, "value_ipv4_list"}, "an ipv4 option needs at least one address");
            return false;
        }
        if (written * 4 > max_option_data) {
            ignore({option, "value_ipv4_list"}, "more addresses than one DHCP option carries");
            return false;
        }
        return true;
    }
    if (datatype == "str") {
        const char *value = config_get_string(option, "value_str");
        if (text_or_empty(value).size() > max_option_data) {
            ignore({option, "value_str"}, "longer than one DHCP option carries");
            return false;
        }
        return put_item(line, value ? value : "", field::quoted, {option, "value_str"});
    }
    if (datatype == "hex") {
        std::string digits;
        if (!put(digits, config_get_string(option, "value_hex"), field::hex, {option, "value_hex"}))
            return false;
        if ((digits.size() + 1) / 2 > max_option_data) {
            ignore({option, "value_hex"}, "longer than one DHCP option carries");
            return false;
        }
        line += ',';
        line += regroup_hex(digits);
        return true;
    }
    int bytes = config_get_int(option, "value_bytes");
    const char *suffix = datatype == "1byte"   ? "b"
                         : datatype == "2byte" ? "s"
                         : datatype == "4byte" ? "i"
                                               : "";
    line += "," + std::to_string(bytes) + suffix;
    return true;
}

void write_custom_options(std::FILE *out, config_node *cfg, std::string_view tag)
{
    config_node *options = config_array(cfg, "dhcp_server.advanced.custom_option");
    for (config_node *o = config_array_first(options); o; o = config_array_next(o)) {
        if (!config_get_bool(o, "enable"))
            continue;
        std::string line =
            std::string("dhcp-option") + (config_get_bool(o, "force") ? "-force" : "") +
            "=net:" + std::string(tag) + "," + std::to_string(config_get_int(o, "option"));
        if (!put_custom_value(line, o, text_or_empty(config_get_string(o, "datatype"))))
            continue;
        // The name is only a comment: a bad one is dropped, the option kept.
        const char *name = config_get_string(o, "name");
        if (name && *name) {
            size_t mark = line.size();
            line += " # ";
            if (!put(line, name, field::comment, {o, "name"}))
                line.resize(mark);
        }
        write_line(out, line, {o, ""});
    }
}

// The first lease of an address wins, over the whole file: dnsmasq would
// refuse to start on two dhcp-host lines with one address.
void write_static_leases(output &out, config_node *cfg, std::string_view tag)
{
    config_node *leases = config_array(cfg, "dhcp_server.advanced.static_lease");
    for (config_node *l = config_array_first(leases); l; l = config_array_next(l)) {
        const char *ip = config_get_string(l, "ip");
        const char *mac = config_get_string(l, "mac");
        const char *name = config_get_string(l, "name");
        std::string line = "dhcp-host=";
        if (!put(line, mac, field::mac, {l, "mac"}))
            continue;
        const char *who = mac;
        // A lease is still a lease without its host name.
        if (name && *name && put_item(line, name, field::host, {l, "name"}))
            who = name;
        if (!put_item(line, ip, field::ipv4, {l, "ip"}))
            continue;
        if (out.leased.count(std::string_view(ip))) {
            log_error("Duplicate static IP detected, IP address '%s' for '%s' is ignored.", ip,
                      who);
            continue;
        }
        line += ",net:";
        line += tag;
        if (write_line(out.file, line, {l, ""}))
            out.leased.emplace(ip);
    }
}

void write_boot(std::FILE *out, config_node *cfg, std::string_view tag)
{
    const std::string bootfile_key = "dhcp_server.advanced.bootfile";
    const std::string tftp_key = "dhcp_server.advanced.tftp_server";
    const char *bootfile_raw = config_get_string(cfg, bootfile_key.c_str());
    const char *tftp_raw = config_get_string(cfg, tftp_key.c_str());
    // A value that cannot be written is treated as not configured.
    std::string bootfile, tftp;
    bool has_bootfile = bootfile_raw && *bootfile_raw &&
                        put(bootfile, bootfile_raw, field::text, {cfg, bootfile_key});
    bool has_tftp = tftp_raw && *tftp_raw && put(tftp, tftp_raw, field::text, {cfg, tftp_key});
    const std::string net = "net:" + std::string(tag) + ",";

    if (has_tftp) {
        write_line(out, "dhcp-option=" + net + "66," + tftp + " # tftp server", {cfg, tftp_key});
        write_line(out, "dhcp-boot=" + net + bootfile + ",," + tftp + " # bootp server",
                   {cfg, tftp_key});
    } else if (has_bootfile) {
        write_line(out, "dhcp-boot=" + net + bootfile + " # bootp server", {cfg, bootfile_key});
    }
}

void write_relay(std::FILE *out, config_node *cfg, std::string_view local)
{
    for (config_node *r = config_array_first(config_array(cfg, "dhcp_relay")); r;
         r = config_array_next(r)) {
        std::string line = "dhcp-relay=" + std::string(local);
        if (put_item(line, config_get_string(r, "address"), field::ipv4, {r, "address"}))
            write_line(out, line, {r, ""});
    }
}

void write_static(output &out, network_node *node)
{
    config_node *cfg = network_config(node);
    std::string_view tag = text_or_empty(network_name(node));
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    if (!device || device_has_passthrough(device))
        return;

    // Without an address there is nothing to serve or relay from.
    const char *address = config_get_string(cfg, "address");
    if (!address || !*address)
        return;
    std::string stored;
    if (!put(stored, address, field::ipv4_prefix, {cfg, "address"}))
        return;
    std::string local(before_last(stored, '/'));

    if (!config_get_bool(cfg, "dhcp_server.enable")) {
        write_relay(out.file, cfg, local);
        return;
    }

    std::string prefix(before_last(local, '.'));
    const int tag_len = int(tag.size());

    std::fprintf(out.file, "\n# network interface '%.*s' configurations\n", tag_len, tag.data());
    write_range(out.file, cfg, tag, prefix);

    const char *suffix = config_get_string(cfg, "dhcp_server.advanced.domain_suffix");
    std::string domain = "domain=";
    if (suffix && *suffix &&
        put(domain, suffix, field::name, {cfg, "dhcp_server.advanced.domain_suffix"}))
        write_line(out.file, domain + "," + stored + " # domain name suffix",
                   {cfg, "dhcp_server.advanced.domain_suffix"});

    std::string gateway = "dhcp-option=net:" + std::string(tag) + ",3";
    put_server_value(gateway, cfg, "dhcp_server.advanced.gateway");
    write_line(out.file, gateway + " # gateway address", {cfg, "dhcp_server.advanced.gateway"});

    std::string_view mtu = get(cfg, "dhcp_server.advanced.mtu");
    if (mtu != "auto") {
        std::fprintf(out.file, "dhcp-option-force=net:%.*s,%s", tag_len, tag.data(), "option:mtu");
        if (mtu == "custom")
            std::fprintf(out.file, ",%d",
                         int(config_get_int(cfg, "dhcp_server.advanced.mtu_custom")));
        std::fputs(" # mtu value\n", out.file);
    }

    write_server_option(out.file, cfg, tag, "6", "dns", "dns server");
    write_server_option(out.file, cfg, tag, "option:ntp-server", "ntp", "ntp server");
    write_server_option(out.file, cfg, tag, "44", "wins", "wins server");

    write_custom_options(out.file, cfg, tag);
    write_static_leases(out, cfg, tag);
    write_boot(out.file, cfg, tag);

    if (config_get_bool(cfg, "dhcp_server.advanced.bootp_dynamic"))
        std::fprintf(out.file, "bootp-dynamic=%.*s\n", tag_len, tag.data());
}

// Stateless DHCPv6 with router advertisements over the prefix that was
// delegated to this device.
void write_prefix_delegation(std::FILE *out, network_node *node)
{
    if (!config_get_bool(network_config(node), "dhcpv6_server.enable"))
        return;
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    if (!device || device_has_passthrough(device))
        return;
    std::string_view name = text_or_empty(network_name(node));
    std::fprintf(out, "\n# network interface '%.*s' configurations\n", int(name.size()),
                 name.data());
    std::fprintf(out, "dhcp-range=%s,::,constructor:%s,ra-stateless\n", range_tag(name).c_str(),
                 network_name(device) ? network_name(device) : "");
}

}  // namespace

// The interfaces that sit on a device are the ones below it that no other
// device stands between; every static interface asks, so only that part of
// the model is walked, not all interfaces.
extern "C" int device_has_passthrough(network_node *device)
{
    for (network_node *n = network_first(device); n; n = network_next_child(n)) {
        if (network_type(n) == NETWORK_NODE_DEVICE)
            continue;
        if (network_type(n) == NETWORK_NODE_INTERFACE &&
            network_interface_type(n) == NETWORK_INTERFACE_PASSTHROUGH)
            return 1;
        if (device_has_passthrough(n))
            return 1;
    }
    return 0;
}

namespace dnsmasq {

void write_dnsmasq_interface(output &out, network_node *node)
{
    switch (network_interface_type(node)) {
    case NETWORK_INTERFACE_STATIC:
        write_static(out, node);
        break;
    case NETWORK_INTERFACE_PREFIX_DELEGATION:
        write_prefix_delegation(out.file, node);
        break;
    case NETWORK_INTERFACE_PASSTHROUGH:
    case NETWORK_INTERFACE_HOTSPOT:
        // The device belongs to the client (or to the hotspot's own DHCP).
        if (network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE))
            std::fprintf(out.file, "except-interface=%s\n",
                         network_name(device) ? network_name(device) : "");
        break;
    default:
        for (network_node *proto = network_first_type(node, NETWORK_NODE_PROTO); proto;
             proto = network_next_type(node, proto, NETWORK_NODE_PROTO))
            write_dnsmasq_interface(out, proto);
        break;
    }
}

}  // namespace dnsmasq
