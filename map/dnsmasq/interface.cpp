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
#include "network.h"
#include "quill.h"
#include "text.h"

namespace {

using namespace dnsmasq;

constexpr int min_lease_time = 120;

std::string_view get(config_node *cfg, const std::string &path)
{
    return text_or_empty(config_get_string(cfg, path.c_str()));
}

std::string_view before_last(std::string_view s, char c)
{
    size_t pos = s.rfind(c);
    return pos == std::string_view::npos ? s : s.substr(0, pos);
}

int print(std::FILE *out, std::string_view s)
{
    return std::fprintf(out, "%.*s", int(s.size()), s.data());
}

// One value of a gateway/DNS/NTP/WINS option: "auto" lets dnsmasq put in
// its own address on that interface, "custom" the configured one; anything
// else contributes no value.
void write_server_value(std::FILE *out, config_node *cfg, const std::string &key, std::string_view tag)
{
    std::string_view mode = get(cfg, key);
    if (mode == "auto") {
        std::fputs(",0.0.0.0", out);
    } else if (mode == "custom") {
        std::string_view custom = get(cfg, key + "_custom");
        // A bare comma would be an empty address, which dnsmasq refuses
        // to start with.
        if (custom.empty()) {
            std::string k = key, t(tag);
            log_error("Ignoring %s of '%s': \"custom\" without %s_custom", k.c_str(), t.c_str(), k.c_str());
            return;
        }
        if (fits_line(custom, key + "_custom", tag)) {
            std::fputc(',', out);
            print(out, custom);
        }
    }
}

void write_server_option(std::FILE *out, config_node *cfg, std::string_view tag, const char *option,
                         const char *name, const char *comment)
{
    std::fprintf(out, "dhcp-option=net:%.*s,%s", int(tag.size()), tag.data(), option);
    write_server_value(out, cfg, "dhcp_server.advanced.primary_" + std::string(name), tag);
    write_server_value(out, cfg, "dhcp_server.advanced.secondary_" + std::string(name), tag);
    std::fprintf(out, " # %s\n", comment);
}

void write_range(std::FILE *out, config_node *cfg, std::string_view tag, std::string_view prefix)
{
    std::string_view start = get(cfg, "dhcp_server.lease_start");
    std::string_view end = get(cfg, "dhcp_server.lease_end");
    if (!fits_line(start, "dhcp_server.lease_start", tag) || !fits_line(end, "dhcp_server.lease_end", tag))
        return;
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
    std::fprintf(out, "dhcp-range=%s,%s,%s,%ds\n", range_tag(tag).c_str(), first.c_str(), last.c_str(), lease);
}

void write_custom_value(std::FILE *out, config_node *option, std::string_view datatype)
{
    if (datatype == "ipv4") {
        unique_sl list(config_get_string_list(option, "value_ipv4_list"));
        unique_text joined(sl_join(list.get(), ","));
        std::fprintf(out, ",%s", joined ? joined.get() : "");
    } else if (datatype == "str") {
        escaped value(config_get_string(option, "value_str"));
        std::fprintf(out, ",\"%s\"", value.c_str());
    } else if (datatype == "hex") {
        std::fprintf(out, ",%s", regroup_hex(text_or_empty(config_get_string(option, "value_hex"))).c_str());
    } else {
        int bytes = config_get_int(option, "value_bytes");
        const char *suffix = datatype == "1byte" ? "b" : datatype == "2byte" ? "s" : datatype == "4byte" ? "i" : "";
        std::fprintf(out, ",%d%s", bytes, suffix);
    }
}

// Of the values an option may carry, the one its datatype selects.
bool custom_value_fits(config_node *option, std::string_view datatype, std::string_view tag)
{
    if (datatype == "ipv4") {
        unique_sl list(config_get_string_list(option, "value_ipv4_list"));
        for (size_t i = 0; i < sl_len(list.get()); ++i)
            if (!fits_line(sl_get(list.get(), i), "custom option address", tag))
                return false;
        return true;
    }
    if (datatype == "str")
        return fits_line(text_or_empty(config_get_string(option, "value_str")), "custom option string", tag);
    if (datatype == "hex")
        return fits_line(text_or_empty(config_get_string(option, "value_hex")), "custom option hex value", tag);
    return true;
}

void write_custom_options(std::FILE *out, config_node *cfg, std::string_view tag)
{
    config_node *options = config_array(cfg, "dhcp_server.advanced.custom_option");
    for (config_node *o = config_array_first(options); o; o = config_array_next(o)) {
        if (!config_get_bool(o, "enable"))
            continue;
        std::string_view datatype = text_or_empty(config_get_string(o, "datatype"));
        if (!custom_value_fits(o, datatype, tag))
            continue;
        std::fprintf(out, "dhcp-option%s=net:%.*s,%d", config_get_bool(o, "force") ? "-force" : "", int(tag.size()),
                     tag.data(), int(config_get_int(o, "option")));
        write_custom_value(out, o, datatype);
        std::string_view name = text_or_empty(config_get_string(o, "name"));
        // The name is only a comment: a bad one is dropped, the option kept.
        if (!name.empty() && fits_line(name, "custom option name", tag)) {
            std::fputs(" # ", out);
            print(out, name);
        }
        std::fputc('\n', out);
    }
}

// The first lease of an address wins: dnsmasq would refuse to start on two
// dhcp-host lines with one address.
void write_static_leases(std::FILE *out, config_node *cfg, std::string_view tag)
{
    unique_sl written;
    config_node *leases = config_array(cfg, "dhcp_server.advanced.static_lease");
    for (config_node *l = config_array_first(leases); l; l = config_array_next(l)) {
        std::string_view ip = text_or_empty(config_get_string(l, "ip"));
        std::string_view mac = text_or_empty(config_get_string(l, "mac"));
        std::string_view name = text_or_empty(config_get_string(l, "name"));
        if (!fits_line(ip, "static lease address", tag) || !fits_line(mac, "static lease MAC", tag) ||
            !fits_line(name, "static lease name", tag))
            continue;
        std::string ip_text(ip);
        if (sl_find(written.get(), ip_text.c_str())) {
            std::string who(name.empty() ? mac : name);
            log_error("Duplicate static IP detected, IP address '%s' for '%s' is ignored.", ip_text.c_str(),
                      who.c_str());
            continue;
        }
        written.reset(sl_append(written.release(), ip_text.c_str()));
        std::fputs("dhcp-host=", out);
        print(out, mac);
        if (!name.empty()) {
            std::fputc(',', out);
            print(out, name);
        }
        std::fprintf(out, ",%s,net:%.*s\n", ip_text.c_str(), int(tag.size()), tag.data());
    }
}

void write_boot(std::FILE *out, config_node *cfg, std::string_view tag)
{
    std::string_view bootfile_raw = get(cfg, "dhcp_server.advanced.bootfile");
    std::string_view tftp_raw = get(cfg, "dhcp_server.advanced.tftp_server");
    // A value that cannot be written is treated as not configured.
    std::string bootfile_text(fits_line(bootfile_raw, "dhcp_server.advanced.bootfile", tag) ? bootfile_raw : "");
    std::string tftp_text(fits_line(tftp_raw, "dhcp_server.advanced.tftp_server", tag) ? tftp_raw : "");
    std::string bootfile = escaped(bootfile_text.c_str()).field();
    std::string tftp = escaped(tftp_text.c_str()).field();
    const int tag_len = int(tag.size());

    if (!tftp_text.empty()) {
        std::fprintf(out, "dhcp-option=net:%.*s,%d,%s # tftp server\n", tag_len, tag.data(), 66, tftp.c_str());
        std::fprintf(out, "dhcp-boot=net:%.*s,", tag_len, tag.data());
        if (!bootfile_text.empty())
            std::fprintf(out, "%s", bootfile.c_str());
        std::fprintf(out, ",,%s # bootp server\n", tftp.c_str());
    } else if (!bootfile_text.empty()) {
        std::fprintf(out, "dhcp-boot=net:%.*s,%s # bootp server\n", tag_len, tag.data(), bootfile.c_str());
    }
}

void write_relay(std::FILE *out, config_node *cfg, std::string_view tag, std::string_view local)
{
    for (config_node *r = config_array_first(config_array(cfg, "dhcp_relay")); r; r = config_array_next(r)) {
        std::string_view address = text_or_empty(config_get_string(r, "address"));
        if (!fits_line(address, "dhcp_relay address", tag))
            continue;
        print(out, "dhcp-relay=");
        print(out, local);
        std::fputc(',', out);
        print(out, address);
        std::fputc('\n', out);
    }
}

void write_static(std::FILE *out, network_node *node)
{
    config_node *cfg = network_config(node);
    std::string_view tag = text_or_empty(network_name(node));
    network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE);
    if (!device || device_has_passthrough(device))
        return;

    std::string_view address = get(cfg, "address");
    if (!fits_line(address, "address", tag))
        return;
    std::string local(before_last(address, '/'));

    if (!config_get_bool(cfg, "dhcp_server.enable")) {
        write_relay(out, cfg, tag, local);
        return;
    }

    size_t dot = local.rfind('.');
    if (dot == std::string::npos)
        return;
    std::string prefix = local.substr(0, dot);
    const int tag_len = int(tag.size());

    std::fprintf(out, "\n# network interface '%.*s' configurations\n", tag_len, tag.data());
    write_range(out, cfg, tag, prefix);

    std::string_view suffix = get(cfg, "dhcp_server.advanced.domain_suffix");
    if (!suffix.empty() && fits_line(suffix, "dhcp_server.advanced.domain_suffix", tag)) {
        std::string suffix_text(suffix);
        std::string domain = escaped(suffix_text.c_str()).field();
        std::string stored(address);
        std::fprintf(out, "domain=%s,%s # domain name suffix\n", domain.c_str(), stored.c_str());
    }

    std::fprintf(out, "dhcp-option=net:%.*s,%d", tag_len, tag.data(), 3);
    write_server_value(out, cfg, "dhcp_server.advanced.gateway", tag);
    std::fputs(" # gateway address\n", out);

    std::string_view mtu = get(cfg, "dhcp_server.advanced.mtu");
    if (mtu != "auto") {
        std::fprintf(out, "dhcp-option-force=net:%.*s,%s", tag_len, tag.data(), "option:mtu");
        if (mtu == "custom")
            std::fprintf(out, ",%d", int(config_get_int(cfg, "dhcp_server.advanced.mtu_custom")));
        std::fputs(" # mtu value\n", out);
    }

    write_server_option(out, cfg, tag, "6", "dns", "dns server");
    write_server_option(out, cfg, tag, "option:ntp-server", "ntp", "ntp server");
    write_server_option(out, cfg, tag, "44", "wins", "wins server");

    write_custom_options(out, cfg, tag);
    write_static_leases(out, cfg, tag);
    write_boot(out, cfg, tag);

    if (config_get_bool(cfg, "dhcp_server.advanced.bootp_dynamic"))
        std::fprintf(out, "bootp-dynamic=%.*s\n", tag_len, tag.data());
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
    std::fprintf(out, "\n# network interface '%.*s' configurations\n", int(name.size()), name.data());
    std::fprintf(out, "dhcp-range=%s,::,constructor:%s,ra-stateless\n", range_tag(name).c_str(),
                 network_name(device) ? network_name(device) : "");
}

}  // namespace

extern "C" int device_has_passthrough(network_node *device)
{
    network_node *root = network_find_parent(device, NETWORK_NODE_ROOT);
    for (network_node *n = network_first_type(root, NETWORK_NODE_INTERFACE); n;
         n = network_next_type(root, n, NETWORK_NODE_INTERFACE))
        if (network_interface_type(n) == NETWORK_INTERFACE_PASSTHROUGH &&
            network_find_parent(n, NETWORK_NODE_DEVICE) == device)
            return 1;
    return 0;
}

extern "C" void write_dnsmasq_interface(FILE *out, network_node *node)
{
    switch (network_interface_type(node)) {
    case NETWORK_INTERFACE_STATIC:
        write_static(out, node);
        break;
    case NETWORK_INTERFACE_PREFIX_DELEGATION:
        write_prefix_delegation(out, node);
        break;
    case NETWORK_INTERFACE_PASSTHROUGH:
    case NETWORK_INTERFACE_HOTSPOT:
        // The device belongs to the client (or to the hotspot's own DHCP).
        if (network_node *device = network_find_parent(node, NETWORK_NODE_DEVICE))
            std::fprintf(out, "except-interface=%s\n", network_name(device) ? network_name(device) : "");
        break;
    default:
        for (network_node *proto = network_first_type(node, NETWORK_NODE_PROTO); proto;
             proto = network_next_type(node, proto, NETWORK_NODE_PROTO))
            write_dnsmasq_interface(out, proto);
        break;
    }
}
