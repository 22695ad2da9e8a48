/* Inner shape of the configuration store: the node tree and the handle. */
#ifndef QUILL_STORE_H
#define QUILL_STORE_H
#include <sys/stat.h>

#include <cstring>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quill.h"
#include "schema.h"

namespace quill {
struct handle;
}

/* One node of a loaded copy.  Containers (object, collection, array) hold
 * children; scalars hold their value as text (numbers keep the text they
 * were written with).  An implicit node stands for a member that the schema
 * knows but that is not set: it reads as the default, is not written, and is
 * skipped by iteration, counts and the text forms.  Setting anything at or
 * below it makes it (and its ancestors) explicit. */
struct config_node {
    config_node *parent = nullptr;
    quill::handle *h = nullptr;
    const schema_node *schema = nullptr;
    /* Texts are immutable and owned by the handle (its text arena) or by the
     * schema: a copy for cancel shares them, and a set stores a new one. */
    const char *key = "";
    const char *text = "";
    bool implicit = false;
    std::vector<config_node *> children;  /* owned by the handle's arena */
};

namespace quill {

using node_list = std::vector<config_node *>;

/* Identity of a file as last seen, to notice a change by another writer. */
struct file_id {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {};
    bool operator==(const file_id &o) const;
};
file_id file_identity(const char *path);

struct handle {
    config_node root;
    std::unique_ptr<schema_set> own_schema;  /* a schema file named at load */
    std::string file;                        /* where a commit writes */
    std::string lock_file;
    int lock_fd = -1;                        /* held from load to free */
    bool error = false;
    file_id base;                            /* the file as it was loaded */
    bool have_snapshot = false;
    node_list snapshot;                      /* the tree before the first edit */
    /* Nodes live in one arena per copy: loading a large file costs a few
     * block allocations instead of one per node.  Nodes dropped by edits
     * go to a free list and are reused. */
    std::vector<std::unique_ptr<config_node[]>> arena;
    size_t arena_used = 0;
    std::vector<config_node *> free_nodes;
    std::vector<std::unique_ptr<char[]>> text_blocks;
    std::unique_ptr<char[]> file_text;        /* the file as read, rewritten in place */
    size_t text_used = 0, text_room = 0;
    std::vector<const char *> index_keys;     /* "0", "1", ... of array elements */
    config_node *make_node();
    /* A lasting copy of text (terminated) in the text arena. */
    const char *keep(std::string_view text);
    const char *index_key(size_t index);
    void release(config_node *subtree);
    ~handle();
};

inline bool is_container(const config_node *n) { return schema_is_container(n->schema); }

/* Flags the handle and logs "what: reason". */
void flag_error(const config_node *n, const std::string &message);

/* Dot path of n ("" for the root). */
std::string node_path(const config_node *n);

/* ---- path walk -------------------------------------------------------- */
enum walk_mode {
    WALK_READ,    /* existing members; schema-known members appear as implicit */
    WALK_CREATE,  /* also creates collection members and the next array element */
};
enum walk_result { WALK_FOUND, WALK_UNKNOWN, WALK_ABSENT, WALK_BAD_KEY };
/* Walks path from n.  On failure, failed is the path prefix that could not
 * be followed. */
walk_result walk(config_node *n, std::string_view path, walk_mode mode, config_node *&out,
                 std::string &failed);
inline bool same_key(const char *a, std::string_view b)
{
    return strncmp(a, b.data(), b.size()) == 0 && a[b.size()] == 0;
}

/* Child of n with this key (implicit ones included), or null. */
config_node *find_child(const config_node *n, std::string_view key);
/* key_lasting: key is terminated and outlives the handle's tree (the file
 * text), so it is not copied. */
config_node *add_child(config_node *parent, const schema_node *schema, std::string_view key,
                       bool implicit, bool key_lasting = false);
/* Effective text of a scalar: its value, or the default when implicit. */
const char *scalar_text(const config_node *n);
/* Makes n and its ancestors explicit and saves the tree for cancel. */
void touch(config_node *n);
void save_snapshot(handle *h);
/* Renumbers the keys of array elements after an insertion or removal. */
void renumber(config_node *array);

/* ---- text forms ------------------------------------------------------- */
/* JSON of the node as the file holds it (defaults left out). */
std::string to_json(const config_node *n, bool pretty);
/* Whether the file form holds the node at all. */
bool written(const config_node *n);
/* Checks every value; calls report(path, message) per problem. */
bool validate_node(const config_node *n,
                   void (*report)(void *, const std::string &, const std::string &), void *ctx);

/* Resolves a reference text ("/a/b/c") from the root of n. */
config_node *resolve_reference(const config_node *n, std::string_view ref);

}  // namespace quill

#endif
