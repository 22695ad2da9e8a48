// The global part of the dnsmasq file: header, DNS behaviour, upstream
// servers, allowlist, host records, web-filter identity, domain policies.
#include <string>

#include <gtest/gtest.h>

#include "generate.h"

namespace {

using dnsmasq_test::defaults;
using dnsmasq_test::generate;
using dnsmasq_test::header;

const std::string web_filter_header =
    "domain-needed\n"
    "bogus-priv\n"
    "no-hosts\n"
    "resolv-file=/var/run/web-filter-resolv.dnsmasq\n"
    "cache-size=150\n"
    "dhcp-script=/bin/dnsmasq-script.sh\n"
    "bind-dynamic\n"
    "dhcp-leasefile=/var/run/dhcp.leases\n";

const std::string web_filter_config =
    R"({"firewall": {"web_filter": {"enable": true, "service": "umbrella"}}})";

TEST(DnsmasqGlobal, NewDeviceWritesOnlyTheFixedLines)
{
    auto out = generate("");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults);
}

TEST(DnsmasqGlobal, DnsOptionsServersAllowlistAndHosts)
{
    auto out = generate(R"({
      "network": {"advanced": {"dhcp_persistent_lease": true, "sequential_dhcp_allocation": true}},
      "service": {"dns": {
        "cache_negative_responses": false, "query_all_servers": true,
        "stop_dns_rebind": true, "rebind_localhost_ok": true,
        "server": [{"domain": "corp.example", "address": "10.0.0.53"},
                   {"domain": "", "address": "9.9.9.9"}],
        "allowlist": ["example.com", "example.org"],
        "host": [{"name": "nas.lan", "address": "192.168.1.10"},
                 {"name": "printer.lan", "address": "192.168.1.11"}]}}})");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, header +
                            "dhcp-leasefile=/etc/config/dhcp.leases\n"
                            "dhcp-sequential-ip\n"
                            "no-negcache\n"
                            "all-servers\n"
                            "stop-dns-rebind\n"
                            "rebind-localhost-ok\n"
                            "server=/corp.example/10.0.0.53\n"
                            "server=9.9.9.9\n"
                            "address=/#/\n"
                            "server=/example.com/#\n"
                            "server=/example.org/#\n"
                            "host-record=localhost,127.0.0.1\n"
                            "host-record=nas.lan,192.168.1.10\n"
                            "host-record=printer.lan,192.168.1.11\n");
}

TEST(DnsmasqGlobal, RebindLocalhostWithoutRebindProtectionWritesNothing)
{
    auto out = generate(R"({"service": {"dns": {"cache_negative_responses": true,
      "query_all_servers": false, "stop_dns_rebind": false, "rebind_localhost_ok": true,
      "allowlist": []}}})");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults);
}

TEST(DnsmasqWebFilter, ValidIdentityIsWritten)
{
    auto out = generate(web_filter_config, {{"/etc/config/web-filter-id", "0123456789abcdef"}});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, web_filter_header +
                            "umbrella=deviceid:0123456789abcdef\n"
                            "host-record=localhost,127.0.0.1\n");
}

TEST(DnsmasqWebFilter, IdentityOfWrongLengthIsRejected)
{
    for (std::string id :
         {"0123456789abcdef\n", "0123456789abcde", "0123456789abcdef0", "0123456\n89abcdef"}) {
        auto out = generate(web_filter_config, {{"/etc/config/web-filter-id", id}});
        ASSERT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(out.conf, web_filter_header + "host-record=localhost,127.0.0.1\n") << id;
        EXPECT_NE(out.err.find(
                      "Ignoring invalid Umbrella device ID. Try deleting the web-filter-id file"),
                  std::string::npos)
            << out.err;
    }
}

TEST(DnsmasqWebFilter, MissingIdentityOrOtherServiceWritesNoIdentity)
{
    auto missing = generate(web_filter_config);
    ASSERT_EQ(missing.status, 0) << missing.err;
    EXPECT_EQ(missing.conf, web_filter_header + "host-record=localhost,127.0.0.1\n");

    auto other = generate(R"({"firewall": {"web_filter": {"enable": true, "service": "other"}}})",
                          {{"/etc/config/web-filter-id", "0123456789abcdef"}});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.conf, web_filter_header + "host-record=localhost,127.0.0.1\n");

    auto disabled =
        generate(R"({"firewall": {"web_filter": {"enable": false, "service": "umbrella"}}})",
                 {{"/etc/config/web-filter-id", "0123456789abcdef"}});
    ASSERT_EQ(disabled.status, 0) << disabled.err;
    EXPECT_EQ(disabled.conf, defaults);
}

const std::string policies = R"({"network": {"route": {"policy": [
    {"enable": true, "dst": {"type": "address"}},
    {"enable": false, "dst": {"type": "domain", "domain": ["off.example"]}},
    {"enable": true, "dst": {"type": "domain", "domain": ["a.example", "b.example"]}, "ip_version": "any"},
    {"enable": true, "dst": {"type": "domain", "domain": ["c.example"]}, "ip_version": "ipv4"},
    {"enable": true, "dst": {"type": "domain", "domain": ["d.example", "e.example"]}, "ip_version": "ipv6"}
  ]}}})";

TEST(DnsmasqPolicy, IndexCountsEveryPolicy)
{
    auto out = generate(policies);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults +
                            "ipset=/a.example/b.example/domain-policy-2,domain6-policy-2\n"
                            "ipset=/c.example/domain-policy-3\n"
                            "ipset=/d.example/e.example/,domain6-policy-4\n");
    ASSERT_TRUE(out.has_sniffer);
    EXPECT_EQ(out.sniffer,
              "a.example,b.example 1 2\n"
              "c.example 4 3\n"
              "d.example,e.example 6 4\n");
}

// dnsmasq still gets its whole file, but the run is not reported as a
// success.
TEST(DnsmasqPolicy, UnwritableSnifferFileKeepsTheIpsets)
{
    // A directory in the way makes the sniffer file impossible to open.
    auto out = generate(policies, {{"/var/run/hostnamesniffer.cfg/x", ""}});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err,
              "config map dnsmasq: cannot open /var/run/hostnamesniffer.cfg: Is a directory\n");
    EXPECT_EQ(dnsmasq_test::daemon_check(out.conf), "");
    EXPECT_EQ(out.conf, defaults +
                            "ipset=/a.example/b.example/domain-policy-2,domain6-policy-2\n"
                            "ipset=/c.example/domain-policy-3\n"
                            "ipset=/d.example/e.example/,domain6-policy-4\n");
}

TEST(DnsmasqGlobal, UnwritableFileFailsWithoutTouchingOthers)
{
    auto out = generate(policies, {{"/var/run/dnsmasq.conf/x", ""}});
    EXPECT_EQ(out.status, 1);
    EXPECT_FALSE(out.has_sniffer);
}

// Configured text reaches the file only on its own line: a line break would
// let it add directives of its own (here: an upstream for every name).
TEST(DnsmasqSafety, HostRecordWithLineBreakIsLeftOut)
{
    auto out = generate(R"({"service": {"dns": {"host": [
        {"name": "ok.lan", "address": "192.168.1.10"},
        {"name": "x.lan\nserver=203.0.113.66", "address": "192.168.1.11"}],
      "server": [{"domain": "", "address": "9.9.9.9\naddress=/#/203.0.113.66"}]}}})");
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.conf, defaults + "host-record=ok.lan,192.168.1.10\n");
    EXPECT_NE(out.err.find("line break"), std::string::npos) << out.err;
}

}  // namespace
