// The tunnel's connection file: an optional `config setup` block for NHRP
// tunnels and one `conn` section per traffic policy.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "anvil.h"
#include "ipsec.h"
#include "ipsec_internal.h"
#include "network.h"
#include "tallo.h"

namespace ipsec {
namespace {

std::string_view fragmentation(std::string_view v) {
    if (v == "always")
        return "force";
    if (v == "never")
        return "no";
    if (v == "accept")
        return "accept";
    return "yes";
}

std::string phase1_proposals(config_node *tunnel_node) {
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

std::string phase2_proposals(config_node *tunnel_node) {
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

void credential_lines(FILE *f, const tunnel &t) {
    std::string_view type = get_string(t.node, "auth.type");
    const char *n = t.name;
    if (type == "rsasig") {
        fprintf(f, "\tleftsigkey=\"%s.pub\"\n", n);
        fprintf(f, "\trightsigkey=\"%s.peerpub\"\n", n);
    } else if (type == "velmo" || (type == "x509" && get_string(t.node, "auth.peer_verify") == "cert")) {
        fprintf(f, "\tleftcert=\"%s.cert\"\n", n);
        fprintf(f, "\tleftsendcert=always\n");
        fprintf(f, "\trightcert=\"%s.peercert\"\n", n);
        fprintf(f, "\trightsendcert=always\n");
    } else if (type == "x509") {
        fprintf(f, "\tleftcert=\"%s.cert\"\n", n);
        fprintf(f, "\tleftsendcert=always\n");
        fprintf(f, "\trightsendcert=always\n");
        if (t.has_right_ca)
            fprintf(f, "\trightca=%s\n", t.right_ca.c_str());
    } else if (type == "scep") {
        fprintf(f, "\tleftcert=\"%s.cert\"\n", n);
        fprintf(f, "\tleftsendcert=always\n");
        fprintf(f, "\trightsendcert=always\n");
    }
}

// Local subnet of one policy; empty when it cannot be had.
std::string local_subnet(config_node *policy, bool ipv6, const char *family, bool &request) {
    std::string_view type = get_string(policy, "local.type");
    if (type == "address") {
        std::string ifname(get_string(policy, "local.address"));
        unique_text addr(tallo_get_string_pathf("network.interface.%s.%s.address", ifname.c_str(), family));
        if (addr && *addr && one_line(addr.get()))
            return format("%s/%d", addr.get(), ipv6 ? 128 : 32);
    } else if (type == "network") {
        std::string ifname(get_string(policy, "local.network"));
        unique_text addr(tallo_get_string_pathf("network.interface.%s.%s.address", ifname.c_str(), family));
        unique_text mask(tallo_get_string_pathf("network.interface.%s.%s.netmask", ifname.c_str(), family));
        if (addr && mask && one_line(addr.get()) && one_line(mask.get()))
            return format("%s/%s", addr.get(), mask.get());
    } else if (type == "custom") {
        return std::string(get_string(policy, "local.custom"));
    } else if (type == "request") {
        request = true;
        return "%dynamic";
    } else if (type == "dynamic") {
        return "%dynamic";
    }
    return {};
}

}  // namespace

bool write_connections(tunnel &t) {
    std::string path = format("%s/conf/%s.conf", new_tree, t.name);
    unique_file file(fopen(path.c_str(), "w"));
    if (!file) {
        log_error("error opening tunnel conf file %s: %m", path.c_str());
        return false;
    }
    FILE *f = file.get();
    config_node *node = t.node;

    int p1 = config_get_duration(node, "ike.phase1_lifetime");
    int p2 = config_get_duration(node, "ike.phase2_lifetime");
    int margin = config_get_duration(node, "ike.lifetime_margin");
    if (margin >= p1 || margin >= p2) {
        log_error("Lifetime margin greater than minimum lifetime. Setting margin to 0.25 * lifetime.");
        margin = static_cast<int>(0.25 * std::min(p1, p2));
    }

    if (map_check_if_tunnel_is_nhrp(t.root, t.name)) {
        log_debug("Tunnel %s is managed by NHRP, setting uniqueids", t.name);
        fputs("config setup\n", f);
        fputs("\tuniqueids=never\n\n", f);
    }

    config_node *policies = config_array(node, "policy");
    size_t policy_count = config_array_count(policies);
    size_t conn_count = policy_count ? policy_count : 1;

    std::string_view mode = get_string(node, "mode");
    std::string_view selection = get_string(node, "remote.hostname_selection");
    bool xauth = config_get_bool(node, "xauth_client.enable");
    std::string_view auth = get_string(node, "auth.type");
    bool psk = auth == "secret" || auth == "asymmetric-secrets";
    bool modecfg = config_get_bool(node, "modecfg_client.enable");
    bool aggressive = get_string(node, "ike.mode") == "aggressive";
    std::string ike = phase1_proposals(node);
    std::string esp = phase2_proposals(node);
    bool dpd = config_get_bool(node, "dpd.enable");
    bool encaps = config_get_bool(node, "force_udp_encap");
    int mgmt = config_get_int(node, "mgmt");
    network_node *device = network_find_device(t.model, node);
    const char *device_name = device ? network_name(device) : nullptr;

    config_node *policy = config_array_first(policies);
    for (size_t i = 0; i < conn_count; ++i, policy = policy ? config_array_next(policy) : nullptr) {
        fprintf(f, "conn %s_policy%zu\n", t.name, i);
        fprintf(f, "\ttype=%s\n", config_get_string(node, "mode"));
        fprintf(f, "\tkeyexchange=%s\n", config_get_string(node, "ike.version"));
        std::string_view frag = fragmentation(get_string(node, "ike.fragmentation"));
        fprintf(f, "\tfragmentation=%.*s\n", static_cast<int>(frag.size()), frag.data());
        fputs("\tkeyingtries=1\n", f);
        if (mode != "transport")
            fprintf(f, "\tif_id=%d\n", t.ordinal);
        fprintf(f, "\tleft=%s\n", t.left.c_str());
        fprintf(f, "\tright=%s\n", t.right.c_str());
        fprintf(f, "\trighthostssequence=%s\n",
                selection == "round_robin" ? "roundrobin" : config_get_string(node, "remote.hostname_selection"));
        if (!t.left_id.empty())
            fprintf(f, "\tleftid=\"%s\"\n", t.left_id.c_str());
        if (!t.right_id.empty())
            fprintf(f, "\trightid=\"%s\"\n", t.right_id.c_str());
        if (xauth) {
            fputs("\txauth=client\n", f);
            fputs("\tleftauth2=xauth\n", f);
            fprintf(f, "\txauth_identity=%s\n", config_get_string(node, "xauth_client.username"));
        }
        if (psk) {
            fputs("\tleftauth=psk\n", f);
            fputs("\trightauth=psk\n", f);
        } else {
            fputs("\tleftauth=pubkey\n", f);
            fputs("\trightauth=pubkey\n", f);
        }
        credential_lines(f, t);
        if (modecfg)
            fputs("\tmodeconfig=pull\n", f);
        if (aggressive)
            fputs("\taggressive=yes\n", f);
        fprintf(f, "\tikelifetime=%ds\n", p1);
        fprintf(f, "\tlifetime=%ds\n", p2);
        fprintf(f, "\tmargintime=%ds\n", margin);
        if (!ike.empty())
            fprintf(f, "\tike=%s!\n", ike.c_str());
        if (!esp.empty())
            fprintf(f, "\t%s=%s!\n", config_get_string(node, "type"), esp.c_str());
        if (dpd) {
            fprintf(f, "\tdpdaction=%s\n", t.initiate ? "restart" : "clear");
            fprintf(f, "\tdpddelay=%d\n", config_get_int(node, "dpd.delay"));
            fprintf(f, "\tdpdtimeout=%d\n", config_get_int(node, "dpd.timeout"));
        }

        std::string subnet;
        bool request = false;
        if (policy) {
            std::string_view remote_network = get_string(policy, "remote.network");
            bool policy_ipv6 = remote_network.find(':') != std::string_view::npos;
            if (get_string(policy, "local.type") == "request")
                fprintf(f, "\tleftsourceip=%s\n", policy_ipv6 ? "%config6" : "%config4");
            subnet = local_subnet(policy, policy_ipv6, policy_ipv6 ? "ipv6" : "ipv4", request);
            if (subnet.empty()) {
                log_error("tunnel %s policy %zu's local network is not available. Skipping tunnel", t.name, i);
                file.reset();
                unlink(path.c_str());
                return false;
            }
            unique_text local_suffix(ipsec_selector_suffix(config_object(policy, "local")));
            unique_text remote_suffix(ipsec_selector_suffix(config_object(policy, "remote")));
            fprintf(f, "\tleftsubnet=%s%s\n", subnet.c_str(), local_suffix.get());
            fprintf(f, "\trightsubnet=%s%s\n",
                    remote_network.empty() ? "%dynamic" : config_get_string(policy, "remote.network"),
                    remote_suffix.get());
        }
        if (encaps)
            fputs("\tforceencaps=yes\n", f);

        fputs("\tleftupdown=\"/bin/ipsec-updown.sh", f);
        if (!subnet.empty() && modecfg)
            fprintf(f, " -l %s", subnet.c_str());
        if (!subnet.empty() && request)
            fputs(" -r", f);
        if (mgmt)
            fprintf(f, " -m %d", mgmt);
        if (!t.passthrough_src.empty())
            fprintf(f, " -i %s", t.passthrough_src.c_str());
        // An empty -x would make the script take the next flag as the
        // device name.
        if (device_name && *device_name)
            fprintf(f, " -x %s", device_name);
        fprintf(f, " -n %zu", conn_count);
        fputs("\"\n", f);
        fputs("\tauto=add\n\n", f);
    }

    bool ok = !ferror(f);
    if (fclose(file.release()) != 0)
        ok = false;
    if (!ok) {
        log_error("error writing tunnel conf file %s: %m", path.c_str());
        unlink(path.c_str());
        return false;
    }
    return true;
}

}  // namespace ipsec

extern "C" char *ipsec_selector_suffix(config_node *side) {
    using ipsec::get_string;
    std::string_view protocol = get_string(side, "protocol");
    std::string proto;
    // An unset side (no object in the store) selects everything, as "any"
    // does; "[/]" would not parse.
    if (protocol == "any" || protocol.empty())
        proto = "%any";
    else if (protocol == "other")
        proto = std::to_string(config_get_int(side, "protocol_other"));
    else
        proto = protocol;
    std::string_view port = get_string(side, "port");
    if (port.empty())
        port = "any";
    std::string out = ipsec::format("[%s/%.*s]", proto.c_str(), port == "any" ? 4 : static_cast<int>(port.size()),
                                    port == "any" ? "%any" : port.data());
    return strdup(out.c_str());
}
