#include "proto_test.h"

using namespace proto_test;

namespace {

nsrun::Result run_config(const std::string &config,
                         std::vector<std::pair<std::string, std::string>> runtime = {})
{
    nsrun::Spec spec;
    spec.config_json = config;
    spec.runtime = std::move(runtime);
    return map_network(spec);
}

const std::string custom_options =
    "\toption custom_enable 1\n\toption custom_override 0\n\toption custom_config_file \"noccp mru 1400\"\n";

}  // namespace

TEST(PppOverL2tp, BothEndsAndTheLnsKeyDecidesTheRole)
{
    auto r = run_config(R"({"vpn": {"l2tp": {"svc": {"debug": true,
        "lac": {"out": {"lns": "", "port": 1702, "metric": 4, "username": "u", "password": "p%d\"q",
                        "custom": {"enable": true, "config_file": "noccp mru 1400"}}},
        "lns": {"in": {"lac": "198.51.100.7", "local_address": "10.9.0.1", "remote_address": "10.9.0.2",
                       "auth": "pap", "default_route": true, "custom": {"enable": true, "config_file": "noccp mru 1400"}}}}}}})",
                        {{"vpn.l2tp.config_cookie", "77"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file(r, network_file),
        "\nconfig globals globals\n"
        "\nconfig interface l2tp_svc_out\n\toption ifname \"l2tp_svc_out\"\n\toption config_cookie 77\n"
        "\toption debug 1\n\toption metric 4\n\toption username \"u\"\n\toption password \"p%d\\\"q\"\n" +
            custom_options +
            "\toption proto \"pppol2tp_lac\"\n\toption lns \"\"\n\toption port 1702\n"
            "\nconfig interface l2tp_svc_in\n\toption ifname \"l2tp_svc_in\"\n\toption config_cookie 77\n"
            "\toption debug 1\n\toption metric 0\n\toption username \"\"\n\toption password \"\"\n" +
            custom_options +
            "\toption proto \"pppol2tp_lns\"\n\toption lac \"198.51.100.7\"\n\toption local_ip \"10.9.0.1\"\n"
            "\toption remote_ip \"10.9.0.2\"\n\toption auth \"pap\"\n\toption default_route 1\n");

    r = run_config(
        R"({"vpn": {"l2tp": {"svc": {"enable": false, "lac": {"out": {"lns": "x"}}}}}})");
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
}

TEST(PppDialin, PortSettingsRuntimeDeviceAndOtherModes)
{
    const std::string port =
        R"({"serial": {"port1": {"mode": "ppp_dialin", "baudrate": "57600", "flow": "hardware",
        "idle_timeout": "5m", "ppp_dialin": {"local_address": "10.7.0.1", "remote_address": "10.7.0.2",
        "auth": "chap", "username": "dial", "password": "a%s\"b", "metric": 9, "default_route": true,
        "custom": {"enable": true, "config_file": "noccp mru 1400"},
        "connect": {"enable": true, "script": "ABORT BUSY"}}}}})";
    const std::string body =
        "\toption baudrate \"57600\"\n\toption flow \"hardware\"\n\toption idle_timeout 300\n"
        "\toption local_ip \"10.7.0.1\"\n\toption remote_ip \"10.7.0.2\"\n\toption auth \"chap\"\n"
        "\toption username \"dial\"\n\toption password \"a%s\\\"b\"\n\toption metric 9\n\toption default_route 1\n" +
        custom_options + "\toption connect_enable 1\n\toption connect_script \"ABORT BUSY\"\n";
    auto r = run_config(port, {{"seriald.port1.device", "/dev/ttyS1"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file),
              "\nconfig globals globals\n\nconfig interface dialin_port1\n"
              "\toption proto \"ppp_dialin\"\n\toption device \"/dev/ttyS1\"\n" +
                  body);
    r = run_config(port);
    EXPECT_EQ(file(r, network_file),
              "\nconfig globals globals\n\nconfig interface dialin_port1\n"
              "\toption proto \"ppp_dialin\"\n" +
                  body);
    r = run_config(
        R"({"serial": {"port1": {"mode": "console", "ppp_dialin": {"username": "x"}}}})");
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
    r = run_config(R"({"serial": {"port1": {"enable": false, "mode": "ppp_dialin"}}})");
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
}

TEST(Nemo, SettingsAndAdvertisedNetworks)
{
    auto r = run_config(R"({"vpn": {"nemo": {"mob": {"home_address": "10.1.1.1",
        "coaddress": {"type": "ip", "address": "192.0.2.5", "interface": "wan"},
        "tun_local": {"type": "interface", "interface": "wan"}, "home_agent": "203.0.113.1", "key": "k\"ey",
        "spi": "256", "lifetime": 600, "metric": 2, "mtu_discovery": false, "mtu": 1300,
        "network": ["lan", "down", "guest"]}}}})",
                        {{"network.interface.lan.ipv4.address", "192.168.2.1"},
                         {"network.interface.lan.ipv4.netmask", "255.255.255.0"},
                         {"network.interface.down.ipv4.netmask", "255.255.255.0"},
                         {"network.interface.guest.ipv4.address", "192.168.10.1"},
                         {"network.interface.guest.ipv4.netmask", "255.255.255.128"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        file(r, network_file),
        "\nconfig globals globals\n\nconfig interface nemo_mob\n\toption proto \"nemo\"\n"
        "\toption home_address \"10.1.1.1\"\n\toption coaddress_type \"ip\"\n\toption coaddress \"192.0.2.5\"\n"
        "\toption tun_local \"wan\"\n\toption home_agent \"203.0.113.1\"\n\toption key \"k\\\"ey\"\n"
        "\toption spi \"256\"\n\toption lifetime 600\n\toption metric 2\n\toption mtu_discovery 0\n"
        "\toption mtu 1300\n\toption num_adv_networks 2\n"
        "\toption adv_networks \"192.168.2.1/255.255.255.0,192.168.10.1/255.255.255.128\"\n");
}

TEST(Nemo, OtherAddressTypesEmptyListAndDisabled)
{
    auto r = run_config(
        R"({"vpn": {"nemo": {"a": {"coaddress": {"type": "interface", "interface": "wan"}},
        "b": {"coaddress": {"type": "auto", "address": "1.2.3.4"}, "tun_local": {"type": "any", "interface": "x"}},
        "off": {"enable": false}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string net = file(r, network_file);
    std::string tail =
        "\toption home_agent \"\"\n\toption key \"\"\n\toption spi \"\"\n\toption lifetime 3600\n"
        "\toption metric 0\n\toption mtu_discovery 1\n\toption num_adv_networks 0\n"
        "\toption adv_networks \"\"\n";
    EXPECT_EQ(
        net,
        "\nconfig globals globals\n"
        "\nconfig interface nemo_a\n\toption proto \"nemo\"\n\toption home_address \"\"\n"
        "\toption coaddress_type \"interface\"\n\toption coaddress \"wan\"\n\toption tun_local \"any\"\n" +
            tail +
            "\nconfig interface nemo_b\n\toption proto \"nemo\"\n\toption home_address \"\"\n"
            "\toption coaddress_type \"auto\"\n\toption tun_local \"any\"\n" +
            tail);
}
