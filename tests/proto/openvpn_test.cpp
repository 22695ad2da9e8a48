#include <unistd.h>

#include <map>
#include <vector>

#include "openvpn_check.h"
#include "proto_test.h"

using namespace proto_test;

namespace {

const std::string client_file = "/var/run/config_file_c1";
const std::string userpass = "/var/run/userpass_c1.cfg";
const std::string server_file = "/var/run/config_file_server_s1";

std::string host()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string export_file() { return "/var/run/openvpn/" + host() + "-s1.ovpn"; }

nsrun::Result run_openvpn(const std::string &role, const std::string &members)
{
    nsrun::Spec spec;
    spec.config_json = R"({"vpn": {"openvpn": {")" + role + R"(": {"c1": {)" + members +
                       "}, \"s1\": {" + members + "}}}}}";
    if (role == "client")
        spec.config_json = R"({"vpn": {"openvpn": {"client": {"c1": {)" + members + "}}}}}";
    else
        spec.config_json = R"({"vpn": {"openvpn": {"server": {"s1": {)" + members + "}}}}}";
    spec.collect = {client_file, userpass, server_file, "/var/run/openvpn"};
    // The digest of the interface's settings: the dump with one line feed
    // after it, as the direct-mode dump prints it.
    spec.after = nsrun::config_binary() + " dump vpn.openvpn." + role +
                 (role == "client" ? ".c1" : ".s1") + " | md5sum | cut -d' ' -f1";
    return map_network(spec);
}

std::string digest_option(const nsrun::Result &r)
{
    std::string sum = r.after.substr(0, 32);
    return "\toption conf_md5sum \"" + sum + "\"\n";
}

// Checks a generated file the way the daemon reads it: the directives in
// order, inline blocks closed by their own end tag.
void expect_directives(const std::string &text, const std::vector<std::string> &names)
{
    ovpn_check::parsed p = ovpn_check::parse(text);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(ovpn_check::names(p), names) << text;
}

// Inline credentials must be PEM; these are shaped like it (the daemon
// reads them only after its option checks).
std::string pem(const std::string &label, const std::string &body)
{
    return "-----BEGIN " + label + "-----\n" + body + "\n-----END " + label + "-----";
}
const std::string ca = pem("CERTIFICATE", "Q0EtTElORS0x\nQ0EtTElORS0y");
const std::string cert = pem("CERTIFICATE", "Q0VSVA==");
const std::string key = pem("PRIVATE KEY", "S0VZ");
const std::string server_cert = pem("CERTIFICATE", "U0M=");
const std::string server_key = pem("PRIVATE KEY", "U0s=");
const std::string dh = pem("DH PARAMETERS", "REg=");

const char *fixed_client_lines =
    "client\nroute-noexec\nscript-security 2\nup /lib/netifd/openvpn-up\ndown /lib/netifd/openvpn-down\nlport 0\n";

}  // namespace

TEST(OpenvpnClient, GeneratedFileCredentialsAndSection)
{
    auto r = run_openvpn(
        "client", R"("username": "alice", "password": "pw 1", "metric": 7, "device_type": "tap",
        "server": "vpn.example.net", "port": 1195, "cacert": )" +
                      quote(ca) + R"(,
        "public_cert": )" +
                      quote(cert) + R"(, "private_key": )" + quote(key));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file),
              "\nconfig globals globals\n"
              "\nconfig interface openvpn_c1\n\toption proto \"openvpn\"\n"
              "\toption ifname \"ovpnc_c1\"\n\toption metric 7\n" +
                  digest_option(r));
    EXPECT_EQ(file(r, userpass), "alice\npw 1\n");
    std::string expected = std::string(fixed_client_lines) +
                           "dev-type tap\nremote vpn.example.net 1195\n"
                           "auth-user-pass /var/run/userpass_c1.cfg\n"
                           "<ca>\n" +
                           ca + "\n</ca>\n<cert>\n" + cert + "\n</cert>\n<key>\n" + key +
                           "\n</key>\n" + "proto udp\nremote-cert-tls server\ncipher AES-256-GCM\n";
    EXPECT_EQ(file(r, client_file), expected);
    expect_directives(file(r, client_file),
                      {"client", "route-noexec", "script-security", "up", "down", "lport",
                       "dev-type", "remote", "auth-user-pass", "proto", "remote-cert-tls",
                       "cipher"});
    EXPECT_EQ(r.modes[userpass], 0600u);
    EXPECT_EQ(r.modes[client_file], 0600u) << "the file holds the private key";
}

TEST(OpenvpnClient, EmptyUserNameAndOverriddenDefaults)
{
    auto r = run_openvpn("client", R"("username": "", "server": "10.0.0.1", "cacert": )" +
                                       quote(ca) + R"(, "public_cert": "CERT",
        "advanced_options": {"enable": true, "override": true, "extra": "--mssfix 1400"})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, userpass), "<missing>");
    // Only half of the certificate pair: neither is written.
    EXPECT_EQ(file(r, client_file), std::string(fixed_client_lines) +
                                        "dev-type tun\nremote 10.0.0.1 1194\n<ca>\n" + ca +
                                        "\n</ca>\n");
}

TEST(OpenvpnClient, OwnFileIsFilteredLineByLine)
{
    std::string own =
        "client\n\ndev tun0\ndev eth0\ndev-node /dev/net/x\nremote 192.0.2.1 1194\n"
        "auth-user-pass /etc/secret\nca /etc/ca.pem\ncert c.pem\nkey k.pem\nkeyfile-x y\n"
        "up /tmp/evil\ndown /tmp/evil\nscript-security 3\nnobind\n<ca>\nINLINE\n</ca>\n";
    auto r = run_openvpn("client",
                         R"("username": "bob", "use_file": true, "config_file": )" + quote(own));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file(r, client_file),
        "client\ndev-type tun0\nroute-noexec\nscript-security 2\nup /lib/netifd/openvpn-up\n"
        "down /lib/netifd/openvpn-down\nremote 192.0.2.1 1194\nauth-user-pass /var/run/userpass_c1.cfg\n"
        "keyfile-x y\n<ca>\nINLINE\n</ca>\n");
}

TEST(OpenvpnClient, QuoteInSettingsReachesNoShell)
{
    // With the dump inside a shell command line, this name would end the
    // quoted text and run a command.
    auto r =
        run_openvpn("client", R"("username": "x' ; touch /run/pwned ; echo '", "server": "s")");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string s = section(file(r, network_file), "openvpn_c1");
    EXPECT_NE(s.find(digest_option(r)), std::string::npos) << s << r.after;
    nsrun::Spec check;
    check.config_json =
        R"({"vpn": {"openvpn": {"client": {"c1": {"username": "x' ; touch /run/pwned ; echo '"}}}}})";
    check.args = {"map", "network"};
    check.after = "test -e /run/pwned && echo ran";
    EXPECT_EQ(nsrun::run(check).after, "");
}

TEST(OpenvpnServer, TunTopologyWithPasswordLogins)
{
    auto r = run_openvpn(
        "server",
        R"("metric": 3, "device_type": "tun", "port": 1194, "protocol": ["udp", "tcp-server"],
        "server_address": "10.8.0.1/24", "server_first_ip": 2, "server_last_ip": 100, "authentication": "passwd",
        "cacert": )" +
            quote(ca) + R"(, "server_cert": )" + quote(server_cert) + R"(,
        "server_key": )" +
            quote(server_key) + R"(, "diffie": )" + quote(dh));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file),
              "\nconfig globals globals\n"
              "\nconfig interface openvpn_srv_s1\n\toption proto \"openvpn_server\"\n"
              "\toption ifname \"ovpns_s1\"\n\toption metric 3\n"
              "\toption server_network \"10.8.0.1/24\"\n" +
                  digest_option(r));
    std::string expected =
        "proto udp\nkeepalive 10 120\ncipher AES-256-GCM\npersist-key\npersist-tun\nverb 3\nscript-security 3\n"
        "client-connect /bin/client_updown\nclient-disconnect /bin/client_updown\nport 1194\ndev-type tun\n"
        "dev ovpns_s1\ntls-server\n"
        "mode server\ntopology net30\npush \"topology net30\"\npush \"route 10.8.0.1\"\n"
        "ifconfig 10.8.0.1 10.8.0.2\nifconfig-pool 10.8.0.3 10.8.0.100\n"
        "auth-user-pass-verify /bin/openvpn_password via-env\nverify-client-cert none\n"
        "<ca>\n" +
        ca + "\n</ca>\n<cert>\n" + server_cert + "\n</cert>\n<key>\n" + server_key +
        "\n</key>\n<dh>\n" + dh + "\n</dh>\n";
    EXPECT_EQ(file(r, server_file), expected);
    expect_directives(expected, {"proto",
                                 "keepalive",
                                 "cipher",
                                 "persist-key",
                                 "persist-tun",
                                 "verb",
                                 "script-security",
                                 "client-connect",
                                 "client-disconnect",
                                 "port",
                                 "dev-type",
                                 "dev",
                                 "tls-server",
                                 "mode",
                                 "topology",
                                 "push",
                                 "push",
                                 "ifconfig",
                                 "ifconfig-pool",
                                 "auth-user-pass-verify",
                                 "verify-client-cert"});
    EXPECT_EQ(r.modes[server_file], 0600u) << "the file holds the server key";
    EXPECT_EQ(
        file(r, export_file()),
        "# Note:\n#\n# Any lines with <...> in them need to be modified. For example\n#\n"
        "# remote <server address> 1234\n# with a server address of 1.2.3.4, becomes\n"
        "# remote 1.2.3.4 1234\n\n#general\nclient\nresolv-retry infinite\nnobind\npersist-key\n"
        "persist-tun\nremote-cert-tls server\ncipher AES-256-GCM\n\n# connection settings\n"
        "dev tun\nproto udp\nremote <server address> 1194\n<ca>\n" +
            ca +
            "\n</ca>\n\n#authentication\n"
            "auth-user-pass\n");
}

TEST(OpenvpnServer, TapSubnetWithCertificateLoginsAndExtraOptions)
{
    auto r = run_openvpn(
        "server",
        R"("device_type": "tap", "port": 1200, "protocol": ["tcp-server"],
        "server_address": "192.168.5.1/24", "server_first_ip": 10, "server_last_ip": 20, "authentication": "cert",
        "cacert": )" +
            quote(ca) +
            R"(, "advanced_options": {"enable": true, "extra": "--mssfix 1400 --tun-mtu 1500"})");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string body = file(r, server_file);
    std::string topology =
        "mode server\ntopology subnet\npush \"topology subnet\"\npush \"route-gateway 192.168.5.1\"\n"
        "ifconfig 192.168.5.1 255.255.255.0\nroute 192.168.5.0 255.255.255.0\n"
        "ifconfig-pool 192.168.5.11 192.168.5.20\n"
        "<ca>\n" +
        ca +
        "\n</ca>\n<cert>\n\n</cert>\n<key>\n\n</key>\n<dh>\n\n</dh>\n"
        " \nmssfix 1400  \ntun-mtu 1500\n";
    ASSERT_GE(body.size(), topology.size());
    EXPECT_EQ(body.substr(body.size() - topology.size()), topology);
    EXPECT_NE(body.find("proto tcp-server\n"), std::string::npos);
    EXPECT_NE(body.find("port 1200\ndev-type tap\ndev ovpns_s1\n"), std::string::npos);
    EXPECT_EQ(body.find("auth-user-pass-verify"), std::string::npos);
    std::string exported = file(r, export_file());
    EXPECT_NE(exported.find("dev tap\nproto tcp-server\nremote <server address> 1200\n"),
              std::string::npos);
    EXPECT_EQ(exported.substr(exported.find("<ca>")),
              "<ca>\n" + ca +
                  "\n</ca>\n\n#authentication\ncert <public key file>\nkey <private key file>\n");
}

TEST(OpenvpnServer, NetmasksOfEveryPrefixLength)
{
    struct Case {
        const char *address;
        const char *ifconfig;
    } cases[] = {{"10.0.0.1/32", "ifconfig 10.0.0.1 255.255.255.255\n"},
                 {"10.0.0.1/17", "ifconfig 10.0.0.1 255.255.128.0\n"},
                 {"10.0.0.1/1", "ifconfig 10.0.0.1 128.0.0.0\n"},
                 {"10.0.0.1/0", "ifconfig 10.0.0.1 0.0.0.0\n"}};
    for (const Case &c : cases) {
        auto r = run_openvpn("server", std::string(R"("device_type": "tap", "server_address": ")") +
                                           c.address + "\"");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(file(r, server_file).find(c.ifconfig), std::string::npos) << c.address;
    }
}

TEST(OpenvpnServer, OverrideWritesOnlyTheExtraTextAndBridgeHasNoPool)
{
    auto r = run_openvpn("server", R"("device_type": "tap_bridge", "protocol": ["udp"],
        "advanced_options": {"enable": true, "override": true, "extra": "--server-bridge"})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, server_file), " \nserver-bridge\n");
    r = run_openvpn("server",
                    R"("device_type": "tap_bridge", "protocol": ["udp"], "autogenerate": true)");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string body = file(r, server_file);
    EXPECT_NE(
        body.find(
            "tls-server\nserver-bridge\nca /etc/ssl/certs/ca.crt\ncert /etc/ssl/certs/server.crt\n"
            "key /etc/ssl/certs/server.key\ndh /etc/ssl/certs/dh2048.pem\nverify-client-cert none\n"
            "auth-user-pass-verify /bin/openvpn_password via-env\n"),
        std::string::npos)
        << body;
    EXPECT_EQ(body.find("ifconfig"), std::string::npos);
    // The device's CA file is not there in the test: the block stays empty.
    std::string exported = file(r, export_file());
    EXPECT_EQ(exported.substr(exported.find("<ca>")),
              "<ca>\n\n</ca>\n\n#authentication\nauth-user-pass\n");
}

// The daemon itself reads the generated files.  The scripts they name are
// replaced by a stand-in first (the daemon insists that they exist); the
// banner it prints once every option is accepted is the verdict, and the
// inline credentials, which are not real, stop it right after that, inside
// a network namespace of its own.
TEST(OpenvpnDaemon, AcceptsGeneratedFiles)
{
    if (system("command -v openvpn >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openvpn not installed";
    nsrun::Spec spec;
    spec.config_json = R"({"vpn": {"openvpn": {
      "client": {"c1": {"username": "u", "password": "p", "server": "192.0.2.1", "cacert": )" +
                       quote(ca) + R"(},
                 "c2": {"username": "v", "use_file": true,
                        "config_file": "client\ndev tun\nproto udp\nremote 192.0.2.1 1194\nca /x\nnobind\nauth-user-pass /x\n<ca>\nCA\n</ca>\n"}},
      "server": {"s1": {"protocol": ["udp"], "authentication": "passwd", "cacert": )" +
                       quote(ca) + R"(},
                 "s2": {"device_type": "tap", "protocol": ["tcp-server"], "server_address": "192.168.5.1/24",
                        "authentication": "both", "advanced_options": {"enable": true, "extra": "--mssfix 1400"}},
                 "s3": {"protocol": ["udp"], "autogenerate": true}}}}})";
    std::vector<std::string> files;
    for (const char *f : {"config_file_c1", "config_file_c2", "config_file_server_s1",
                          "config_file_server_s2", "config_file_server_s3"})
        files.push_back(std::string("/var/run/") + f);
    spec.after = ovpn_check::after_commands(files);
    auto r = map_network(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> verdicts = ovpn_check::verdicts(r.after);
    EXPECT_EQ(verdicts.size(), files.size()) << r.after;
    for (const std::string &f : files)
        EXPECT_EQ(verdicts[f], "accepted") << f;
}

TEST(OpenvpnClient, OlderWorldReadableSecretFilesAreTightened)
{
    nsrun::Spec spec;
    spec.config_json =
        R"({"vpn": {"openvpn": {"client": {"c1": {"username": "u", "password": "new"}}}}})";
    // The helper makes files that start with "#!" mode 755: wider than any
    // secret may stay.
    spec.files = {{userpass, "#!old\nsecret and more text than the new one\n"},
                  {client_file, "#!old"}};
    spec.collect = {userpass, client_file};
    auto r = map_network(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, userpass), "u\nnew\n");
    EXPECT_EQ(r.modes[userpass], 0600u);
    EXPECT_EQ(r.modes[client_file], 0600u);
}
