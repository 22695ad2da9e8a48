// Helpers of the IPsec generator's end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "nsrun.h"

namespace ipsec_test {

inline const std::string conf = "/var/run/ipsec.conf";
inline const std::string secrets = "/var/run/ipsec.secrets";
inline const std::string tree = "/var/run/ipsec.d";

inline std::string quote(const std::string &text) { return nsrun::json_string(text); }

// Wraps tunnel members into a whole configuration.
inline std::string tunnels(const std::string &members, const std::string &extra = "")
{
    return "{\"vpn\": {\"ipsec\": {\"tunnel\": {" + members + "}}}" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

// A tunnel on interface wan with one remote host; `members` adds the rest.
inline std::string wan_tunnel(const std::string &name, const std::string &members = "")
{
    return "\"" + name +
           "\": {\"local\": {\"type\": \"interface\", \"interface\": \"wan\"}, "
           "\"remote\": {\"hostname\": [\"203.0.113.5\"]}" +
           (members.empty() ? "" : ", " + members) + "}";
}

// The same with a pre-shared key.
inline std::string psk_tunnel(const std::string &name, const std::string &more = "")
{
    return wan_tunnel(name, "\"auth\": {\"secret\": \"k\"}" + (more.empty() ? "" : ", " + more));
}

// Runtime values of an IPv4 interface that is up.
inline void interface_up(nsrun::Spec &spec, const std::string &name, const std::string &address)
{
    spec.runtime.push_back({"network.interface." + name + ".ipv4.ready", "1"});
    spec.runtime.push_back({"network.interface." + name + ".ipv4.address", address});
}

inline nsrun::Result run_ipsec(nsrun::Spec spec)
{
    spec.args = {"map", "ipsec"};
    spec.collect.insert(spec.collect.end(), {conf, secrets, tree, tree + ".new", tree + ".old"});
    return nsrun::run(spec);
}

// The connection file of a tunnel in the live tree.
inline std::string conn_file(const nsrun::Result &r, const std::string &tunnel)
{
    auto it = r.files.find(tree + "/conf/" + tunnel + ".conf");
    return it == r.files.end() ? "<missing>" : it->second;
}

// Paths of the live tree below /var/run/ipsec.d, relative to it.
inline std::set<std::string> tree_entries(const nsrun::Result &r)
{
    std::set<std::string> out;
    for (const auto &[path, contents] : r.files)
        if (path.rfind(tree + "/", 0) == 0)
            out.insert(path.substr(tree.size() + 1));
    return out;
}

inline std::string file(const nsrun::Result &r, const std::string &path)
{
    auto it = r.files.find(path);
    return it == r.files.end() ? "<missing>" : it->second;
}

// Runs a shell command on the host and returns its standard output.
std::string shell(const std::string &command);

// Scratch directory with keys and certificates made by openssl once per
// test binary.
struct pki {
    std::string dir;
    std::string ca[3];    // three self-signed CA certificates
    std::string key;      // RSA private key, PEM
    std::string key_enc;  // the same key under passphrase "p4ss word"
    std::string pub;      // its public key as openssl writes it
    std::string cert;     // certificate of that key
};
const pki &credentials();

}  // namespace ipsec_test
