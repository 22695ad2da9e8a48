#include "proto_test.h"

using namespace proto_test;

namespace {

const std::string providers = "/var/run/serviceproviders-cell.txt";

std::string modem_config(const std::string &interface_members, const std::string &sim_slot = "any",
                         const std::string &more_interfaces = "")
{
    return R"({"system": {"name": "gw1"},
  "network": {"modem": {"lte": {"sim_slot": ")" +
           sim_slot + R"("}},
    "interface": {"cell": {"type": "modem", "device": "/network/modem/lte", )" +
           interface_members + "}" + more_interfaces + "}}}";
}

nsrun::Result run_modem(const std::string &config,
                        std::vector<std::pair<std::string, std::string>> runtime = {
                            {"mm.map.interface_idx.cell", "0"}})
{
    nsrun::Spec spec;
    spec.config_json = config;
    spec.runtime = std::move(runtime);
    spec.collect = {providers};
    return map_network(spec);
}

}  // namespace

TEST(Modem, WholeSectionWithAccessPointsAndFailover)
{
    auto r = run_modem(modem_config(R"(
      "ipv4": {"metric": 30, "mtu": 1430, "modem_type": "dhcp"},
      "ipv6": {"enable": true, "metric": 31, "modem_type": "ppp"},
      "modem": {"pin": "1234", "retry_seconds": 15, "registration_timeout": 100, "connection_timeout": 45,
        "roaming": true, "operator_mode": "manual", "operator": "26201", "operator_technology": "4g",
        "sim_failover": true, "sim_failover_retries": 4, "sim_failover_alt": "1", "apn_lock": true,
        "custom_gw": {"enable": true, "gateway": "10.0.0.1/255.255.255.0"},
        "apn": [{"apn": "internet.example", "ip_version": "ipv4v6", "auth": "chap", "username": "u1",
                 "password": "p%s", "cid": 3},
                {"apn": "", "username": "ignored"},
                {"apn": "m2m", "attm2mglobal": true}]})"),
                       {{"mm.map.interface_idx.cell", "2"}, {"mm.map.interface_number.cell", "1"}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string list =
        "*,*,,,internet.example,internet,dns='' ip_version='ipv4v6' auth='chap' username='u1' password='p%s' "
        "attm2mglobal='0' cid=3\n"
        "*,*,,,m2m,internet,dns='' ip_version='ipv4' auth='none' username='' password='' attm2mglobal='1'\n";
    EXPECT_EQ(file(r, providers), list);
    EXPECT_EQ(r.modes[providers], 0600u) << "the file holds APN passwords";
    EXPECT_EQ(
        file(r, network_file),
        "\nconfig globals globals\n"
        "\nconfig interface cell\n"
        "\toption proto \"mm\"\n\toption idx 2\n\toption pin \"1234\"\n"
        "\toption retry_seconds 15\n\toption registration_timeout 100\n\toption connection_timeout 45\n"
        "\toption roaming 1\n\toption operator_mode \"manual\"\n\toption operator \"26201\"\n"
        "\toption operator_technology \"4g\"\n\toption multi_bearer 0\n\toption interface_number 1\n"
        "\toption hostname \"gw1\"\n\toption dhcp_hostname 0\n"
        "\toption metric4 30\n\toption mtu4 1430\n\toption reqopts \"mtu\"\n\toption ip4_method \"dhcp\"\n"
        "\toption custom_gateway \"10.0.0.1\"\n\toption custom_netmask \"255.255.255.0\"\n"
        "\toption metric6 31\n\toption mtu6 1500\n\toption ip6_method \"ppp\"\n"
        "\toption ip_version \"auto\"\n\toption clear_try_on_proto_up 1\n"
        "\toption sim_failover_retries 4\n\toption sim_failover_alt \"1\"\n"
        "\toption service_providers \"" +
            providers +
            "\"\n"
            "\toption service_providers_md5sum \"" +
            md5(list) +
            "\"\n"
            "\toption service_providers_override 1\n");
}

TEST(Modem, IpFamiliesLinkCheckAndGatewayWithoutMask)
{
    struct Case {
        const char *members;
        const char *expected;
    } cases[] = {
        {R"("ipv4": {"enable": false}, "ipv6": {"enable": false}, "vigilo": {"enable": true})",
         "\toption ip_version \"ipv4\"\n\toption clear_try_on_proto_up 1\n"},
        {R"("vigilo": {"enable": true}, "modem": {"custom_gw": {"enable": true, "gateway": "10.0.0.1"}})",
         "\toption metric4 0\n\toption mtu4 1500\n\toption reqopts \"mtu\"\n\toption ip4_method \"auto\"\n"
         "\toption custom_gateway \"10.0.0.1\"\n\toption ip_version \"ipv4\"\n\toption clear_try_on_proto_up 0\n"},
        {R"("ipv4": {"enable": false}, "ipv6": {"enable": true, "mtu": 1400},
            "modem": {"custom_gw": {"enable": true, "gateway": "10.0.0.1"}})",
         "\toption metric6 0\n\toption mtu6 1400\n\toption ip6_method \"auto\"\n"
         "\toption ip_version \"ipv6\"\n\toption clear_try_on_proto_up 1\n"},
    };
    for (const Case &c : cases) {
        auto r = run_modem(modem_config(c.members));
        ASSERT_EQ(r.status, 0) << r.err;
        std::string s = section(file(r, network_file), "cell");
        size_t from = s.find("\toption dhcp_hostname 0\n");
        size_t to = s.find("\toption service_providers ");
        ASSERT_NE(from, std::string::npos) << s;
        ASSERT_NE(to, std::string::npos) << s;
        from += std::string("\toption dhcp_hostname 0\n").size();
        EXPECT_EQ(s.substr(from, to - from), c.expected) << c.members;
    }
}

TEST(Modem, SecondBearerFailoverOnFixedSlotAndEmptyApnList)
{
    // Two interfaces on one modem: both are bearers of a multi-bearer modem.
    auto r =
        run_modem(modem_config(R"("modem": {"sim_failover": true})", "2",
                               R"(, "cell2": {"type": "modem", "device": "/network/modem/lte"})"),
                  {{"mm.map.interface_idx.cell", "0"}, {"mm.map.interface_idx.cell2", "1"}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string net = file(r, network_file);
    EXPECT_NE(section(net, "cell").find("\toption multi_bearer 1\n"), std::string::npos) << net;
    EXPECT_NE(section(net, "cell2").find("\toption multi_bearer 1\n"), std::string::npos) << net;
    EXPECT_EQ(net.find("sim_failover"), std::string::npos) << "slot 2 is not any";
    // No access points still gives an (empty) list file and its digest.
    EXPECT_EQ(file(r, providers), "");
    EXPECT_NE(section(net, "cell")
                  .find("\toption service_providers_md5sum \"d41d8cd98f00b204e9800998ecf8427e\"\n"),
              std::string::npos);
}

TEST(Modem, NoSectionWithoutIndexOrModem)
{
    // Not mapped by the modem manager yet.
    auto r = run_modem(modem_config(R"("modem": {"pin": "1"})"), {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
    EXPECT_EQ(file(r, providers), "<missing>");
    r = run_modem(modem_config(R"("modem": {"pin": "1"})"), {{"mm.map.interface_idx.cell", "-1"}});
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
}

TEST(Modem, QuoteInAccessPointValueLeavesThatApnOut)
{
    auto r = run_modem(modem_config(R"("modem": {"apn": [
        {"apn": "a", "password": "x' y='z"}, {"apn": "b,c"}, {"apn": "good", "username": "it\"s"}]})"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file(r, providers),
        "*,*,,,good,internet,dns='' ip_version='ipv4' auth='none' username='it\"s' password='' "
        "attm2mglobal='0'\n");
}

TEST(Modem, ModemsWithoutInterfaceAndFirmwareUpdates)
{
    nsrun::Spec spec;
    spec.config_json = "{}";
    spec.runtime = {{"mm.map.no_interface_idx.1", "x"},
                    {"mm.map.no_interface_idx.10", "x"},
                    {"mm.sh.update.modem.m1.iface", "wwan0"},
                    {"mm.sh.update.modem.m1.host", "fw.example"},
                    {"mm.sh.update.modem.m2.host", "h2"}};
    auto r = map_network(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file(r, network_file),
        "\nconfig globals globals\n"
        "\nconfig interface mm_no_interface_1\n\toption proto \"mm\"\n\toption idx \"1\"\n"
        "\toption no_interface 1\n\toption sim_failover_retries 2\n\toption retry_seconds 20\n"
        "\toption registration_timeout 90\n"
        "\nconfig interface mm_no_interface_10\n\toption proto \"mm\"\n\toption idx \"10\"\n"
        "\toption no_interface 1\n\toption sim_failover_retries 2\n\toption retry_seconds 20\n"
        "\toption registration_timeout 90\n"
        "\nconfig interface interface_m1\n\toption proto \"mm_update\"\n\toption update_interface 1\n"
        "\toption modem \"m1\"\n\toption iface \"wwan0\"\n\toption host \"fw.example\"\n"
        "\nconfig interface interface_m2\n\toption proto \"mm_update\"\n\toption update_interface 1\n"
        "\toption modem \"m2\"\n\toption iface \"\"\n\toption host \"h2\"\n");
}
