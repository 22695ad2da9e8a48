// Loads IPsec files into the real IKE daemon and reports what it made of
// them: the daemon is the judge of whether a generated ipsec.conf and
// ipsec.secrets mean what the generator meant.
//
// How: through the namespace helper (nsrun.h), `ipsec start` (Debian's
// strongswan-starter and strongswan-charon) runs in a network and PID
// namespace of its own, with the given files bound over /etc/ipsec.conf
// and /etc/ipsec.secrets.  The tree is put where their include lines point
// (/var/run/ipsec.d) and bound over /etc/ipsec.d too, where the daemon
// looks up the key and certificate files that connections and secrets
// name.  Once every connection of the files has reached the daemon (or
// after a few seconds), `ipsec statusall` is read and the daemon stops
// with its namespace.  A load takes about a second.
//
//   auto r = run_ipsec(spec);                 // nsrun::Result of `config map ipsec`
//   ike_check::Report d = ike_check::load(ike_check::from_result(r));
//   EXPECT_TRUE(d.started) << d.log;
//   EXPECT_EQ(d.problems, std::vector<std::string>{});
//   EXPECT_EQ(d.connection("hq_policy0")->remote_id, "fqdn:peer.example.com");
//
// Debian's daemon does not know two options of the device's own build,
// `if_id` and `righthostssequence`; the starter lists them as unknown
// keywords and loads the rest.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "nsrun.h"

namespace ike_check {

struct Files {
    std::string conf;     // ipsec.conf
    std::string secrets;  // ipsec.secrets
    // The tree below /var/run/ipsec.d as nsrun::Result::files holds it:
    // absolute path -> contents, "-> target" for a link, "<dir>" for a
    // directory.  Other paths are left out.
    std::map<std::string, std::string> tree;
    // Files that links of the tree point at (/etc/config/id_rsa ...):
    // absolute path -> contents, below /etc/config or /run.
    std::map<std::string, std::string> extra;
};

// The files that `config map ipsec` left (run_ipsec collects them).
Files from_result(const nsrun::Result &r);

struct Connection {
    std::string name;
    // Identities as statusall shows them between brackets ("" when a side
    // has none), with a type prefix such as "fqdn:" dropped by the daemon.
    // Bytes it cannot print show as '?'.
    std::string local_id, remote_id;
    // The first round of each side: "pre-shared key", "public key", ...
    std::string local_auth, remote_auth;
    std::string text;  // every statusall line of the connection
};

struct Report {
    bool started = false;  // the daemon came up and answered statusall
    // What the starter said about ipsec.conf, one line each, beyond its
    // banner, the unknown keywords and their count.
    std::vector<std::string> starter_problems;
    std::vector<std::string> unknown_keywords;  // sorted, each once
    std::vector<Connection> connections;        // in statusall's order
    // One line per entry the daemon loaded from the secrets files, as it
    // logs them ("IKE secret for SELECTORS", "EAP secret for USER", "RSA
    // private key from '/etc/ipsec.d/private/t.rsa'").
    std::vector<std::string> secrets;
    // Log lines in which the daemon refused something of the files: a
    // secrets line it could not parse, a key it could not load, a subnet or
    // connection it would not take.
    std::vector<std::string> problems;
    std::string statusall, log;  // for failure messages
    std::string error;           // the set-up failed: why

    const Connection *connection(const std::string &name) const;
};

Report load(const Files &files);

}  // namespace ike_check
