// OpenVPN interfaces: the UCI section, and the files the network daemon's
// OpenVPN protocols start the tunnel with.  A client object has the key
// "username"; a server object has not.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "mapper.h"
#include "openvpn_file.h"
#include "side_file.h"

using namespace proto;

namespace {

// Lines of a user's own client file that the router decides itself.  The
// trailing blanks belong to the entries: "keyfile" is not "key ".  An entry
// with a blank names one directive, the others every directive that starts
// with them; a line is matched by the directive the daemon reads from it,
// however it is spelled ("--up", a tab, quotes).
constexpr char keyword_filter[9][16] = {
    "ca ", "cert ", "key ", "up ", "down ", "dev ", "dev-", "script-security", "nobind",
};

bool filtered(std::string_view name)
{
    for (std::string_view entry : keyword_filter) {
        if (entry.ends_with(' ') ? name == entry.substr(0, entry.size() - 1)
                                 : name.starts_with(entry))
            return true;
    }
    return false;
}

// The digest lets the network daemon notice any change of the interface's
// settings.  The dump goes to md5sum through a pipe, followed by the line
// feed that echo would have added, so no configured text meets a shell.
void write_digest(network_run &run, config_node *cfg)
{
    unique_text dump(config_dump(cfg));
    std::string input = std::string(text_view(dump.get())) + "\n";
    if (std::string sum = md5sum_text(input); !sum.empty())
        uci_write_option_text(run.uci, "conf_md5sum", sum);
}

bool override_defaults(config_node *cfg)
{
    return config_get_bool(cfg, "advanced_options.enable") &&
           config_get_bool(cfg, "advanced_options.override");
}

std::string userpass_path(const char *key)
{
    return std::string("/var/run/userpass_") + key + ".cfg";
}

// "auth-user-pass <the generated user/password file>".
void write_auth_user_pass(FILE *f, config_node *cfg, const char *key, const std::string &file)
{
    ovpn_line().fixed("auth-user-pass ").token(userpass_path(key), cfg, nullptr).write(f, file);
}

// The router's own tunnel scripts; the daemon runs them only with this
// script security level.
const char *const tunnel_scripts =
    "route-noexec\nscript-security 2\nup /lib/netifd/openvpn-up\ndown /lib/netifd/openvpn-down\n";

void write_client_file_filtered(FILE *f, config_node *cfg, const char *key, const std::string &file)
{
    std::string_view all = read_text(cfg, "config_file");
    while (!all.empty()) {
        // A file saved with CR LF line ends reads the same.
        std::string_view line = next_line(all);
        if (line.empty())
            continue;
        std::vector<std::string> params = ovpn_parameters(line);
        std::string_view name = params.empty() ? std::string_view() : std::string_view(params[0]);
        if (name.starts_with("auth-user-pass")) {
            write_auth_user_pass(f, cfg, key, file);
        } else if (name == "dev" && params.size() > 1 &&
                   (params[1].starts_with("tun") || params[1].starts_with("tap"))) {
            if (ovpn_line().fixed("dev-type ").token(params[1], cfg, "config_file").write(f, file))
                std::fputs(tunnel_scripts, f);
        } else if (!filtered(name)) {
            ovpn_line().text(line, cfg, "config_file").write(f, file);
        }
    }
}

void write_client_file_generated(FILE *f, config_node *cfg, const char *key,
                                 const std::string &file)
{
    std::fprintf(f, "client\n%slport 0\n", tunnel_scripts);
    ovpn_line()
        .fixed("dev-type ")
        .token(read_text(cfg, "device_type"), cfg, "device_type")
        .write(f, file);
    ovpn_line()
        .fixed("remote ")
        .token(read_text(cfg, "server"), cfg, "server")
        .fixed(" ")
        .number(config_get_int(cfg, "port"))
        .write(f, file);
    if (!read_text(cfg, "username").empty())
        write_auth_user_pass(f, cfg, key, file);
    write_inline_pem(f, "ca", cfg, "cacert", file);
    if (!read_text(cfg, "public_cert").empty() && !read_text(cfg, "private_key").empty()) {
        write_inline_pem(f, "cert", cfg, "public_cert", file);
        write_inline_pem(f, "key", cfg, "private_key", file);
    }
    if (!override_defaults(cfg))
        std::fputs("proto udp\nremote-cert-tls server\ncipher AES-256-GCM\n", f);
}

// The daemon reads the user name from the first line and the password from
// the second, so a line break in either would shift the other.  Such a pair
// is not written, and an older file with stale credentials goes away.
void write_userpass(network_run &run, config_node *cfg, const std::string &path)
{
    side_record user, password;
    user.value(cfg, "username");
    password.value(cfg, "password");
    if (!user.check(path) || !password.check(path)) {
        unlink(path.c_str());
        return;
    }
    if (unique_file f = create_side_file(run, path, true)) {
        user.write(f.get(), path);
        password.write(f.get(), path);
        finish_side_file(run, std::move(f), path);
    }
}

void map_client(network_run &run, config_node *cfg, const char *key)
{
    uci_write_option_string(run.uci, "proto", "%s", "openvpn");
    map_interface_link(run, network_find_device(run.model, cfg));
    uci_write_option_int(run.uci, "metric", config_get_int(cfg, "metric"));

    if (!read_text(cfg, "username").empty())
        write_userpass(run, cfg, userpass_path(key));

    write_digest(run, cfg);

    // The client file carries the private key.
    std::string path = std::string("/var/run/config_file_") + key;
    unique_file f = create_side_file(run, path, true);
    if (!f)
        return;
    if (config_get_bool(cfg, "use_file"))
        write_client_file_filtered(f.get(), cfg, key, path);
    else
        write_client_file_generated(f.get(), cfg, key, path);
    finish_side_file(run, std::move(f), path);
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

std::string dotted(const unsigned (&octet)[4])
{
    return std::to_string(octet[0]) + "." + std::to_string(octet[1]) + "." +
           std::to_string(octet[2]) + "." + std::to_string(octet[3]);
}

// "<keyword> <first three octets>.<n>" lines of the address pool.
void write_pool(FILE *f, config_node *cfg, const server_net &net, int first, int last,
                const std::string &file)
{
    ovpn_line()
        .fixed("ifconfig-pool ")
        .token(net.prefix, cfg, "server_address")
        .fixed(".")
        .number(first)
        .fixed(" ")
        .token(net.prefix, cfg, "server_address")
        .fixed(".")
        .number(last)
        .write(f, file);
}

void write_server_file(FILE *f, config_node *cfg, const server_net &net, const char *device_name,
                       const std::string &file)
{
    std::string_view type = read_text(cfg, "device_type");
    int first = config_get_int(cfg, "server_first_ip");
    int last = config_get_int(cfg, "server_last_ip");
    ovpn_line().fixed("proto ").token(first_protocol(cfg), cfg, "protocol.0").write(f, file);
    std::fputs(
        "keepalive 10 120\ncipher AES-256-GCM\npersist-key\npersist-tun\nverb 3\n"
        "script-security 3\nclient-connect /bin/client_updown\nclient-disconnect /bin/client_updown\n",
        f);
    std::fprintf(f, "port %d\ndev-type %s\n", config_get_int(cfg, "port"),
                 type == "tun" ? "tun" : "tap");
    ovpn_line().fixed("dev ").token(text_view(device_name), cfg, nullptr).write(f, file);
    std::fputs("tls-server\n", f);
    // The address lines carry parts of the configured server address.
    const char *key = "server_address";
    if (type == "tun") {
        std::fputs("mode server\ntopology net30\npush \"topology net30\"\n", f);
        ovpn_line().fixed("push \"route ").token(net.address, cfg, key).fixed("\"").write(f, file);
        ovpn_line()
            .fixed("ifconfig ")
            .token(net.address, cfg, key)
            .fixed(" ")
            .token(net.prefix, cfg, key)
            .fixed(".")
            .number(first)
            .write(f, file);
        write_pool(f, cfg, net, first + 1, last, file);
    } else if (type == "tap_bridge") {
        std::fputs("server-bridge\n", f);
    } else {
        std::string mask = dotted(net.octet);
        std::fputs("mode server\ntopology subnet\npush \"topology subnet\"\n", f);
        ovpn_line()
            .fixed("push \"route-gateway ")
            .token(net.address, cfg, key)
            .fixed("\"")
            .write(f, file);
        ovpn_line()
            .fixed("ifconfig ")
            .token(net.address, cfg, key)
            .fixed(" " + mask)
            .write(f, file);
        ovpn_line().fixed("route ").token(net.prefix, cfg, key).fixed(".0 " + mask).write(f, file);
        write_pool(f, cfg, net, first + 1, last, file);
    }
    if (config_get_bool(cfg, "autogenerate")) {
        std::fputs(
            "ca /etc/ssl/certs/ca.crt\ncert /etc/ssl/certs/server.crt\nkey /etc/ssl/certs/server.key\n"
            "dh /etc/ssl/certs/dh2048.pem\nverify-client-cert none\n"
            "auth-user-pass-verify /bin/openvpn_password via-env\n",
            f);
        return;
    }
    std::string_view auth = read_text(cfg, "authentication");
    if (auth != "cert")
        std::fputs("auth-user-pass-verify /bin/openvpn_password via-env\n", f);
    if (auth == "passwd")
        std::fputs("verify-client-cert none\n", f);
    write_inline_pem(f, "ca", cfg, "cacert", file);
    write_inline_pem(f, "cert", cfg, "server_cert", file);
    write_inline_pem(f, "key", cfg, "server_key", file);
    write_inline_pem(f, "dh", cfg, "diffie", file);
}

// Each option of the extra text starts with "--"; the daemon's file wants
// one option per line without the dashes: every "--" becomes a blank and a
// line feed.  Each option must then be one line: text with a line break of
// its own would add lines that no "--" started.
void write_extra_options(FILE *f, config_node *cfg, const std::string &file)
{
    std::string_view extra = read_text(cfg, "advanced_options.extra");
    for (;;) {
        size_t dashes = extra.find("--");
        ovpn_line line;
        line.text(extra.substr(0, dashes), cfg, "advanced_options.extra");
        if (dashes == std::string_view::npos) {
            line.write(f, file);
            return;
        }
        line.fixed(" ").write(f, file);
        extra = extra.substr(dashes + 2);
    }
}

std::string host_name()
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, "/bin/hostname", nullptr));
    std::string_view s = text_view(out.get());
    s = s.substr(0, s.find('\n'));
    // The name becomes part of a path: keep it from naming another directory.
    if (s.empty() || s.find('/') != std::string_view::npos || s == "." || s == "..")
        return "router";
    return std::string(s);
}

void write_export_file(network_run &run, config_node *cfg, const char *key)
{
    ::mkdir("/var/run/openvpn", 0755);
    std::string path = "/var/run/openvpn/" + host_name() + "-" + key + ".ovpn";
    unique_file f = create_side_file(run, path, false);
    if (!f)
        return;
    std::fprintf(
        f.get(),
        "# Note:\n#\n# Any lines with <...> in them need to be modified. For example\n#\n"
        "# remote <server address> 1234\n# with a server address of 1.2.3.4, becomes\n"
        "# remote 1.2.3.4 1234\n\n#general\nclient\nresolv-retry infinite\nnobind\npersist-key\n"
        "persist-tun\nremote-cert-tls server\ncipher AES-256-GCM\n\n# connection settings\n"
        "dev %s\n",
        read_text(cfg, "device_type") == "tun" ? "tun" : "tap");
    ovpn_line().fixed("proto ").token(first_protocol(cfg), cfg, "protocol.0").write(f.get(), path);
    std::fprintf(f.get(), "remote <server address> %d\n", config_get_int(cfg, "port"));
    if (config_get_bool(cfg, "autogenerate")) {
        // The device's own CA; a missing one leaves the block empty.
        const char *ca_file = "/etc/ssl/certs/ca.crt";
        unique_text ca(file_read(ca_file));
        write_inline_pem(f.get(), "ca", text_view(ca.get()), ca_file, path);
        std::fputs("\n#authentication\nauth-user-pass\n", f.get());
    } else {
        std::string_view auth = read_text(cfg, "authentication");
        write_inline_pem(f.get(), "ca", cfg, "cacert", path);
        std::fputs("\n#authentication\n", f.get());
        if (auth != "cert")
            std::fputs("auth-user-pass\n", f.get());
        if (auth != "passwd")
            std::fputs("cert <public key file>\nkey <private key file>\n", f.get());
    }
    finish_side_file(run, std::move(f), path);
}

void map_server(network_run &run, config_node *cfg, const char *key)
{
    uci_write_option_string(run.uci, "proto", "%s", "openvpn_server");
    network_node *device = network_find_device(run.model, cfg);
    map_interface_link(run, device);
    uci_write_option_int(run.uci, "metric", config_get_int(cfg, "metric"));
    uci_write_option_config(run.uci, "server_network", cfg, "server_address");

    write_digest(run, cfg);

    server_net net;
    if (read_text(cfg, "device_type") != "tap_bridge")
        net = split_server_address(read_text(cfg, "server_address"));

    // The server file carries the server's private key.
    std::string path = std::string("/var/run/config_file_server_") + key;
    unique_file f = create_side_file(run, path, true);
    if (!f)
        return;
    if (!override_defaults(cfg))
        write_server_file(f.get(), cfg, net, device ? network_name(device) : "", path);
    if (config_get_bool(cfg, "advanced_options.enable"))
        write_extra_options(f.get(), cfg, path);
    if (!finish_side_file(run, std::move(f), path))
        return;

    write_export_file(run, cfg, key);
}

}  // namespace

void map_interface_openvpn(network_run &run, network_node *node)
{
    config_node *cfg = network_config(node);
    const char *key = config_key(cfg);
    if (!key)
        return;
    map_interface_name(run, node);
    if (config_has_key(cfg, "username"))
        map_client(run, cfg, key);
    else
        map_server(run, cfg, key);
}
