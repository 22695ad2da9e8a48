#include "proto_test.h"

using namespace proto_test;

namespace {

// A local interface on eth0 named by every tunnel's "local".
const std::string base = R"("system": {"name": "gw"}, "network": {"device": {"eth0": {}},
  "interface": {"wan": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "192.0.2.1/24"}}})";

const std::string prelude =
    "\nconfig globals globals\n"
    "\nconfig interface link_eth_eth0\n\toption proto \"link\"\n\toption ifname \"eth0\"\n";

nsrun::Result run_tunnels(const std::string &members, bool local_up = true)
{
    nsrun::Spec spec;
    spec.config_json = "{" + base + ", " + members + "}}";
    if (local_up)
        spec.runtime = {{"network.interface.wan.ipv4.address", "192.0.2.1"},
                        {"network.interface.wan.device", "eth0"}};
    return map_network(spec);
}

// Sections of the devices: everything between the Ethernet link and the
// static interface of wan.
std::string device_sections(const nsrun::Result &r)
{
    std::string net = file(r, network_file);
    size_t from = net.find(prelude);
    size_t to = net.find("\nconfig interface ipv4_wan\n");
    if (from != 0 || to == std::string::npos)
        return "<unexpected file>\n" + net;
    return net.substr(prelude.size(), to - prelude.size());
}

}  // namespace

TEST(Tunnels, IpTunnelAndMacsecSections)
{
    auto r = run_tunnels(R"("iptunnel": {"dc": {"local": "/network/interface/wan", "type": "ipip",
        "remote": "198.51.100.%d", "keepalive": true, "key": "42"},
        "nokey": {"local": "/network/interface/wan", "remote": "r\"x"}},
      "macsec": {"m1": {"local": "/network/interface/wan", "association": {"cak": "00ff%s", "ckn": "ab"}},
        "dyn": {"local": "/network/interface/wan", "type": "dynamic", "association": {"cak": "x", "ckn": "y"}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        device_sections(r),
        "\nconfig interface tnl_dc\n\toption name \"tnl_dc\"\n\toption proto \"iptunnel\"\n"
        "\toption mode \"ipip\"\n\toption remote \"198.51.100.%d\"\n\toption local \"192.0.2.1\"\n"
        "\toption device \"eth0\"\n\toption keepalive 1\n\toption key \"42\"\n"
        "\nconfig interface tnl_nokey\n\toption name \"tnl_nokey\"\n\toption proto \"iptunnel\"\n"
        "\toption mode \"gre\"\n\toption remote \"r\\\"x\"\n\toption local \"192.0.2.1\"\n"
        "\toption device \"eth0\"\n\toption keepalive 0\n"
        "\nconfig interface macsec_m1\n\toption cak \"00ff%s\"\n\toption ckn \"ab\"\n"
        "\toption local_ip \"192.0.2.1\"\n\toption type \"manual\"\n\toption name \"macsec_m1\"\n"
        "\toption proto \"macsec\"\n\toption device \"eth0\"\n"
        "\nconfig interface macsec_dyn\n\toption local_ip \"192.0.2.1\"\n\toption type \"dynamic\"\n"
        "\toption name \"macsec_dyn\"\n\toption proto \"macsec\"\n\toption device \"eth0\"\n");
}

TEST(Tunnels, L2tpEthernetSessionUsesItsTunnel)
{
    auto r = run_tunnels(
        R"("iptunnel": {}}, "vpn": {"l2tpeth": {"t1": {"local": "/network/interface/wan",
        "remote": "203.0.113.9", "tunnel_id": "100", "peer_tunnel_id": "200", "encapsulation": "ip",
        "udp_source_port": 5000, "udp_destination_port": 5001, "udp_checksum": true,
        "session": {"s1": {"session_id": "1", "peer_session_id": "2", "cookie": "%d%n", "peer_cookie": "ab",
                           "l2spec_type": "none", "seq": "both"}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        device_sections(r),
        "\nconfig interface l2te_t1_s1\n\toption proto \"l2tpeth\"\n\toption remote \"203.0.113.9\"\n"
        "\toption local \"192.0.2.1\"\n\toption tunnel_id \"100\"\n\toption peer_tunnel_id \"200\"\n"
        "\toption encapsulation \"ip\"\n\toption udp_source_port 5000\n\toption udp_destination_port 5001\n"
        "\toption udp_checksum 1\n\toption session_id \"1\"\n\toption peer_session_id \"2\"\n"
        "\toption cookie \"%d%n\"\n\toption peer_cookie \"ab\"\n\toption l2spec_type \"none\"\n"
        "\toption seq \"both\"\n");
}

TEST(Tunnels, DisabledOrWithoutLocalAddressWriteNothing)
{
    const std::string members = R"("iptunnel": {"a": {"local": "/network/interface/wan"}},
      "macsec": {"b": {"local": "/network/interface/wan"}}}, "vpn": {"l2tpeth": {"t": {"local": "/network/interface/wan",
        "session": {"s": {}}}})";
    auto r = run_tunnels(members, false);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(device_sections(r), "");

    std::string disabled = members;
    for (const char *from : {R"({"local")"})
        for (size_t at = disabled.find(from); at != std::string::npos;
             at = disabled.find(from, at + 20))
            disabled.replace(at, 1, R"({"enable": false, )");
    r = run_tunnels(disabled);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(device_sections(r), "");
}
