// OpenVPN interfaces: the UCI section, and the files the network daemon's
// OpenVPN protocols start the tunnel with.  A client object has the key
// "username"; a server object has not.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interface.h"
#include "proto.h"
#include "side_file.h"
#include "uci.h"

using namespace proto;

namespace {

// Lines of a user's own client file that the router decides itself.  The
// trailing blanks belong to the entries: "keyfile" is not "key ".
constexpr char keyword_filter[9][16] = {
    "ca ", "cert ", "key ", "up ", "down ", "dev ", "dev-", "script-security", "nobind",
};

bool filtered(std::string_view line)
{
    for (const char *entry : keyword_filter)
        if (line.starts_with(entry))
            return true;
    return false;
}

network_node *device_of(network_node *node, config_node *cfg)
{
    return network_find_device(network_find_parent(node, NETWORK_NODE_ROOT), cfg);
}

// The digest lets the network daemon notice any change of the interface's
// settings.  The dump goes to md5sum through a pipe, followed by the line
// feed that echo would have added, so no configured text meets a shell.
void write_digest(FILE *out, config_node *cfg)
{
    unique_text dump(config_dump(cfg));
    std::string input = std::string(text(dump.get())) + "\n";
    if (std::string sum = md5sum_text(input); !sum.empty())
        write_string(out, "conf_md5sum", sum);
}

bool override_defaults(config_node *cfg)
{
    return config_get_bool(cfg, "advanced_options.enable") && config_get_bool(cfg, "advanced_options.override");
}

void write_client_file_filtered(FILE *f, config_node *cfg, const char *key)
{
    std::string_view all = get(cfg, "config_file");
    while (!all.empty()) {
        size_t nl = all.find('\n');
        std::string line(all.substr(0, nl));
        all = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);
        if (line.empty())
            continue;
        std::string_view l(line);
        if (l.starts_with("auth-user-pass")) {
            std::fprintf(f, "auth-user-pass /var/run/userpass_%s.cfg\n", key);
        } else if (l.starts_with("dev tun") || l.starts_with("dev tap")) {
            std::fprintf(f, "dev-type %s\n", line.c_str() + 4);
            std::fputs("route-noexec\nscript-security 2\nup /lib/netifd/openvpn-up\ndown /lib/netifd/openvpn-down\n", f);
        } else if (!filtered(l)) {
            std::fprintf(f, "%s\n", line.c_str());
        }
    }
}

void write_client_file_generated(FILE *f, config_node *cfg, const char *key)
{
    std::fputs("client\nroute-noexec\nscript-security 2\nup /lib/netifd/openvpn-up\ndown /lib/netifd/openvpn-down\nlport 0\n",
               f);
    std::fprintf(f, "dev-type %s\n", config_get_string(cfg, "device_type"));
    std::fprintf(f, "remote %s %d\n", config_get_string(cfg, "server"), config_get_int(cfg, "port"));
    if (!get(cfg, "username").empty())
        std::fprintf(f, "auth-user-pass /var/run/userpass_%s.cfg\n", key);
    std::fprintf(f, "<ca>\n%s\n</ca>\n", config_get_string(cfg, "cacert"));
    if (!get(cfg, "public_cert").empty() && !get(cfg, "private_key").empty()) {
        std::fprintf(f, "<cert>\n%s\n</cert>\n", config_get_string(cfg, "public_cert"));
        std::fprintf(f, "<key>\n%s\n</key>\n", config_get_string(cfg, "private_key"));
    }
    if (!override_defaults(cfg))
        std::fputs("proto udp\nremote-cert-tls server\ncipher AES-256-GCM\n", f);
}

void map_client(FILE *out, network_node *node, config_node *cfg, const char *key)
{
    uci_write_option_string(out, "proto", "%s", "openvpn");
    map_interface_link(out, device_of(node, cfg));
    uci_write_option_int(out, "metric", config_get_int(cfg, "metric"));

    if (std::string_view user = get(cfg, "username"); !user.empty()) {
        std::string path = std::string("/var/run/userpass_") + key + ".cfg";
        if (unique_file f = open_side_file(path.c_str(), true)) {
            std::fprintf(f.get(), "%s\n", config_get_string(cfg, "username"));
            std::fprintf(f.get(), "%s\n", config_get_string(cfg, "password"));
        }
    }

    write_digest(out, cfg);

    // The client file carries the private key.
    std::string path = std::string("/var/run/config_file_") + key;
    unique_file f = open_side_file(path.c_str(), true);
    if (!f)
        return;
    if (config_get_bool(cfg, "use_file"))
        write_client_file_filtered(f.get(), cfg, key);
    else
        write_client_file_generated(f.get(), cfg, key);
}

struct server_net {
    std::string address;  // without the prefix length
    std::string prefix;   // the first three octets
    unsigned octet[4] = {255, 255, 255, 255};
};

server_net split_server_address(std::string_view server_address)
{
    server_net net;
    size_t slash = server_address.find('/');
    net.address = std::string(server_address.substr(0, slash));
    unsigned bits = 32;
    if (slash != std::string_view::npos)
        bits = std::strtoul(std::string(server_address.substr(slash + 1)).c_str(), nullptr, 10);
    if (bits > 32)
        bits = 32;
    // Shifting a 32-bit value by 32 is undefined; work in 64 bits so that
    // a prefix length of 0 gives 0.0.0.0.
    uint32_t mask = static_cast<uint32_t>((0xffffffffull << (32 - bits)) & 0xffffffffull);
    for (int i = 0; i < 4; i++)
        net.octet[i] = (mask >> (24 - 8 * i)) & 0xff;
    size_t dot = net.address.rfind('.');
    net.prefix = net.address.substr(0, dot);
    return net;
}

std::string first_protocol(config_node *cfg)
{
    unique_sl protocols(config_get_string_list(cfg, "protocol"));
    const char *p = sl_get(protocols.get(), 0);
    return p ? p : "";
}

void write_server_file(FILE *f, config_node *cfg, const server_net &net, const char *device_name)
{
    std::string_view type = get(cfg, "device_type");
    int first = config_get_int(cfg, "server_first_ip");
    int last = config_get_int(cfg, "server_last_ip");
    std::fprintf(f,
                 "proto %s\nkeepalive 10 120\ncipher AES-256-GCM\npersist-key\npersist-tun\nverb 3\n"
                 "script-security 3\nclient-connect /bin/client_updown\nclient-disconnect /bin/client_updown\n"
                 "port %d\ndev-type %s\ndev %s\ntls-server\n",
                 first_protocol(cfg).c_str(), config_get_int(cfg, "port"), type == "tun" ? "tun" : "tap", device_name);
    const char *a = net.address.c_str(), *p = net.prefix.c_str();
    if (type == "tun") {
        std::fprintf(f, "mode server\ntopology net30\npush \"topology net30\"\npush \"route %s\"\nifconfig %s ", a, a);
        std::fprintf(f, "%s.%d\n", p, first);
        std::fprintf(f, "ifconfig-pool %s.%d %s.%d\n", p, first + 1, p, last);
    } else if (type == "tap_bridge") {
        std::fputs("server-bridge\n", f);
    } else {
        std::fprintf(f,
                     "mode server\ntopology subnet\npush \"topology subnet\"\npush \"route-gateway %s\"\n"
                     "ifconfig %s %d.%d.%d.%d\n",
                     a, a, net.octet[0], net.octet[1], net.octet[2], net.octet[3]);
        std::fprintf(f, "route %s.0 %d.%d.%d.%d\n", p, net.octet[0], net.octet[1], net.octet[2], net.octet[3]);
        std::fprintf(f, "ifconfig-pool %s.%d %s.%d\n", p, first + 1, p, last);
    }
    if (config_get_bool(cfg, "autogenerate")) {
        std::fputs("ca /etc/ssl/certs/ca.crt\ncert /etc/ssl/certs/server.crt\nkey /etc/ssl/certs/server.key\n"
                   "dh /etc/ssl/certs/dh2048.pem\nverify-client-cert none\n"
                   "auth-user-pass-verify /bin/openvpn_password via-env\n",
                   f);
        return;
    }
    std::string_view auth = get(cfg, "authentication");
    if (auth != "cert")
        std::fputs("auth-user-pass-verify /bin/openvpn_password via-env\n", f);
    if (auth == "passwd")
        std::fputs("verify-client-cert none\n", f);
    std::fprintf(f, "<ca>\n%s\n</ca>\n", config_get_string(cfg, "cacert"));
    std::fprintf(f, "<cert>\n%s\n</cert>\n", config_get_string(cfg, "server_cert"));
    std::fprintf(f, "<key>\n%s\n</key>\n", config_get_string(cfg, "server_key"));
    std::fprintf(f, "<dh>\n%s\n</dh>\n", config_get_string(cfg, "diffie"));
}

// Each option of the extra text starts with "--"; the daemon's file wants
// one option per line without the dashes.
std::string split_extra(std::string_view extra)
{
    std::string s;
    for (size_t i = 0; i < extra.size(); i++) {
        if (extra[i] == '-' && i + 1 < extra.size() && extra[i + 1] == '-') {
            s += " \n";
            i++;
        } else {
            s += extra[i];
        }
    }
    return s;
}

std::string host_name()
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, "/bin/hostname", nullptr));
    std::string_view s = text(out.get());
    s = s.substr(0, s.find('\n'));
    // The name becomes part of a path: keep it from naming another directory.
    if (s.empty() || s.find('/') != std::string_view::npos || s == "." || s == "..")
        return "router";
    return std::string(s);
}

void write_export_file(config_node *cfg, const char *key)
{
    ::mkdir("/var/run/openvpn", 0755);
    std::string path = "/var/run/openvpn/" + host_name() + "-" + key + ".ovpn";
    unique_file f = open_side_file(path.c_str(), false);
    if (!f)
        return;
    std::fprintf(f.get(),
                 "# Note:\n#\n# Any lines with <...> in them need to be modified. For example\n#\n"
                 "# remote <server address> 1234\n# with a server address of 1.2.3.4, becomes\n"
                 "# remote 1.2.3.4 1234\n\n#general\nclient\nresolv-retry infinite\nnobind\npersist-key\n"
                 "persist-tun\nremote-cert-tls server\ncipher AES-256-GCM\n\n# connection settings\n"
                 "dev %s\nproto %s\nremote <server address> %d\n",
                 get(cfg, "device_type") == "tun" ? "tun" : "tap", first_protocol(cfg).c_str(),
                 config_get_int(cfg, "port"));
    if (config_get_bool(cfg, "autogenerate")) {
        std::fputs("<ca>\n", f.get());
        if (unique_file ca{std::fopen("/etc/ssl/certs/ca.crt", "rb")}) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, ca.get())) > 0)
                std::fwrite(buf, 1, n, f.get());
        }
        std::fputs("\n</ca>\n\n#authentication\nauth-user-pass\n", f.get());
        return;
    }
    std::string_view auth = get(cfg, "authentication");
    std::fprintf(f.get(), "<ca>\n%s\n</ca>\n", config_get_string(cfg, "cacert"));
    std::fputs("\n#authentication\n", f.get());
    if (auth != "cert")
        std::fputs("auth-user-pass\n", f.get());
    if (auth != "passwd")
        std::fputs("cert <public key file>\nkey <private key file>\n", f.get());
}

void map_server(FILE *out, network_node *node, config_node *cfg, const char *key)
{
    uci_write_option_string(out, "proto", "%s", "openvpn_server");
    network_node *device = device_of(node, cfg);
    map_interface_link(out, device);
    uci_write_option_int(out, "metric", config_get_int(cfg, "metric"));
    uci_write_option_string(out, "server_network", "%s", config_get_string(cfg, "server_address"));

    write_digest(out, cfg);

    server_net net;
    if (get(cfg, "device_type") != "tap_bridge")
        net = split_server_address(get(cfg, "server_address"));

    // The server file carries the server's private key.
    std::string path = std::string("/var/run/config_file_server_") + key;
    unique_file f = open_side_file(path.c_str(), true);
    if (!f)
        return;
    if (!override_defaults(cfg))
        write_server_file(f.get(), cfg, net, device ? network_name(device) : "");
    if (config_get_bool(cfg, "advanced_options.enable"))
        std::fprintf(f.get(), "%s\n", split_extra(get(cfg, "advanced_options.extra")).c_str());
    f.reset();

    write_export_file(cfg, key);
}

}  // namespace

extern "C" void map_interface_openvpn(FILE *out, network_node *node)
{
    config_node *cfg = network_config(node);
    const char *key = config_key(cfg);
    if (!key)
        return;
    map_interface_name(out, node);
    if (config_has_key(cfg, "username"))
        map_client(out, node, cfg, key);
    else
        map_server(out, node, cfg, key);
}
