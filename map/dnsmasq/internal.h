// Pieces of the dnsmasq generator that live in separate files.
#pragma once
#include <cstdio>
#include "quill.h"

namespace dnsmasq {

// ipset lines of enabled domain policies, mirrored into the sniffer file.
void write_domain_policies(std::FILE *out, config_node *policies);

}  // namespace dnsmasq
