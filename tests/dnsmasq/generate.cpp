#include "generate.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

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

std::string daemon_check(const std::string &conf)
{
    char path[] = "/tmp/dnsmasq-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "cannot create a temporary file";
    if (write(fd, conf.data(), conf.size()) != ssize_t(conf.size())) {
        close(fd);
        unlink(path);
        return "cannot write the temporary file";
    }
    close(fd);
    std::string cmd = std::string("dnsmasq --test --conf-file=") + path + " 2>&1";
    std::string said;
    int status = -1;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            said.append(buf, n);
        status = pclose(p);
    }
    unlink(path);
    if (status == 0)
        return "";
    return said.empty() ? "dnsmasq could not be run" : said;
}

Output generate(const std::string &config_json, const std::map<std::string, std::string> &files)
{
    nsrun::Spec spec;
    spec.args = {"map", "dnsmasq"};
    spec.config_json = config_json;
    spec.has_config = !config_json.empty();
    spec.files = files;
    spec.collect = {"/var/run/dnsmasq.conf", "/var/run/hostnamesniffer.cfg"};
    nsrun::Result r = nsrun::run(spec);

    Output out;
    out.status = r.status;
    out.err = r.err;
    if (auto it = r.files.find("/var/run/dnsmasq.conf"); it != r.files.end())
        out.conf = it->second;
    if (auto it = r.files.find("/var/run/hostnamesniffer.cfg"); it != r.files.end()) {
        out.has_sniffer = true;
        out.sniffer = it->second;
    }
    if (out.status == 0) {
        EXPECT_EQ(daemon_check(out.conf), "") << out.conf;
    }
    return out;
}

}  // namespace dnsmasq_test
