#include "generate.h"

#include <gtest/gtest.h>

#include "nsrun.h"

namespace dnsmasq_test {

const std::string header =
    "domain-needed\n"
    "bogus-priv\n"
    "no-hosts\n"
    "resolv-file=/var/run/resolv.dnsmasq\n"
    "cache-size=150\n"
    "dhcp-script=/bin/dnsmasq-script.sh\n"
    "bind-dynamic\n";

const std::string defaults = header +
                             "dhcp-leasefile=/var/run/dhcp.leases\n"
                             "host-record=localhost,127.0.0.1\n";

Output generate(const std::string &config_json, const std::map<std::string, std::string> &files,
                const std::string &before)
{
    nsrun::Spec spec;
    spec.args = {"map", "dnsmasq"};
    spec.config_json = config_json;
    spec.has_config = !config_json.empty();
    spec.files = files;
    spec.before = before;
    spec.collect = {"/var/run/dnsmasq.conf", "/var/run/hostnamesniffer.cfg"};
    nsrun::Result r = nsrun::run(spec);

    Output out;
    out.status = r.status;
    out.err = r.err;
    if (auto it = r.files.find("/var/run/dnsmasq.conf"); it != r.files.end()) {
        out.conf = it->second;
        out.conf_mode = r.modes["/var/run/dnsmasq.conf"];
    }
    if (auto it = r.files.find("/var/run/hostnamesniffer.cfg"); it != r.files.end()) {
        out.has_sniffer = true;
        out.sniffer = it->second;
        out.sniffer_mode = r.modes["/var/run/hostnamesniffer.cfg"];
    }
    if (out.status == 0) {
        EXPECT_EQ(daemon_check(out.conf), "") << out.conf;
    }
    return out;
}

}  // namespace dnsmasq_test
