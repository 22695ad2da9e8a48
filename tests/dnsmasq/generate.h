// Runs `config map dnsmasq` in a private namespace and hands back what it
// wrote; every file it produces is also put to the daemon's own check.
#pragma once
#include <map>
#include <string>

#include "dnsmasq_check.h"

namespace dnsmasq_test {

struct Output {
    int status = -1;
    std::string conf;  // /var/run/dnsmasq.conf
    bool has_sniffer = false;
    std::string sniffer;  // /var/run/hostnamesniffer.cfg
    std::string err;      // standard error (the generator's messages)
    unsigned conf_mode = 0, sniffer_mode = 0;
};

// config_json empty: no configuration file (a new device).  before: shell
// commands run in the namespace just before the generator.
Output generate(const std::string &config_json,
                const std::map<std::string, std::string> &files = {},
                const std::string &before = "");

// The fixed start of every file on a device without web filter.
extern const std::string header;
// What a new device writes: header, volatile lease file, localhost record.
extern const std::string defaults;

}  // namespace dnsmasq_test
