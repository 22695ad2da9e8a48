// Whatever the configuration and the live values hold, the IPsec files keep
// their lines, get their modes whatever the umask, and a write that fails
// fails the run without touching what is live.  The daemon itself loads
// what was written.
#include <fstream>
#include <sstream>

#include "ike_check.h"
#include "ipsec_test.h"

namespace ipsec_test {
namespace {

// Runs `config map ipsec` after some shell set-up inside the namespace.
nsrun::Result run_ipsec_after(nsrun::Spec spec, const std::string &setup)
{
    spec.program = "sh";
    spec.args = {"-c", setup + "\nexec " + nsrun::config_binary() + " map ipsec"};
    spec.collect.insert(spec.collect.end(), {conf, secrets, tree, tree + ".new", tree + ".old"});
    return nsrun::run(spec);
}

// One tunnel that carries texts that would break its files if written as
// they are, and one whose host list would add a line to them.
const char *payload_tunnels = R"json("pay": {
        "local": {"type": "interface", "interface": "wan", "id": {"type": "raw", "raw_id": "\"Q\" Corp"}},
        "remote": {"hostname": ["203.0.113.5", "peer \"two\""],
                   "id": {"type": "fqdn", "fqdn_id": "peer.example.com $(id) `id` ]"}},
        "auth": {"type": "secret", "secret": "k"},
        "xauth_client": {"enable": true, "username": "al ice\\", "password": "p\"w\nx"},
        "modecfg_client": {"enable": true}, "dpd": {"enable": false},
        "policy": [{"local": {"type": "custom", "custom": "$(reboot)", "protocol": "tcp", "port": "80]"},
                    "remote": {"network": "10.0.0.0/8 #x"}}]},
    "bad": {"local": {"type": "interface", "interface": "wan"},
            "remote": {"hostname": ["203.0.113.10\n\tleftupdown=/tmp/x.sh"]}, "auth": {"secret": "k"}})json";

TEST(IpsecSafety, PayloadsAreQuotedOrLeftOutWithTheirTunnel)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(payload_tunnels);
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conn_file(r, "pay"),
              "conn pay_policy0\n"
              "\ttype=tunnel\n"
              "\tkeyexchange=ikev2\n"
              "\tfragmentation=yes\n"
              "\tkeyingtries=1\n"
              "\tif_id=1\n"
              "\tleft=198.51.100.1\n"
              "\tright=\"203.0.113.5,peer \\\"two\\\"\"\n"
              "\trighthostssequence=sequential\n"
              "\tleftid=\"\\\"Q\\\" Corp\"\n"
              "\trightid=\"fqdn:peer.example.com $(id) `id` ]\"\n"
              "\txauth=client\n"
              "\tleftauth2=xauth\n"
              "\txauth_identity=\"al ice\\\\\"\n"
              "\tleftauth=psk\n"
              "\trightauth=psk\n"
              "\tmodeconfig=pull\n"
              "\tikelifetime=10800s\n"
              "\tlifetime=3600s\n"
              "\tmargintime=540s\n"
              "\tleftsubnet=$(reboot)[tcp/80]]\n"
              "\trightsubnet=\"10.0.0.0/8 #x[%any/%any]\"\n"
              "\tleftupdown=\"/bin/ipsec-updown.sh -l '$(reboot)' -x ipsec1 -n 1\"\n"
              "\tauto=add\n\n");
    // Selectors have no escapes: one holding a double quote goes between
    // single quotes; the password is Base64 of its bytes.
    EXPECT_EQ(file(r, tree + "/secrets/pay.secret"),
              "\"al ice\\\" : XAUTH 0scCJ3Cng=\n"
              "'\"Q\" Corp' \"fqdn:peer.example.com $(id) `id` ]\" : PSK 0saw==\n");
    EXPECT_EQ(file(r, conf), "config setup\n\ninclude /var/run/ipsec.d/conf/pay.conf\n");
    EXPECT_EQ(file(r, secrets), "include /var/run/ipsec.d/secrets/pay.secret\n");

    // The tunnel whose host list holds a line break is left out, with one
    // message that names the value's path and not the value.
    EXPECT_EQ(tree_entries(r).count("conf/bad.conf"), 0u);
    EXPECT_EQ(
        r.err,
        "config map ipsec: tunnel 'bad': vpn.ipsec.tunnel.bad.remote.hostname cannot be written to "
        "/var/run/ipsec.d.new/secrets/bad.secret (line break). Skipping tunnel\n");

    // The daemon reads each value back as it was configured.
    auto d = ike_check::load(ike_check::from_result(r));
    ASSERT_TRUE(d.started) << d.error << d.log;
    EXPECT_EQ(d.starter_problems, std::vector<std::string>{});
    EXPECT_EQ(d.unknown_keywords, (std::vector<std::string>{"if_id", "righthostssequence"}));
    const auto *c = d.connection("pay_policy0");
    ASSERT_NE(c, nullptr) << d.statusall;
    EXPECT_EQ(c->local_id, "\"Q\" Corp");
    EXPECT_EQ(c->remote_id, "peer.example.com $(id) `id` ]");
    EXPECT_NE(c->text.find(" 198.51.100.1...203.0.113.5,peer \"two\" "), std::string::npos)
        << c->text;
    EXPECT_NE(c->text.find("with XAuth identity 'al ice\\'"), std::string::npos) << c->text;
    EXPECT_EQ(d.secrets, (std::vector<std::string>{
                             "EAP secret for \"al ice\\\"",
                             "IKE secret for '\"Q\" Corp' \"fqdn:peer.example.com $(id) `id` ]\"",
                         }));
    for (const auto &p : d.problems)
        EXPECT_EQ(p.rfind("line ", 0), std::string::npos) << p;
}

TEST(IpsecSafety, LiveAddressesAreQuotedOrLeaveTheirTunnelOut)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5"]}, "auth": {"secret": "k"}, "dpd": {"enable": false},
        "policy": [{"local": {"type": "network", "network": "lan"}, "remote": {"network": "10.0.0.0/8"}}]})");
    interface_up(spec, "wan", "198.51.100.1 x");
    spec.runtime.push_back({"network.interface.lan.ipv4.address", "192.168.1.1"});
    spec.runtime.push_back({"network.interface.lan.ipv4.netmask", "24\nauto=start"});
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("conf/t1.conf"), 0u);
    EXPECT_EQ(file(r, tree + "/secrets/t1.secret"),
              "\"198.51.100.1 x\" 203.0.113.5 : PSK 0saw==\n");
    EXPECT_EQ(
        r.err,
        "config map ipsec: tunnel 't1': network.interface.lan.ipv4.netmask cannot be written to "
        "/var/run/ipsec.d.new/conf/t1.conf (line break). Skipping tunnel\n");
}

std::vector<std::pair<std::string, std::string>> runtime_file(const std::string &path)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        size_t blank = line.find(' ');
        if (line.empty() || line[0] == '#' || blank == std::string::npos)
            continue;
        out.push_back({line.substr(0, blank), line.substr(blank + 1)});
    }
    return out;
}

TEST(IpsecSafety, TheDaemonLoadsTheExampleConfiguration)
{
    nsrun::Spec spec;
    std::ifstream in(std::string(EXAMPLES_DIR) + "/office.json");
    std::stringstream json;
    json << in.rdbuf();
    spec.config_json = json.str();
    spec.runtime = runtime_file(std::string(EXAMPLES_DIR) + "/office.runtime");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;

    auto d = ike_check::load(ike_check::from_result(r));
    ASSERT_TRUE(d.started) << d.error << d.log;
    EXPECT_EQ(d.starter_problems, std::vector<std::string>{});
    EXPECT_EQ(d.unknown_keywords, (std::vector<std::string>{"if_id", "righthostssequence"}));
    EXPECT_EQ(d.problems, std::vector<std::string>{});
    ASSERT_EQ(d.connections.size(), 1u) << d.statusall;
    const auto &c = d.connections[0];
    EXPECT_EQ(c.name, "branch_policy0");
    EXPECT_EQ(c.local_id, "office.example.com");
    EXPECT_EQ(c.remote_id, "branch.example.com");
    EXPECT_EQ(c.local_auth, "pre-shared key");
    EXPECT_EQ(c.remote_auth, "pre-shared key");
    EXPECT_NE(c.text.find("child:  192.168.1.0/24 === 10.50.0.0/16 TUNNEL"), std::string::npos)
        << c.text;
    EXPECT_EQ(d.secrets, std::vector<std::string>{
                             "IKE secret for fqdn:office.example.com fqdn:branch.example.com"});
}

TEST(IpsecSafety, PassphraseWithAQuoteReachesTheDaemonAsBase64)
{
    const auto &k = credentials();
    std::string key =
        shell("printf 'a\"b c' > " + k.dir + "/quote.pass && openssl rsa -in " + k.dir +
              "/key.pem -aes256 -passout file:" + k.dir + "/quote.pass 2>/dev/null");
    ASSERT_NE(key.find("ENCRYPTED"), std::string::npos) << key;
    nsrun::Spec spec;
    spec.config_json = tunnels(
        "\"x1\": {\"local\": {\"type\": \"interface\", \"interface\": \"wan\"}, "
        "\"remote\": {\"hostname\": [\"203.0.113.5\"]}, \"auth\": {\"type\": \"x509\", "
        "\"peer_verify\": \"cert\", \"private_key_passphrase\": \"a\\\"b c\", "
        "\"private_key\": " +
        quote(key) + ", \"cert\": " + quote(k.cert) + ", \"peer_cert\": " + quote(k.ca[0]) + "}}");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, tree + "/secrets/x1.secret"),
              "198.51.100.1 203.0.113.5 : RSA \"x1.rsa\" 0sYSJiIGM=\n");

    auto d = ike_check::load(ike_check::from_result(r));
    ASSERT_TRUE(d.started) << d.error << d.log;
    EXPECT_EQ(d.problems, std::vector<std::string>{});
    EXPECT_EQ(d.secrets,
              std::vector<std::string>{"RSA private key from '/etc/ipsec.d/private/x1.rsa'"});
    const auto *c = d.connection("x1_policy0");
    ASSERT_NE(c, nullptr) << d.statusall;
    EXPECT_EQ(c->local_auth, "public key");
}

TEST(IpsecSafety, EveryFileGetsItsModeWhateverTheUmask)
{
    const auto &k = credentials();
    nsrun::Spec spec;
    spec.config_json = tunnels(
        psk_tunnel("p", R"("xauth_client": {"enable": true, "username": "u", "password": "pw"})") +
        ", " +
        wan_tunnel("x",
                   "\"auth\": {\"type\": \"x509\", \"peer_ca_dn\": \"CN=ca\", \"private_key\": " +
                       quote(k.key) + ", \"cert\": " + quote(k.cert) +
                       ", \"peer_ca\": " + quote(k.ca[0]) + ", \"crls\": [{\"crl\": \"c\"}]}") +
        ", " +
        wan_tunnel("r", "\"auth\": {\"type\": \"rsasig\", \"private_key\": " + quote(k.key) + "}"));
    interface_up(spec, "wan", "198.51.100.1");
    // Files left by an older run with other modes get theirs too.
    spec.files[conf] = "old\n";
    spec.files[secrets] = "old\n";
    auto r = run_ipsec_after(spec, "umask 000 && chmod 666 " + conf + " && chmod 644 " + secrets);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, unsigned> modes;
    for (const auto &[path, mode] : r.modes)
        if (path != tree && r.files[path] != "<dir>" && r.files[path].rfind("-> ", 0) != 0)
            modes[path] = mode;
    const std::map<std::string, unsigned> expected = {
        {conf, 0644},
        {secrets, 0600},
        {tree + "/conf/p.conf", 0644},
        {tree + "/conf/x.conf", 0644},
        {tree + "/conf/r.conf", 0644},
        {tree + "/secrets/p.secret", 0600},
        {tree + "/secrets/x.secret", 0600},
        {tree + "/secrets/r.secret", 0600},
        {tree + "/private/x.rsa", 0600},
        {tree + "/private/r.rsa", 0600},
        {tree + "/certs/x.cert", 0644},
        {tree + "/certs/r.pub", 0644},
        {tree + "/certs/r.peerpub", 0644},
        {tree + "/cacerts/x.0.cacert", 0644},
        {tree + "/crls/x0.crl", 0644},
    };
    EXPECT_EQ(modes, expected);
    for (const auto &[path, contents] : r.files) {
        if (contents == "<dir>") {
            EXPECT_EQ(r.modes[path], 0755u) << path;
        }
    }
}

TEST(IpsecSafety, ReadOnlySecretsFileLeavesEverythingAsItWas)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"));
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[conf] = "old conf\n";
    spec.files[secrets] = "old secrets\n";
    spec.files[tree + "/conf/live.conf"] = "live\n";
    auto r = run_ipsec_after(spec, "mount --bind " + secrets + " " + secrets +
                                       " && mount -o remount,ro,bind " + secrets);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "config map ipsec: cannot open /var/run/ipsec.secrets: Read-only file system\n");
    EXPECT_EQ(file(r, conf), "old conf\n");
    EXPECT_EQ(file(r, secrets), "old secrets\n");
    EXPECT_EQ(tree_entries(r), std::set<std::string>({"conf", "conf/live.conf"}));
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
}

TEST(IpsecSafety, FullTopLevelFileFailsTheRun)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"));
    interface_up(spec, "wan", "198.51.100.1");
    // ipsec.conf on a file system of one page that is full.
    auto r = run_ipsec_after(spec,
                             "mkdir /run/small && mount -t tmpfs -o size=4k small /run/small && "
                             "head -c 4096 /dev/zero >/run/small/fill; touch /run/small/conf " +
                                 conf + " && mount --bind /run/small/conf " + conf);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "config map ipsec: error writing /var/run/ipsec.conf: No space left on device\n");
    EXPECT_EQ(file(r, secrets), "include /var/run/ipsec.d/secrets/t1.secret\n");
}

TEST(IpsecSafety, TreeThatCannotBeWrittenNeverReplacesTheLiveOne)
{
    nsrun::Spec spec;
    // A certificate revocation list larger than the space left.
    spec.config_json = tunnels(
        psk_tunnel("t1") + ", " +
        wan_tunnel(
            "x",
            "\"auth\": {\"type\": \"x509\", \"peer_ca_dn\": \"CN=ca\", \"crls\": [{\"crl\": \"" +
                std::string(512 * 1024, 'c') + "\"}]}"));
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[conf] = "old conf\n";
    spec.files[secrets] = "old secrets\n";
    spec.files[tree + "/conf/live.conf"] = "live\n";
    auto r = run_ipsec_after(
        spec,
        "mount -o remount,size=4m /run && dd if=/dev/zero of=/run/fill bs=64k 2>/dev/null; "
        "truncate -s -256k /run/fill");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        "config map ipsec: error writing /var/run/ipsec.d.new/crls/x0.crl: No space left on device\n");
    EXPECT_EQ(file(r, conf), "old conf\n");
    EXPECT_EQ(file(r, secrets), "old secrets\n");
    EXPECT_EQ(tree_entries(r), std::set<std::string>({"conf", "conf/live.conf"}));
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
}

}  // namespace
}  // namespace ipsec_test
