#include "dnsmasq_check.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace dnsmasq_test {

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

}  // namespace dnsmasq_test
