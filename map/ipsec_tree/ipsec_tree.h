// The meeting point of the IPsec and the network generator.  `config map
// ipsec` writes one tree of files per run; `config map network` writes an
// interface for each tunnel whose connection file is in the live tree and
// fingerprints the tunnel's files there.  Both skip the tunnels that NHRP
// manages.  The layout and that rule live here, so the two cannot drift
// apart.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "quill.h"

// The tree the IKE daemon reads.
inline constexpr const char *ipsec_live_tree = "/var/run/ipsec.d";

// "<tree>/conf/<tunnel>.conf": the tunnel's connection file.
std::string ipsec_tunnel_conf_file(std::string_view tree, std::string_view tunnel);

// Every file of the live tree named after the tunnel, a dot and any ending,
// in any of its directories ("<live tree>/*/<tunnel>.*"), sorted by byte
// value as a shell sorts that pattern: connection, secrets, key,
// certificate and CA files.
std::vector<std::string> ipsec_tunnel_files(std::string_view tunnel);

// Non-zero when one of the NHRP networks of network.route.service.nhrp
// lists the tunnel (by name or by reference path; several may be given,
// separated by blanks or commas).  A tunnel matches only its whole name, so
// tun1 is not taken for tun10.  Null or empty arguments give 0.
int map_check_if_tunnel_is_nhrp(config_node *root, const char *tunnel);
