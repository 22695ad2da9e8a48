// Helpers of the protocol mappers' end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "nsrun.h"

namespace proto_test {

inline const std::string network_file = "/var/run/uci/network";

// JSON string literal for a text (certificates span lines).
std::string quote(const std::string &text);

// Runs `config map network` with the configuration and runtime values of
// spec, collecting the network file and the given side files.
nsrun::Result map_network(nsrun::Spec spec);

inline std::string file(const nsrun::Result &r, const std::string &path)
{
    auto it = r.files.find(path);
    return it == r.files.end() ? "<missing>" : it->second;
}

// The section "config <type> <name>" of the network file with its options,
// starting with its blank line; "" when the file has no such section.
std::string section(const std::string &network, const std::string &name);

// MD5 of a text as md5sum prints it (32 hexadecimal digits).
std::string md5(const std::string &text);

}  // namespace proto_test
