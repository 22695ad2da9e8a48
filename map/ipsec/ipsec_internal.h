// Shared by the parts of the IPsec generator: the per-tunnel working values
// and the steps that write the tunnel's files into the new run tree.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include "network.h"
#include "quill.h"

namespace ipsec {

// The tree is built under the .new name and swapped into place at the end
// of the run so the daemon never reads a half-written tree.
inline constexpr const char *live_tree = "/var/run/ipsec.d";
inline constexpr const char *new_tree = "/var/run/ipsec.d.new";
inline constexpr const char *old_tree = "/var/run/ipsec.d.old";

struct tunnel {
    config_t *root = nullptr;
    network_t *model = nullptr;
    config_node *node = nullptr;
    const char *name = "";  // owned by the store
    int ordinal = 0;        // 1-based, counts skipped tunnels too
    bool ipv6 = false;
    std::string family;     // remote.ip_version as stored: runtime key component
    std::string interface;  // carries the local end point
    std::string left;
    std::string passthrough_src;  // empty unless the interface is in passthrough
    std::string right;
    bool initiate = false;
    std::string left_id, right_id;
    bool has_right_ca = false;
    std::string right_ca;

    // The secrets file names each side by its identity, or by its address
    // when it has none.
    const std::string &secrets_left() const { return left_id.empty() ? left : left_id; }
    const std::string &secrets_right() const { return right_id.empty() ? right : right_id; }
};

// printf into a std::string.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Never null: an unset string reads as "".
inline std::string_view get_string(config_node *node, const char *path) {
    const char *s = config_get_string(node, path);
    return s ? std::string_view(s) : std::string_view();
}

// Live values come from other daemons; one holding a line break would
// start a new directive in the files written here, so it counts as absent.
inline bool one_line(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

// Files holding secrets are created owner-only from the first byte on.
FILE *open_private(const char *path);
bool write_private(const char *path, std::string_view text);

// Secrets file and credential files of the tunnel; false skips the tunnel.
bool write_secrets(tunnel &t);
// rightca of x509 tunnels verified by CA; false skips the tunnel.
bool settle_right_ca(tunnel &t);
// Connection file; false skips the tunnel (the file is then removed).
bool write_connections(tunnel &t);

}  // namespace ipsec
