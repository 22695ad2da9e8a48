// The tunnel's connection file: an optional `config setup` block for NHRP
// tunnels and one `conn` section per traffic policy.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "anvil.h"
#include "ipsec.h"
#include "ipsec_internal.h"
#include "ipsec_tree.h"
#include "ipsec_writer.h"
#include "network.h"
#include "tallo.h"

namespace ipsec {
namespace {

std::string_view fragmentation(std::string_view v)
{
    if (v == "always")
        return "force";
    if (v == "never")
        return "no";
    if (v == "accept")
        return "accept";
    return "yes";
}

std::string phase1_proposals(config_node *tunnel_node)
{
    std::string out;
    config_node *list = config_array(tunnel_node, "ike.phase1_proposal");
    for (config_node *p = config_array_first(list); p; p = config_array_next(p)) {
        if (!out.empty())
            out += ',';
        out += format("%s-%s-%s", config_get_string(p, "cipher"), config_get_string(p, "hash"),
                      config_get_string(p, "dh_group"));
    }
    return out;
}

std::string phase2_proposals(config_node *tunnel_node)
{
    std::string out;
    config_node *list = config_array(tunnel_node, "ike.phase2_proposal");
    for (config_node *p = config_array_first(list); p; p = config_array_next(p)) {
        if (!out.empty())
            out += ',';
        std::string_view dh = get_string(p, "dh_group");
        bool none = dh == "none";
        out += format("%s-%s%s%s", config_get_string(p, "cipher"), config_get_string(p, "hash"),
                      none ? "" : "-", none ? "" : config_get_string(p, "dh_group"));
    }
    return out;
}

bool credential_lines(const text_file &out, const tunnel &t)
{
    std::string_view type = get_string(t.node, "auth.type");
    std::string_view n = t.name;
    FILE *f = out.f;
    if (type == "rsasig") {
        return conf_option(out, "leftsigkey", {n, ".pub"}, QUOTE_ALWAYS) &&
               conf_option(out, "rightsigkey", {n, ".peerpub"}, QUOTE_ALWAYS);
    }
    if (type == "velmo" || (type == "x509" && get_string(t.node, "auth.peer_verify") == "cert")) {
        bool ok = conf_option(out, "leftcert", {n, ".cert"}, QUOTE_ALWAYS);
        fputs("\tleftsendcert=always\n", f);
        ok = ok && conf_option(out, "rightcert", {n, ".peercert"}, QUOTE_ALWAYS);
        fputs("\trightsendcert=always\n", f);
        return ok;
    }
    if (type == "x509" || type == "scep") {
        bool ok = conf_option(out, "leftcert", {n, ".cert"}, QUOTE_ALWAYS);
        fputs("\tleftsendcert=always\n", f);
        fputs("\trightsendcert=always\n", f);
        if (ok && t.has_right_ca)
            ok = conf_option(out, "rightca", {{t.right_ca, t.right_ca_from}});
        return ok;
    }
    return true;
}

// Local subnet of one policy and the runtime key or path it came from;
// empty when it cannot be had.
std::string local_subnet(config_node *policy, const std::string &policy_path, bool ipv6,
                         const char *family, bool &request, std::string &from)
{
    std::string_view type = get_string(policy, "local.type");
    if (type == "address") {
        std::string ifname(get_string(policy, "local.address"));
        from = format("network.interface.%s.%s.address", ifname.c_str(), family);
        unique_text addr(tallo_get_string(from.c_str()));
        if (addr && *addr)
            return format("%s/%d", addr.get(), ipv6 ? 128 : 32);
    } else if (type == "network") {
        std::string ifname(get_string(policy, "local.network"));
        std::string addr_key = format("network.interface.%s.%s.address", ifname.c_str(), family);
        std::string mask_key = format("network.interface.%s.%s.netmask", ifname.c_str(), family);
        unique_text addr(tallo_get_string(addr_key.c_str()));
        unique_text mask(tallo_get_string(mask_key.c_str()));
        // Messages name the live value the writer may refuse.
        from = addr && !text_is_one_line(addr.get()) ? addr_key : mask_key;
        if (addr && mask)
            return format("%s/%s", addr.get(), mask.get());
    } else if (type == "custom") {
        from = policy_path + ".local.custom";
        return std::string(get_string(policy, "local.custom"));
    } else if (type == "request") {
        request = true;
        return "%dynamic";
    } else if (type == "dynamic") {
        return "%dynamic";
    }
    return {};
}

// The traffic selector suffix "[proto/port]" of one side of a policy, in
// pieces, so that a message can name the key a bad piece came from.
struct selector {
    std::string protocol, protocol_from;
    std::string port, port_from;
};

selector side_selector(config_node *side, const std::string &side_path)
{
    selector s;
    std::string_view protocol = get_string(side, "protocol");
    // An unset side (no object in the store) selects everything, as "any"
    // does; "[/]" would not parse.
    if (protocol == "any" || protocol.empty())
        s.protocol = "%any";
    else if (protocol == "other")
        s.protocol = std::to_string(config_get_int(side, "protocol_other"));
    else
        s.protocol = protocol;
    std::string_view port = get_string(side, "port");
    s.port = port.empty() || port == "any" ? std::string_view("%any") : port;
    s.protocol_from = side_path + ".protocol";
    s.port_from = side_path + ".port";
    return s;
}

bool subnet_option(const text_file &out, const char *key, std::string_view subnet,
                   std::string_view from, const selector &sel)
{
    return conf_option(out, key,
                       {{subnet, from},
                        "[",
                        {sel.protocol, sel.protocol_from},
                        "/",
                        {sel.port, sel.port_from},
                        "]"});
}

struct conn_values {
    int p1 = 0, p2 = 0, margin = 0;
    std::string ike, esp;
    std::string type_from, ike_from, esp_from;
    const char *device_name = nullptr;
    size_t conn_count = 1;
};

// Writes one connection; false when a value could not be written and the
// tunnel is left out.
bool write_conn(const text_file &out, const tunnel &t, const conn_values &v, size_t i,
                config_node *policy)
{
    FILE *f = out.f;
    config_node *node = t.node;
    const std::string &p = t.path;
    std::string_view mode = get_string(node, "mode");
    std::string_view selection = get_string(node, "remote.hostname_selection");
    bool modecfg = config_get_bool(node, "modecfg_client.enable");
    std::string_view auth = get_string(node, "auth.type");

    std::string index = std::to_string(i);
    if (!conf_section(out, {{t.name, p}, "_policy", index}))
        return false;
    if (!conf_option(out, "type", {{mode, p + ".mode"}}) ||
        !conf_option(out, "keyexchange", {{get_string(node, "ike.version"), p + ".ike.version"}}))
        return false;
    fprintf(f, "\tfragmentation=%s\n", fragmentation(get_string(node, "ike.fragmentation")).data());
    fputs("\tkeyingtries=1\n", f);
    if (mode != "transport")
        fprintf(f, "\tif_id=%d\n", t.ordinal);
    if (!conf_option(out, "left", {{t.left, t.left_from}}) ||
        !conf_option(out, "right", {{t.right, t.right_from}}))
        return false;
    // The daemon's default order of the hosts stands in for one that
    // cannot be written.
    conf_option(out, "righthostssequence",
                {{selection == "round_robin" ? std::string_view("roundrobin") : selection,
                  p + ".remote.hostname_selection"}},
                QUOTE_AS_NEEDED, LEAVE_OUT_OPTION);
    if (!t.left_id.empty() &&
        !conf_option(out, "leftid", {{t.left_id, t.left_id_from}}, QUOTE_ALWAYS))
        return false;
    if (!t.right_id.empty() &&
        !conf_option(out, "rightid", {{t.right_id, t.right_id_from}}, QUOTE_ALWAYS))
        return false;
    if (config_get_bool(node, "xauth_client.enable")) {
        fputs("\txauth=client\n", f);
        fputs("\tleftauth2=xauth\n", f);
        if (!conf_option(
                out, "xauth_identity",
                {{get_string(node, "xauth_client.username"), p + ".xauth_client.username"}}))
            return false;
    }
    if (auth == "secret" || auth == "asymmetric-secrets") {
        fputs("\tleftauth=psk\n", f);
        fputs("\trightauth=psk\n", f);
    } else {
        fputs("\tleftauth=pubkey\n", f);
        fputs("\trightauth=pubkey\n", f);
    }
    if (!credential_lines(out, t))
        return false;
    if (modecfg)
        fputs("\tmodeconfig=pull\n", f);
    if (get_string(node, "ike.mode") == "aggressive")
        fputs("\taggressive=yes\n", f);
    fprintf(f, "\tikelifetime=%ds\n", v.p1);
    fprintf(f, "\tlifetime=%ds\n", v.p2);
    fprintf(f, "\tmargintime=%ds\n", v.margin);
    if (!v.ike.empty() && !conf_option(out, "ike", {{v.ike, v.ike_from}, "!"}))
        return false;
    if (!v.esp.empty() &&
        !conf_option(out, {get_string(node, "type"), v.type_from}, {{v.esp, v.esp_from}, "!"}))
        return false;
    if (config_get_bool(node, "dpd.enable")) {
        fprintf(f, "\tdpdaction=%s\n", t.initiate ? "restart" : "clear");
        fprintf(f, "\tdpddelay=%d\n", config_get_int(node, "dpd.delay"));
        fprintf(f, "\tdpdtimeout=%d\n", config_get_int(node, "dpd.timeout"));
    }

    std::string subnet, subnet_from;
    bool request = false;
    if (policy) {
        unique_text policy_path(config_path(policy));
        std::string pp = policy_path ? policy_path.get() : p + ".policy";
        std::string_view remote_network = get_string(policy, "remote.network");
        bool policy_ipv6 = remote_network.find(':') != std::string_view::npos;
        if (get_string(policy, "local.type") == "request")
            fprintf(f, "\tleftsourceip=%s\n", policy_ipv6 ? "%config6" : "%config4");
        subnet = local_subnet(policy, pp, policy_ipv6, policy_ipv6 ? "ipv6" : "ipv4", request,
                              subnet_from);
        if (subnet.empty()) {
            log_error("tunnel %s policy %zu's local network is not available. Skipping tunnel",
                      t.name, i);
            return false;
        }
        selector local = side_selector(config_object(policy, "local"), pp + ".local");
        selector remote = side_selector(config_object(policy, "remote"), pp + ".remote");
        if (!subnet_option(out, "leftsubnet", subnet, subnet_from, local) ||
            !subnet_option(out, "rightsubnet", remote_network.empty() ? "%dynamic" : remote_network,
                           pp + ".remote.network", remote))
            return false;
    }
    if (config_get_bool(node, "force_udp_encap"))
        fputs("\tforceencaps=yes\n", f);

    // The daemon runs this command line through the shell: every value in
    // it is one shell word.
    std::vector<part> updown = {"/bin/ipsec-updown.sh"};
    if (!subnet.empty() && modecfg)
        updown.insert(updown.end(), {" -l ", {subnet, subnet_from, true}});
    if (!subnet.empty() && request)
        updown.push_back(" -r");
    std::string mgmt = std::to_string(config_get_int(node, "mgmt"));
    if (mgmt != "0")
        updown.insert(updown.end(), {" -m ", mgmt});
    if (!t.passthrough_src.empty())
        updown.insert(updown.end(), {" -i ", {t.passthrough_src, t.left_from, true}});
    // An empty -x would make the script take the next flag as the device
    // name.
    if (v.device_name && *v.device_name)
        updown.insert(updown.end(), {" -x ", {v.device_name, p, true}});
    std::string count = std::to_string(v.conn_count);
    updown.insert(updown.end(), {" -n ", count});
    if (!conf_option(out, "leftupdown", updown, QUOTE_ALWAYS))
        return false;
    fputs("\tauto=add\n\n", f);
    return true;
}

}  // namespace

bool write_connections(tunnel &t)
{
    std::string path = ipsec_tunnel_conf_file(new_tree, t.name);
    unique_file file(open_tree_file(t, path, FILE_PUBLIC, "conf"));
    if (!file)
        return false;
    text_file out{file.get(), path.c_str(), t.name};
    config_node *node = t.node;

    conn_values v;
    v.p1 = config_get_duration(node, "ike.phase1_lifetime");
    v.p2 = config_get_duration(node, "ike.phase2_lifetime");
    v.margin = config_get_duration(node, "ike.lifetime_margin");
    if (v.margin >= v.p1 || v.margin >= v.p2) {
        log_error(
            "Lifetime margin greater than minimum lifetime. Setting margin to 0.25 * lifetime.");
        v.margin = static_cast<int>(0.25 * std::min(v.p1, v.p2));
    }

    if (map_check_if_tunnel_is_nhrp(t.root, t.name)) {
        log_debug("Tunnel %s is managed by NHRP, setting uniqueids", t.name);
        fputs("config setup\n", out.f);
        fputs("\tuniqueids=never\n\n", out.f);
    }

    config_node *policies = config_array(node, "policy");
    size_t policy_count = config_array_count(policies);
    v.conn_count = policy_count ? policy_count : 1;
    v.ike = phase1_proposals(node);
    v.esp = phase2_proposals(node);
    v.type_from = t.path + ".type";
    v.ike_from = t.path + ".ike.phase1_proposal";
    v.esp_from = t.path + ".ike.phase2_proposal";
    network_node *device = network_find_device(t.model, node);
    v.device_name = device ? network_name(device) : nullptr;

    config_node *policy = config_array_first(policies);
    for (size_t i = 0; i < v.conn_count;
         ++i, policy = policy ? config_array_next(policy) : nullptr) {
        if (!write_conn(out, t, v, i, policy)) {
            file.reset();
            unlink(path.c_str());
            return false;
        }
    }
    return finish_tree_file(t, file.release(), path);
}

}  // namespace ipsec

extern "C" char *ipsec_selector_suffix(config_node *side)
{
    ipsec::selector s = ipsec::side_selector(side, {});
    return strdup(ipsec::format("[%s/%s]", s.protocol.c_str(), s.port.c_str()).c_str());
}
