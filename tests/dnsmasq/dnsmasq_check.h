// The daemon's own check of a dnsmasq configuration: every test that
// writes or generates dnsmasq lines puts them to it.
#pragma once
#include <string>

namespace dnsmasq_test {

// Empty when `dnsmasq --test` accepts conf as its configuration file, else
// what dnsmasq said.
std::string daemon_check(const std::string &conf);

}  // namespace dnsmasq_test
