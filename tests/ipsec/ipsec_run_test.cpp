// The run as a whole: top-level files, the tree and its swap, tunnel
// selection (enable, failover, local end point) and the exit status.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ipsec_test.h"

namespace ipsec_test {

std::string shell(const std::string &command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE *)> p(popen(command.c_str(), "r"), pclose);
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p.get())) > 0)
        out.append(buf, n);
    return out;
}

static std::string read_file(const std::string &path) { return shell("cat '" + path + "'"); }

// Keys and certificates are made once per build tree and shared by every
// test process (ctest runs each test on its own).
static pki make_credentials()
{
    pki k;
    const std::string cache = IPSEC_TEST_PKI_DIR;
    std::string parent = cache.substr(0, cache.rfind('/'));
    if (shell("test -e '" + cache + "/done' && echo yes") != "yes\n") {
        std::string tmpl_text = parent + "/pki-XXXXXX";
        std::vector<char> tmpl(tmpl_text.begin(), tmpl_text.end());
        tmpl.push_back('\0');
        const std::string d = mkdtemp(tmpl.data());
        for (int i = 0; i < 3; ++i) {
            std::string n = std::to_string(i);
            shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/ca" + n +
                  ".key -out " + d + "/ca" + n + ".pem -subj '/C=US/O=Test/CN=Test CA " + n +
                  "' -days 3650 2>/dev/null");
        }
        shell("openssl genrsa -out " + d + "/key.pem 2048 2>/dev/null");
        shell("openssl rsa -in " + d + "/key.pem -aes256 -passout 'pass:p4ss word' -out " + d +
              "/key_enc.pem 2>/dev/null");
        shell("openssl rsa -in " + d + "/key.pem -pubout -out " + d + "/pub.pem 2>/dev/null");
        shell("openssl req -new -x509 -key " + d + "/key.pem -subj '/CN=router' -days 3650 -out " +
              d + "/cert.pem 2>/dev/null");
        shell("touch " + d + "/done");
        // Another test process may have finished first: keep its set.
        if (rename(d.c_str(), cache.c_str()) != 0)
            shell("rm -rf '" + d + "'");
    }
    k.dir = cache;
    for (int i = 0; i < 3; ++i)
        k.ca[i] = read_file(cache + "/ca" + std::to_string(i) + ".pem");
    k.key = read_file(cache + "/key.pem");
    k.key_enc = read_file(cache + "/key_enc.pem");
    k.pub = read_file(cache + "/pub.pem");
    k.cert = read_file(cache + "/cert.pem");
    return k;
}

const pki &credentials()
{
    static const pki p = make_credentials();
    return p;
}

namespace {

const std::set<std::string> empty_tree = {"conf",   "secrets", "private",   "certs", "cacerts",
                                          "acerts", "aacerts", "ocspcerts", "crls"};

TEST(IpsecRun, NoTunnelsGivesEmptyFilesAndTreeAndStatus1)
{
    nsrun::Spec spec;
    spec.config_json = "{}";
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(file(r, conf), "config setup\n\n");
    EXPECT_EQ(file(r, secrets), "");
    EXPECT_EQ(tree_entries(r), empty_tree);
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
    EXPECT_EQ(r.files.count(tree + ".old"), 0u);
}

TEST(IpsecRun, FipsModeLeavesPreviousFilesAlone)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"), "\"system\": {\"fips\": true}");
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[conf] = "old conf\n";
    spec.files[tree + "/conf/x.conf"] = "old tunnel\n";
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(file(r, conf), "old conf\n");
    EXPECT_EQ(r.files.count(secrets), 0u);
    EXPECT_EQ(file(r, tree + "/conf/x.conf"), "old tunnel\n");
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
}

TEST(IpsecRun, UnwritableTopLevelFileStopsBeforeTouchingTheTree)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"));
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[secrets + "/blocked"] = "";  // a directory where the file belongs
    spec.files[conf] = "old conf\n";
    spec.files[tree + "/conf/live.conf"] = "live\n";
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "config map ipsec: cannot open /var/run/ipsec.secrets: Is a directory\n");
    EXPECT_EQ(file(r, conf), "old conf\n");
    EXPECT_EQ(file(r, tree + "/conf/live.conf"), "live\n");
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
}

TEST(IpsecRun, IncludesTunnelsInStoreOrderAndReplacesTheOldTree)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("zeta") + ", " + psk_tunnel("alpha"));
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[tree + "/conf/gone.conf"] = "from the previous run\n";
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(file(r, conf),
              "config setup\n\n"
              "include /var/run/ipsec.d/conf/zeta.conf\n"
              "include /var/run/ipsec.d/conf/alpha.conf\n");
    EXPECT_EQ(file(r, secrets),
              "include /var/run/ipsec.d/secrets/zeta.secret\n"
              "include /var/run/ipsec.d/secrets/alpha.secret\n");
    auto entries = tree_entries(r);
    EXPECT_EQ(entries.count("conf/gone.conf"), 0u);
    EXPECT_EQ(entries.count("conf/zeta.conf"), 1u);
    EXPECT_EQ(entries.count("secrets/alpha.secret"), 1u);
    EXPECT_EQ(r.files.count(tree + ".old"), 0u);
    // Secret-holding files are never readable by others.
    EXPECT_EQ(r.modes[secrets] & 077, 0u);
    EXPECT_EQ(r.modes[tree + "/secrets/zeta.secret"] & 077, 0u);
}

TEST(IpsecRun, LeftoversOfAnInterruptedRunAreNotCarriedOver)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"));
    interface_up(spec, "wan", "198.51.100.1");
    spec.files[tree + ".new/conf/stale.conf"] = "stale\n";
    spec.files[tree + ".old/conf/older.conf"] = "older\n";
    spec.files[tree + "/conf/live.conf"] = "live\n";
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0);
    auto entries = tree_entries(r);
    EXPECT_EQ(entries.count("conf/stale.conf"), 0u);
    EXPECT_EQ(entries.count("conf/live.conf"), 0u);
    EXPECT_EQ(entries.count("conf/t1.conf"), 1u);
    EXPECT_EQ(r.files.count(tree + ".new"), 0u);
    EXPECT_EQ(r.files.count(tree + ".old"), 0u);
}

TEST(IpsecRun, SkippedTunnelsKeepTheirOrdinalAndLeaveNoInclude)
{
    nsrun::Spec spec;
    spec.config_json =
        tunnels(psk_tunnel("a", "\"enable\": false") + ", " + psk_tunnel("b") + ", " +
                "\"c\": {\"local\": {\"type\": \"interface\", \"interface\": \"down\"}}");
    interface_up(spec, "wan", "198.51.100.1");
    spec.runtime.push_back({"network.interface.down.ipv4.address", "192.0.2.9"});
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, conf), "config setup\n\ninclude /var/run/ipsec.d/conf/b.conf\n");
    EXPECT_NE(file(r, tree + "/conf/b.conf").find("\tif_id=2\n"), std::string::npos);
    EXPECT_EQ(tree_entries(r).count("conf/c.conf"), 0u);
}

TEST(IpsecRun, EveryTunnelSkippedGivesStatus1)
{
    nsrun::Spec spec;
    // No runtime values: the interface is not ready.
    spec.config_json = tunnels(psk_tunnel("t1"));
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(file(r, conf), "config setup\n\n");
    EXPECT_EQ(file(r, secrets), "");
    EXPECT_EQ(tree_entries(r).count("conf/t1.conf"), 0u);
}

struct FailoverCase {
    const char *name;
    const char *ready4, *ready6;  // nullptr: not published
    bool included;
};

class IpsecFailover : public ::testing::TestWithParam<FailoverCase> {};

TEST_P(IpsecFailover, BackupFollowsThePrimarysReadiness)
{
    const auto &c = GetParam();
    nsrun::Spec spec;
    // The primary itself is disabled: only its runtime readiness counts.
    spec.config_json = tunnels(psk_tunnel("primary", "\"enable\": false") + ", " +
                               psk_tunnel("backup", "\"ipsec_failover\": \"primary\""));
    interface_up(spec, "wan", "198.51.100.1");
    if (c.ready4)
        spec.runtime.push_back({"vpn.ipsec.tunnel.primary.ipv4.ready", c.ready4});
    if (c.ready6)
        spec.runtime.push_back({"vpn.ipsec.tunnel.primary.ipv6.ready", c.ready6});
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, c.included ? 0 : 1);
    EXPECT_EQ(tree_entries(r).count("conf/backup.conf"), c.included ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Readiness, IpsecFailover,
                         ::testing::Values(FailoverCase{"BothUp", "1", "1", false},
                                           FailoverCase{"Ipv4Up", "1", nullptr, false},
                                           FailoverCase{"Ipv6Up", nullptr, "1", false},
                                           FailoverCase{"Ipv6Down", "1", "0", true},
                                           FailoverCase{"Ipv4Down", "0", nullptr, true},
                                           FailoverCase{"Unknown", nullptr, nullptr, true},
                                           FailoverCase{"Neither", "3", "2", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(IpsecRun, FailoverNamingItselfIsAlwaysProcessed)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1", "\"ipsec_failover\": \"t1\""));
    interface_up(spec, "wan", "198.51.100.1");
    spec.runtime.push_back({"vpn.ipsec.tunnel.t1.ipv4.ready", "1"});
    EXPECT_EQ(run_ipsec(spec).status, 0);
}

TEST(IpsecRun, DefaultRouteTakesTheFirstInterfaceInNaturalOrder)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(
        "\"t1\": {\"local\": {\"type\": \"defaultroute\"}, \"remote\": {\"hostname\": [\"203.0.113.5\"]}}");
    spec.runtime = {{"network.route.default.metric.ipv4.10", "network.interface.wan"},
                    {"network.route.default.metric.ipv4.5", "network.interface.lte"},
                    {"network.route.default.metric.ipv4.1", "something.else"}};
    interface_up(spec, "wan", "198.51.100.1");
    interface_up(spec, "lte", "100.64.0.7");
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(file(r, tree + "/conf/t1.conf").find("\tleft=100.64.0.7\n"), std::string::npos);
}

TEST(IpsecRun, DefaultRouteWithoutRouteIsSkipped)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(
        "\"t1\": {\"local\": {\"type\": \"defaultroute\"}, \"remote\": {\"hostname\": [\"203.0.113.5\"]}}");
    interface_up(spec, "wan", "198.51.100.1");
    EXPECT_EQ(run_ipsec(spec).status, 1);
}

TEST(IpsecRun, LiveValuesWithLineBreaksNeverReachTheFiles)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5"], "id": {"type": "mac_address"}}})");
    spec.runtime = {{"network.interface.wan.ipv4.ready", "1"},
                    {"network.interface.wan.ipv4.address", "198.51.100.1\nright=%any"},
                    {"system.mac", "00:11:22:33:44:55\nauto=start"}};
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("conf/t1.conf"), 0u);

    spec.runtime[1].second = "198.51.100.1";
    r = run_ipsec(spec);
    EXPECT_EQ(r.status, 0);
    std::string c = file(r, tree + "/conf/t1.conf");
    EXPECT_EQ(c.find("auto=start"), std::string::npos) << c;
    EXPECT_EQ(c.find("rightid"), std::string::npos) << c;
}

TEST(IpsecRun, ReadyInterfaceWithoutAddressIsSkipped)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(psk_tunnel("t1"));
    spec.runtime = {{"network.interface.wan.ipv4.ready", "1"}};
    EXPECT_EQ(run_ipsec(spec).status, 1);
}

}  // namespace
}  // namespace ipsec_test
