// What a careless or hostile configuration cannot do to the dnsmasq file:
// break its syntax (dnsmasq would then refuse all of it, and DNS and DHCP
// go down), add directives, or leave the file half-written with a success.
#include <string>

#include <gtest/gtest.h>

#include "generate.h"
#include "nsrun.h"

namespace {

using dnsmasq_test::daemon_check;
using dnsmasq_test::defaults;
using dnsmasq_test::generate;
using dnsmasq_test::header;

const std::string auto_guest =
    "dhcp-option=net:guest,3,0.0.0.0 # gateway address\n"
    "dhcp-option=net:guest,6,0.0.0.0,0.0.0.0 # dns server\n"
    "dhcp-option=net:guest,option:ntp-server,0.0.0.0,0.0.0.0 # ntp server\n"
    "dhcp-option=net:guest,44,0.0.0.0,0.0.0.0 # wins server\n";

// Quotes, blanks, backslashes, brackets and shell syntax in every value
// that reaches the file: each is written where dnsmasq's syntax can carry
// it, else left out with a message that names its path.
TEST(DnsmasqSafety, PayloadsKeepTheFileReadable)
{
    auto out = generate(R"json({
      "service": {"dns": {
        "server": [{"domain": "corp\"x", "address": "10.0.0.53"},
                   {"domain": "", "address": "9.9.9.9 #x"},
                   {"domain": "ok.example", "address": "10.0.0.54#5353"}],
        "allowlist": ["good.example", "bad'name", "$(reboot)"],
        "host": [{"name": "nas\"", "address": "192.168.1.10"},
                 {"name": "nas.lan", "address": "192.168.1.10\\"},
                 {"name": "nas.lan", "address": "fd00::10"}]}},
      "network": {
        "device": {"eth0": {}, "eth1": {}},
        "interface": {
          "lan": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "192.168.1.1/24",
            "dhcp_server": {"enable": true, "lease_start": "100", "lease_end": "199\"", "lease_time": 600,
              "advanced": {
                "domain_suffix": "lan example",
                "gateway": "custom", "gateway_custom": "192.168.1.254'",
                "primary_dns": "custom", "primary_dns_custom": "`x`",
                "custom_option": [
                  {"option": 42, "datatype": "ipv4", "value_ipv4_list": []},
                  {"option": 43, "datatype": "ipv4", "value_ipv4_list": ["192.0.2.1", "192.0.2.2]"]},
                  {"option": 252, "datatype": "str", "value_str": "a\"b\\c $(x) `y` 'z' ]"},
                  {"option": 125, "datatype": "hex", "value_hex": "ab\"cd"},
                  {"option": 15, "datatype": "str", "value_str": "ok", "name": "x\" # y"}
                ],
                "static_lease": [
                  {"ip": "192.168.1.20", "mac": "aa:bb:cc:dd:ee:01", "name": "pr inter"},
                  {"ip": "192.168.1.21", "mac": "aa:bb:cc:dd:ee:0\"", "name": "x"}
                ],
                "bootfile": "boot dir/pxe\"linux.0", "tftp_server": "tftp,1"}}}},
          "guest": {"device": "/network/device/eth1", "ipv4": {"type": "static", "address": "192.168.2.1/24",
            "dhcp_server": {"enable": true, "lease_start": "100", "lease_end": "199", "lease_time": 600,
              "advanced": {"static_lease": [{"ip": "192.168.1.20", "mac": "aa:bb:cc:dd:ee:02", "name": "dup"}]}}}}},
        "route": {"policy": [
          {"enable": true, "dst": {"type": "domain", "domain": ["a.example", "b\"x", "c.example"]}}]}}})json");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf,
              header +
                  "dhcp-leasefile=/var/run/dhcp.leases\n"
                  "server=/ok.example/10.0.0.54#5353\n"
                  "address=/#/\n"
                  "server=/good.example/#\n"
                  "host-record=localhost,127.0.0.1\n"
                  "host-record=nas.lan,fd00::10\n"
                  "\n# network interface 'lan' configurations\n"
                  "dhcp-option=net:lan,3 # gateway address\n"
                  "dhcp-option=net:lan,6,0.0.0.0 # dns server\n"
                  "dhcp-option=net:lan,option:ntp-server,0.0.0.0,0.0.0.0 # ntp server\n"
                  "dhcp-option=net:lan,44,0.0.0.0,0.0.0.0 # wins server\n"
                  "dhcp-option=net:lan,43,192.0.2.1\n"
                  "dhcp-option=net:lan,252,\"a\\\"b\\\\c $(x) `y` 'z' ]\"\n"
                  "dhcp-option=net:lan,15,\"ok\" # x\" # y\n"
                  "dhcp-host=aa:bb:cc:dd:ee:01,192.168.1.20,net:lan\n"
                  "dhcp-option=net:lan,66,\"tftp,1\" # tftp server\n"
                  "dhcp-boot=net:lan,\"boot dir/pxe\\\"linux.0\",,\"tftp,1\" # bootp server\n"
                  "\n# network interface 'guest' configurations\n"
                  "dhcp-range=guest,192.168.2.100,192.168.2.199,600s\n" +
                  auto_guest + "ipset=/a.example/c.example/domain-policy-0,domain6-policy-0\n");
    EXPECT_EQ(out.sniffer, "a.example,c.example 1 0\n");
    const std::string lan = "config map dnsmasq: Ignoring network.interface.lan.ipv4.dhcp_server.";
    EXPECT_EQ(
        out.err,
        "config map dnsmasq: Ignoring service.dns.server.0.domain: the value is not a domain\n"
        "config map dnsmasq: Ignoring service.dns.server.1.address: the value is not a server address\n"
        "config map dnsmasq: Ignoring service.dns.allowlist.1: the value is not a host or domain name\n"
        "config map dnsmasq: Ignoring service.dns.allowlist.2: the value is not a host or domain name\n"
        "config map dnsmasq: Ignoring service.dns.host.0.name: the value is not a host or domain name\n"
        "config map dnsmasq: Ignoring service.dns.host.1.address: the value is not an IP address\n" +
            lan + "lease_end: the value is not an IPv4 address\n" + lan +
            "advanced.domain_suffix: the value is not a host or domain name\n" + lan +
            "advanced.gateway_custom: the value is not an IPv4 address\n" + lan +
            "advanced.primary_dns_custom: the value is not an IPv4 address\n" + lan +
            "advanced.custom_option.0.value_ipv4_list: an ipv4 option needs at least one address\n" +
            lan + "advanced.custom_option.1.value_ipv4_list.1: the value is not an IPv4 address\n" +
            lan + "advanced.custom_option.3.value_hex: the value is not hexadecimal digits\n" +
            lan + "advanced.static_lease.0.name: the value is not a host name\n" + lan +
            "advanced.static_lease.1.mac: the value is not a hardware address\n"
            "config map dnsmasq: Duplicate static IP detected, IP address '192.168.1.20' for 'dup' is "
            "ignored.\n"
            "config map dnsmasq: Ignoring network.route.policy.0.dst.domain.1: the value is not a host or "
            "domain name\n");
}

// dnsmasq cuts a line after 1024 bytes and reads the rest as a line of its
// own: a long value must not smuggle a directive in that way.
TEST(DnsmasqSafety, LongValuesAddNoDirective)
{
    const std::string padding(1100, 'x');
    const std::string label = std::string(45, 'a') + "." + std::string(44, 'a');
    std::string domains;
    for (int i = 0; i < 12; ++i)
        domains +=
            std::string(i ? "," : "") + "\"d" + std::to_string(i) + "." + label + ".example\"";
    auto out = generate(R"({"network": {"device": {"eth0": {}}, "interface": {
        "lan": {"device": "/network/device/eth0", "ipv4": {"type": "static", "address": "192.168.1.1/24",
          "dhcp_server": {"enable": true, "lease_start": "100", "lease_end": "199", "lease_time": 600,
            "advanced": {"custom_option": [{"option": 15, "datatype": "str", "value_str": "ok",
                                            "name": ")" +
                        padding + R"(server=203.0.113.66"}]}}}}},
      "route": {"policy": [{"enable": true, "ip_version": "ipv4", "dst": {"type": "domain", "domain": [)" +
                        domains + "]}}]}}}");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf.find("203.0.113.66"), std::string::npos);
    EXPECT_NE(
        out.err.find(
            "Ignoring network.interface.lan.ipv4.dhcp_server.advanced.custom_option.0: its line "
            "would be longer than dnsmasq reads"),
        std::string::npos)
        << out.err;
    // Many domains go to one set over as many lines as they need.
    std::string first, second;
    for (int i = 0; i < 12; ++i)
        (i < 9 ? first : second) += "/d" + std::to_string(i) + "." + label + ".example";
    EXPECT_NE(out.conf.find("\nipset=" + first + "/domain-policy-0\nipset=" + second +
                            "/domain-policy-0\n"),
              std::string::npos)
        << out.conf;
}

// Each file gets its mode from the generator, not from the umask or from
// an older file.
TEST(DnsmasqSafety, ModesDoNotDependOnTheUmask)
{
    auto out = generate(
        R"({"network": {"route": {"policy": []}}})",
        {{"/var/run/dnsmasq.conf", "old\n"}, {"/var/run/hostnamesniffer.cfg", "old\n"}},
        "umask 000; chmod 666 /var/run/dnsmasq.conf; chmod 600 /var/run/hostnamesniffer.cfg");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults);
    EXPECT_EQ(out.conf_mode, 0644u);
    EXPECT_EQ(out.sniffer, "");
    EXPECT_EQ(out.sniffer_mode, 0644u);

    out = generate(R"({"network": {"route": {"policy": []}}})", {}, "umask 000");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf_mode, 0644u);
    EXPECT_EQ(out.sniffer_mode, 0644u);
}

// A write that does not reach the disk is a failure, named in the log.
TEST(DnsmasqSafety, FullFileSystemIsReported)
{
    // A file system with no room left: the files can be opened, not written.
    const std::string full =
        "mount -t tmpfs -o size=16k full /run; mkdir -p /run/x; "
        ": > /run/dnsmasq.conf; : > /run/hostnamesniffer.cfg; "
        "dd if=/dev/zero of=/run/x/fill bs=4k 2>/dev/null || true";
    auto out = dnsmasq_test::generate(R"({"network": {"route": {"policy": []}}})", {}, full);
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.err.find("cannot write /var/run/dnsmasq.conf: No space left on device"),
              std::string::npos)
        << out.err;

    // A device under the file's name (here one that refuses every write)
    // is not a file to write: it is left alone and that is reported too.
    // (Not collected: reading it would never end.)
    nsrun::Spec spec;
    spec.args = {"map", "dnsmasq"};
    spec.has_config = false;
    spec.before = "mknod /var/run/dnsmasq.conf c 1 7";
    spec.after = "stat -c %F /var/run/dnsmasq.conf";
    auto r = nsrun::run(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "config map dnsmasq: cannot open /var/run/dnsmasq.conf: Invalid argument\n");
    EXPECT_EQ(r.after, "character special file\n");
}

// An open that fails must not leave the other file of the step empty.
TEST(DnsmasqSafety, FileThatCannotBeOpenedLeavesTheOtherAlone)
{
    auto out =
        generate(R"({"network": {"route": {"policy": []}}})",
                 {{"/var/run/dnsmasq.conf/x", ""}, {"/var/run/hostnamesniffer.cfg", "kept\n"}});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.sniffer, "kept\n");
    EXPECT_EQ(out.err, "config map dnsmasq: cannot open /var/run/dnsmasq.conf: Is a directory\n");
}

}  // namespace
