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

/* Children of a container, in the store's order: an array of pointers in
 * the handle's arena, so that loading makes no heap allocation per
 * container.  Changed only through attach, detach and release (tree.cpp),
 * which keep each child's pos and the member index of a large collection
 * in step. */
struct child_list {
    config_node **items = nullptr;
    uint32_t count = 0;
    uint32_t room = 0;
    config_node **begin() const { return items; }
    config_node **end() const { return items + count; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    config_node *operator[](size_t i) const { return items[i]; }
    config_node *back() const { return items[count - 1]; }
};

/* One node of a loaded copy.  Containers (object, collection, array) hold
 * children; scalars hold their value as text (numbers keep the text they
 * were written with).  An implicit node stands for a member that the schema
 * knows but that is not set: it reads as the default, is not written, and is
 * skipped by iteration, counts and the text forms.  Setting anything at or
 * below it makes it (and its ancestors) explicit.  In an array the explicit
 * elements come first: at most one implicit element, left by a refused
 * edit, follows them. */
struct config_node {
    config_node *parent = nullptr;
    quill::handle *h = nullptr;
    const schema_node *schema = nullptr;
    /* Texts are immutable and owned by the handle (its text arena or the
     * file text) or by the schema: a copy for cancel shares them, and a set
     * stores a new one. */
    const char *key = "";
    const char *text = "";
    child_list children; /* owned by the handle's arena */
    uint32_t pos = 0;    /* index in parent->children */
    bool implicit = false;
};

namespace quill {

/* Open-addressing table of the members of one large collection, found by
 * key in constant time (a configuration may hold thousands of tunnels). */
struct member_index {
    /* The hash is kept so that a probe passes other keys without comparing
     * them, and a removal need not hash them again. */
    struct slot {
        config_node *node;
        uint32_t hash;
    };
    const config_node *owner = nullptr;
    std::unique_ptr<slot[]> slots;
    uint32_t mask = 0; /* slot count - 1; the count is a power of two */
    uint32_t used = 0;
};

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

/* Child arrays of this many slots or more have a block of their own. */
constexpr uint32_t large_slots_from = 256;

struct handle {
    config_node root;
    std::unique_ptr<schema_set> own_schema; /* a schema file named at load */
    std::string file;                       /* where a commit writes */
    std::string lock_file;
    int lock_fd = -1; /* held from load to free */
    bool error = false;
    std::string refusal; /* why the last commit failed, but for validation */
    file_id base;        /* the file as it was loaded */
    bool have_snapshot = false;
    child_list snapshot; /* the tree before the first edit */
    /* Nodes live in one arena per copy: loading a large file costs a few
     * block allocations instead of one per node.  Nodes dropped by edits
     * go to a free list and are reused. */
    std::vector<std::unique_ptr<config_node[]>> arena;
    config_node *arena_block = nullptr; /* the newest block */
    size_t arena_used = 0, arena_room = 0;
    std::vector<config_node *> free_nodes;
    /* Arrays of child pointers: small ones share blocks, large ones have
     * their own, given back when a larger one replaces them. */
    std::vector<std::unique_ptr<config_node *[]>> slot_blocks;
    config_node **slot_block = nullptr; /* the newest shared block */
    size_t slots_used = 0, slots_room = 0;
    std::vector<std::unique_ptr<config_node *[]>> large_slots;
    std::vector<member_index> indexes; /* made when first needed */
    std::vector<std::unique_ptr<char[]>> text_blocks;
    std::unique_ptr<char[]> file_text; /* the file as read, rewritten in place */
    size_t text_used = 0, text_room = 0;
    std::vector<const char *> index_keys; /* "0", "1", ... of array elements */
    /* Called for every node of a file: the common case is inline. */
    config_node *make_node()
    {
        if (free_nodes.empty() && arena_used < arena_room)
            return &arena_block[arena_used++];
        return make_node_slowly();
    }
    config_node *make_node_slowly();
    config_node **make_slots(uint32_t count)
    {
        if (count <= slots_room - slots_used && count < large_slots_from) {
            config_node **out = slot_block + slots_used;
            slots_used += count;
            return out;
        }
        return make_slots_slowly(count);
    }
    config_node **make_slots_slowly(uint32_t count);
    void drop_slots(config_node **items, uint32_t room);
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
/* Dot path of path below n, for messages. */
std::string full_path(const config_node *n, std::string_view path);

/* ---- path walk -------------------------------------------------------- */
enum walk_mode {
    WALK_READ,   /* existing members; schema-known members appear as implicit */
    WALK_CREATE, /* also creates collection members and the next array element */
};
enum walk_result { WALK_FOUND, WALK_UNKNOWN, WALK_ABSENT, WALK_BAD_KEY };
/* Walks path from n.  On failure, failed is the path prefix that could not
 * be followed (a view of path). */
walk_result walk(config_node *n, std::string_view path, walk_mode mode, config_node *&out,
                 std::string_view &failed);
inline bool same_key(const char *a, std::string_view b)
{
    return strncmp(a, b.data(), b.size()) == 0 && a[b.size()] == 0;
}

/* Child of n with this key (implicit ones included), or null. */
config_node *find_child(const config_node *n, std::string_view key);
/* Indexes the members of a large collection as it is read; gives a member
 * whose key an earlier one has, or null. */
config_node *index_collection(const config_node *collection);
/* Member of an object n with this description, or null. */
inline config_node *find_member(const config_node *n, const schema_node *member)
{
    for (config_node *c : n->children)
        if (c->schema == member)
            return c;
    return nullptr;
}
/* Position of n among its parent's children. */
size_t position(const config_node *n);
/* Appends child to list (the children of parent, or the snapshot). */
void grow(handle *h, child_list &list, const config_node *parent);
void indexed_attach(handle *h, const config_node *parent, config_node *child);
inline void attach(handle *h, child_list &list, config_node *parent, config_node *child)
{
    if (list.count == list.room)
        grow(h, list, parent);
    child->pos = list.count;
    list.items[list.count++] = child;
    if (parent && !h->indexes.empty())
        indexed_attach(h, parent, child);
}
/* key_lasting: key is terminated and outlives the handle's tree (the file
 * text, or the handle's key of the next array element), so it is not
 * copied. */
inline config_node *add_child(config_node *parent, const schema_node *schema, std::string_view key,
                              bool implicit, bool key_lasting = false)
{
    handle *h = parent->h;
    config_node *child = h->make_node();
    child->parent = parent;
    child->h = h;
    child->schema = schema;
    /* A member of an object is named by its description. */
    uint8_t type = parent->schema->type;
    child->key = type == SCHEMA_OBJECT && schema->key ? schema->key
                 : key_lasting                        ? key.data()
                 : type == SCHEMA_ARRAY               ? h->index_key(parent->children.size())
                                                      : h->keep(key);
    child->implicit = implicit;
    attach(h, parent->children, parent, child);
    return child;
}
/* Takes n out of its parent's children; the caller releases it. */
void detach(config_node *n);
/* Effective text of a scalar: its value, or the default when implicit. */
const char *scalar_text(const config_node *n);
/* Makes n and its ancestors explicit and saves the tree for cancel. */
void touch(config_node *n);
void save_snapshot(handle *h);
/* Renumbers the keys of array elements after an insertion or removal. */
void renumber(config_node *array);

/* The schema of path below s, following collections and arrays through
 * their member description (a member need not exist); null when the schema
 * knows no such path.  private_out, when given, tells whether the node or
 * one on the way to it is private. */
const schema_node *schema_at(const schema_node *s, std::string_view path,
                             bool *private_out = nullptr);
/* Whether the value of n is private: n or one of its ancestors is. */
inline bool is_private(const config_node *n)
{
    for (; n; n = n->parent)
        if (n->schema->flags & SCHEMA_PRIVATE)
            return true;
    return false;
}

/* ---- text forms ------------------------------------------------------- */
/* Appends "path=value\n", the value escaped as the dump writes it. */
void dump_line(std::string &out, const std::string &path, std::string_view value);
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
