// Connection files: every line of a section, lifetimes, subnets, selectors,
// updown flags, identities and the NHRP block.
#include "ipsec_test.h"

namespace ipsec_test {
namespace {

TEST(IpsecConn, FullPskTunnelWithTwoPolicies)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("hq": {
        "local": {"type": "interface", "interface": "wan", "id": {"type": "fqdn", "fqdn_id": "@[router.example.com]"}},
        "remote": {"hostname": ["203.0.113.5", "203.0.113.6"], "hostname_selection": "round_robin",
                   "id": {"type": "ipv4", "ipv4_id": "203.0.113.5"}},
        "ike": {"version": "ikev1", "mode": "aggressive", "fragmentation": "always",
                "phase1_lifetime": "1h", "phase2_lifetime": 1800, "lifetime_margin": "5m",
                "phase1_proposal": [{"cipher": "aes256", "hash": "sha256", "dh_group": "modp2048"},
                                    {"cipher": "aes128", "hash": "sha1", "dh_group": "modp1024"}],
                "phase2_proposal": [{"cipher": "aes128", "hash": "sha1", "dh_group": "none"},
                                    {"cipher": "aes256", "hash": "sha256", "dh_group": "modp2048"}]},
        "auth": {"type": "secret", "secret": "s3cret"},
        "xauth_client": {"enable": true, "username": "alice", "password": "pw"},
        "dpd": {"enable": true, "delay": 10, "timeout": 60},
        "force_udp_encap": true, "mgmt": 3,
        "policy": [
            {"local": {"type": "network", "network": "lan"}, "remote": {"network": "10.1.0.0/16"}},
            {"local": {"type": "custom", "custom": "192.168.5.0/24", "protocol": "tcp", "port": "443"},
             "remote": {"network": "10.2.0.0/16", "protocol": "other", "protocol_other": 47}}]})");
    interface_up(spec, "wan", "198.51.100.1");
    spec.runtime.push_back({"network.interface.lan.ipv4.address", "192.168.1.1"});
    spec.runtime.push_back({"network.interface.lan.ipv4.netmask", "24"});
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string common_head =
        "\ttype=tunnel\n"
        "\tkeyexchange=ikev1\n"
        "\tfragmentation=force\n"
        "\tkeyingtries=1\n"
        "\tif_id=1\n"
        "\tleft=198.51.100.1\n"
        "\tright=203.0.113.5,203.0.113.6\n"
        "\trighthostssequence=roundrobin\n"
        "\tleftid=\"fqdn:router.example.com\"\n"
        "\trightid=\"ipv4:203.0.113.5\"\n"
        "\txauth=client\n"
        "\tleftauth2=xauth\n"
        "\txauth_identity=alice\n"
        "\tleftauth=psk\n"
        "\trightauth=psk\n"
        "\taggressive=yes\n"
        "\tikelifetime=3600s\n"
        "\tlifetime=1800s\n"
        "\tmargintime=300s\n"
        "\tike=aes256-sha256-modp2048,aes128-sha1-modp1024!\n"
        "\tesp=aes128-sha1,aes256-sha256-modp2048!\n"
        "\tdpdaction=restart\n"
        "\tdpddelay=10\n"
        "\tdpdtimeout=60\n";
    const std::string updown = "\tleftupdown=\"/bin/ipsec-updown.sh -m 3 -x ipsec1 -n 2\"\n";
    EXPECT_EQ(conn_file(r, "hq"), "conn hq_policy0\n" + common_head +
                                      "\tleftsubnet=192.168.1.1/24[%any/%any]\n"
                                      "\trightsubnet=10.1.0.0/16[%any/%any]\n"
                                      "\tforceencaps=yes\n" +
                                      updown + "\tauto=add\n\n" + "conn hq_policy1\n" +
                                      common_head +
                                      "\tleftsubnet=192.168.5.0/24[tcp/443]\n"
                                      "\trightsubnet=10.2.0.0/16[47/%any]\n"
                                      "\tforceencaps=yes\n" +
                                      updown + "\tauto=add\n\n");
    EXPECT_EQ(file(r, tree + "/secrets/hq.secret"),
              "alice : XAUTH \"pw\"\n"
              "fqdn:router.example.com ipv4:203.0.113.5 : PSK 0sczNjcmV0\n");
}

TEST(IpsecConn, TunnelWithoutPoliciesAndDefaults)
{
    nsrun::Spec spec;
    // Margin equal to both lifetimes is cut to a quarter of the smaller.
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5", "203.0.113.6"]}, "auth": {"secret": "k"}, "dpd": {"enable": false},
        "ike": {"phase1_lifetime": 600, "phase2_lifetime": 600, "lifetime_margin": 600}})");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(conn_file(r, "t1"),
              "conn t1_policy0\n"
              "\ttype=tunnel\n"
              "\tkeyexchange=ikev2\n"
              "\tfragmentation=yes\n"
              "\tkeyingtries=1\n"
              "\tif_id=1\n"
              "\tleft=198.51.100.1\n"
              "\tright=203.0.113.5,203.0.113.6\n"
              "\trighthostssequence=sequential\n"
              "\tleftauth=psk\n"
              "\trightauth=psk\n"
              "\tikelifetime=600s\n"
              "\tlifetime=600s\n"
              "\tmargintime=150s\n"
              "\tleftupdown=\"/bin/ipsec-updown.sh -x ipsec1 -n 1\"\n"
              "\tauto=add\n\n");
    // The PSK pairs the address with the host list when no identity is set.
    EXPECT_EQ(file(r, tree + "/secrets/t1.secret"),
              "198.51.100.1 203.0.113.5,203.0.113.6 : PSK 0saw==\n");
}

TEST(IpsecConn, MarginAboveOneLifetimeIsCut)
{
    nsrun::Spec spec;
    spec.config_json =
        tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"}, "mode": "transport",
        "remote": {"hostname": ["203.0.113.5"]},
        "ike": {"phase1_lifetime": 600, "phase2_lifetime": 400, "lifetime_margin": 500}})");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    std::string c = conn_file(r, "t1");
    EXPECT_NE(c.find("\tmargintime=100s\n"), std::string::npos) << c;
    EXPECT_NE(c.find("\ttype=transport\n"), std::string::npos);
    EXPECT_EQ(c.find("if_id"), std::string::npos);
}

TEST(IpsecConn, AnyRemoteClearsInitiateAndPassthroughAddsSource)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["ANY"]}, "ike": {"initiate": true}, "dpd": {"enable": true}})");
    interface_up(spec, "wan", "198.51.100.1");
    spec.runtime.push_back({"network.interface.wan.ipv4.passthrough", "1"});
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    std::string c = conn_file(r, "t1");
    EXPECT_NE(c.find("\tleft=0.0.0.0\n\tright=%any\n"), std::string::npos) << c;
    EXPECT_NE(c.find("\tdpdaction=clear\n"), std::string::npos);
    EXPECT_NE(c.find("ipsec-updown.sh -i 198.51.100.1 -x "), std::string::npos);
}

TEST(IpsecConn, RequestPolicyWithIpv6RemoteAndModeConfig)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("v6": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"ip_version": "ipv6", "hostname6": ["2001:db8::5"]}, "modecfg_client": {"enable": true},
        "dpd": {"enable": false},
        "policy": [{"local": {"type": "request"}, "remote": {"network": "2001:db8:1::/48", "port": "53", "protocol": "udp"}}]})");
    spec.runtime = {{"network.interface.wan.ipv6.ready", "1"},
                    {"network.interface.wan.ipv6.address", "2001:db8::1"}};
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    std::string c = conn_file(r, "v6");
    EXPECT_NE(c.find("\tleft=2001:db8::1\n\tright=2001:db8::5\n"), std::string::npos) << c;
    EXPECT_NE(c.find("\tmodeconfig=pull\n"), std::string::npos);
    EXPECT_NE(c.find("\tleftsourceip=%config6\n"
                     "\tleftsubnet=%dynamic[%any/%any]\n"
                     "\trightsubnet=2001:db8:1::/48[udp/53]\n"
                     "\tleftupdown=\"/bin/ipsec-updown.sh -l %dynamic -r -x "),
              std::string::npos)
        << c;
}

TEST(IpsecConn, MissingLocalNetworkRemovesTheWholeFile)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5"]}, "auth": {"secret": "k"},
        "policy": [{"local": {"type": "address", "address": "wan"}, "remote": {"network": ""}},
                   {"local": {"type": "network", "network": "nolan"}, "remote": {"network": "10.0.0.0/8"}}]})");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    auto entries = tree_entries(r);
    EXPECT_EQ(entries.count("conf/t1.conf"), 0u);
    // The secrets were written before the connection: they stay, unused.
    EXPECT_EQ(entries.count("secrets/t1.secret"), 1u);
    EXPECT_EQ(file(r, secrets), "");
}

TEST(IpsecConn, AddressPolicyAndDynamicRemote)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5"]},
        "policy": [{"local": {"type": "address", "address": "wan", "protocol": "icmp"}}]})");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    std::string c = conn_file(r, "t1");
    EXPECT_NE(
        c.find("\tleftsubnet=198.51.100.1/32[icmp/%any]\n\trightsubnet=%dynamic[%any/%any]\n"),
        std::string::npos)
        << c;
}

struct IdentityCase {
    const char *name;
    const char *id_json;
    const char *expected;  // "" = no rightid line
};

class IpsecIdentity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IpsecIdentity, RemoteIdentityLine)
{
    nsrun::Spec spec;
    spec.config_json =
        tunnels(std::string(R"("t1": {"local": {"type": "interface", "interface": "wan"},
        "remote": {"hostname": ["203.0.113.5"], "id": )") +
                GetParam().id_json + "}}");
    interface_up(spec, "wan", "198.51.100.1");
    spec.runtime.push_back({"system.mac", "00:11:22:33:44:55"});
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    std::string c = conn_file(r, "t1");
    std::string expected = GetParam().expected;
    if (expected.empty())
        EXPECT_EQ(c.find("rightid"), std::string::npos) << c;
    else
        EXPECT_NE(c.find("\trightid=\"" + expected + "\"\n"), std::string::npos) << c;
}

INSTANTIATE_TEST_SUITE_P(
    Types, IpsecIdentity,
    ::testing::Values(
        IdentityCase{"Any", R"({"type": "any"})", "%any"},
        IdentityCase{"Raw", R"({"type": "raw", "raw_id": "C=US, CN=peer"})", "C=US, CN=peer"},
        IdentityCase{"Fqdn", R"({"type": "fqdn", "fqdn_id": "abc"})", "fqdn:abc"},
        IdentityCase{"FqdnVerbatim", R"({"type": "fqdn", "fqdn_id": "@[abc]"})", "fqdn:abc"},
        IdentityCase{"VerbatimEmpty", R"({"type": "raw", "raw_id": "@["})", ""},
        IdentityCase{"KeyidUnset", R"({"type": "keyid"})", "keyid:"},
        IdentityCase{"Rfc822", R"({"type": "rfc822", "rfc822_id": "a@example.com"})",
                     "rfc822:a@example.com"},
        IdentityCase{"Ipv6", R"({"type": "ipv6", "ipv6_id": "2001:db8::5"})", "ipv6:2001:db8::5"},
        IdentityCase{"MacAddress", R"({"type": "mac_address"})", "keyid:00:11:22:33:44:55"},
        IdentityCase{"SerialUnknown", R"({"type": "serial_number"})", ""},
        IdentityCase{"Default", R"({"type": "default"})", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(IpsecConn, NhrpTunnelGetsUniqueIdsBlockOnlyForItsOwnName)
{
    nsrun::Spec spec;
    spec.config_json = tunnels(
        R"("tun1": {"local": {"type": "interface", "interface": "wan"},
            "remote": {"hostname": ["203.0.113.5"]}},
        "tun10": {"local": {"type": "interface", "interface": "wan"}, "remote": {"hostname": ["203.0.113.6"]}})",
        R"("network": {"route": {"service": {"nhrp": {"network": [{"ipsec": "tun10"}]}}}})");
    interface_up(spec, "wan", "198.51.100.1");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(
        conn_file(r, "tun10").rfind("config setup\n\tuniqueids=never\n\nconn tun10_policy0\n", 0),
        0u);
    EXPECT_EQ(conn_file(r, "tun1").rfind("conn tun1_policy0\n", 0), 0u);
}

}  // namespace
}  // namespace ipsec_test
