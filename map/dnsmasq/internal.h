// Pieces of the dnsmasq generator that live in separate files.
#pragma once
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include "network.h"
#include "quill.h"

namespace dnsmasq {

// One run's dnsmasq file and what must stay unique across all of it.
struct output {
    std::FILE *file;
    // Static lease addresses written so far, over every interface: dnsmasq
    // refuses a file with two dhcp-host lines for one address.
    std::set<std::string, std::less<>> leased;
};

// Appends the DHCP lines of one interface node (and, for interface types
// that carry no DHCP service themselves, of its protocol nodes).
void write_dnsmasq_interface(output &out, network_node *node);

// ipset lines of enabled domain policies, mirrored into the sniffer file
// when it is open (null: not written).
void write_domain_policies(std::FILE *out, std::FILE *sniffer, config_node *policies);

}  // namespace dnsmasq
