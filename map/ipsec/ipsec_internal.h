// Shared by the parts of the IPsec generator: the per-tunnel working values
// and the steps that write the tunnel's files into the new run tree.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include "ipsec_tree.h"
#include "network.h"
#include "quill.h"

namespace ipsec {

// The tree is built under the .new name and swapped into place at the end
// of the run so the daemon never reads a half-written tree.
inline constexpr const char *live_tree = ipsec_live_tree;
inline constexpr const char *new_tree = "/var/run/ipsec.d.new";
inline constexpr const char *old_tree = "/var/run/ipsec.d.old";

struct tunnel {
    config_t *root = nullptr;
    network_t *model = nullptr;
    config_node *node = nullptr;
    const char *name = "";  // owned by the store
    std::string path;       // of the tunnel object, for messages
    int ordinal = 0;        // 1-based, counts skipped tunnels too
    bool ipv6 = false;
    std::string family;     // remote.ip_version as stored: runtime key component
    std::string interface;  // carries the local end point
    std::string left;
    std::string left_from;        // runtime key of the interface's address
    std::string passthrough_src;  // empty unless the interface is in passthrough
    std::string right;
    std::string right_from;  // path of the host list
    bool initiate = false;
    std::string left_id, right_id;
    std::string left_id_from, right_id_from;
    bool has_right_ca = false;
    std::string right_ca;
    std::string right_ca_from;
    // A file of the new tree could not be written: the run fails and the
    // live tree stays as it is.
    bool write_failed = false;

    // The secrets file names each side by its identity, or by its address
    // when it has none.
    const std::string &secrets_left() const { return left_id.empty() ? left : left_id; }
    const std::string &secrets_right() const { return right_id.empty() ? right : right_id; }
    std::string_view secrets_left_from() const
    {
        return left_id.empty() ? left_from : left_id_from;
    }
    std::string_view secrets_right_from() const
    {
        return right_id.empty() ? right_from : right_id_from;
    }
};

// printf into a std::string.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Never null: an unset string reads as "".
inline std::string_view get_string(config_node *node, const char *path)
{
    const char *s = config_get_string(node, path);
    return s ? std::string_view(s) : std::string_view();
}

// Opens a file of the new tree with its mode; a failure ("error opening
// tunnel WHAT file") fails the run.
FILE *open_tree_file(tunnel &t, const std::string &path, int flags, const char *what);
// Writes a whole file of the new tree with its mode (FILE_PUBLIC or
// FILE_PRIVATE).  A failure is logged with the file's name and fails the
// run.
bool write_tree_file(tunnel &t, const std::string &path, std::string_view data, int flags);
// Ends a file of the new tree written through stdio; like write_tree_file
// on failure.
bool finish_tree_file(tunnel &t, FILE *f, const std::string &path);

// Identity of one side and the path of the value it was made from.
std::string endpoint_identity(config_node *side, std::string &from);

// Secrets file and credential files of the tunnel; false skips the tunnel.
bool write_secrets(tunnel &t);
// rightca of x509 tunnels verified by CA; false skips the tunnel.
bool settle_right_ca(tunnel &t);
// Connection file; false skips the tunnel (the file is then removed).
bool write_connections(tunnel &t);

}  // namespace ipsec
