/* The node tree: path walk, implicit members, snapshots for cancel. */
#include <unistd.h>

#include <cstring>

#include "store.h"

namespace quill {

bool file_id::operator==(const file_id &o) const
{
    if (exists != o.exists)
        return false;
    return !exists || (dev == o.dev && ino == o.ino && size == o.size &&
                       mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec);
}

file_id file_identity(const char *path)
{
    file_id id;
    struct stat st;
    if (stat(path, &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.mtime = st.st_mtim;
    }
    return id;
}

config_node *handle::make_node()
{
    constexpr size_t block = 128;
    if (free_nodes.empty()) {
        if (arena.empty() || arena_used == block) {
            arena.push_back(std::make_unique<config_node[]>(block));
            arena_used = 0;
        }
        return &arena.back()[arena_used++];
    }
    config_node *n = free_nodes.back();
    free_nodes.pop_back();
    return n;
}

const char *handle::keep(std::string_view text)
{
    if (text.empty())
        return "";
    size_t need = text.size() + 1;
    if (need > text_room - text_used) {
        /* Long texts get a block of their own; short ones share. */
        size_t size = need > 1024 ? need : 8192;
        text_blocks.push_back(std::make_unique<char[]>(size));
        if (size == need) {
            char *own = text_blocks.back().get();
            memcpy(own, text.data(), text.size());
            own[text.size()] = 0;
            if (text_blocks.size() > 1)  /* keep filling the shared block */
                std::swap(text_blocks.back(), text_blocks[text_blocks.size() - 2]);
            return own;
        }
        text_used = 0;
        text_room = size;
    }
    char *out = text_blocks.back().get() + text_used;
    memcpy(out, text.data(), text.size());
    out[text.size()] = 0;
    text_used += need;
    return out;
}

const char *handle::index_key(size_t index)
{
    while (index_keys.size() <= index)
        index_keys.push_back(keep(std::to_string(index_keys.size())));
    return index_keys[index];
}

void handle::release(config_node *subtree)
{
    for (config_node *c : subtree->children)
        release(c);
    subtree->children.clear();
    subtree->key = "";
    subtree->text = "";
    subtree->parent = nullptr;
    free_nodes.push_back(subtree);
}

handle::~handle()
{
    if (lock_fd >= 0)
        close(lock_fd);
}

void flag_error(const config_node *n, const std::string &message)
{
    if (n && n->h)
        n->h->error = true;
    log_error("%s", message.c_str());
}

std::string node_path(const config_node *n)
{
    std::vector<const config_node *> chain;
    for (; n && n->parent; n = n->parent)
        chain.push_back(n);
    std::string p;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!p.empty())
            p += '.';
        p += (*it)->key;
    }
    return p;
}

config_node *find_child(const config_node *n, std::string_view key)
{
    for (auto &c : n->children)
        if (same_key(c->key, key))
            return c;
    return nullptr;
}

config_node *add_child(config_node *parent, const schema_node *schema, std::string_view key,
                       bool implicit, bool key_lasting)
{
    config_node *child = parent->h->make_node();
    child->parent = parent;
    child->h = parent->h;
    child->schema = schema;
    /* A member of an object is named by its description. */
    child->key = parent->schema->type == SCHEMA_OBJECT && schema->key ? schema->key
                 : parent->schema->type == SCHEMA_ARRAY ? parent->h->index_key(parent->children.size())
                 : key_lasting                          ? key.data()
                                                         : parent->h->keep(key);
    child->implicit = implicit;
    /* Most containers hold a few members: one allocation, not a chain. */
    if (parent->children.capacity() == 0)
        parent->children.reserve(4);
    parent->children.push_back(child);
    return child;
}

const char *scalar_text(const config_node *n)
{
    return n->implicit ? schema_default(n->schema) : n->text;
}

namespace {

config_node *clone(const config_node *n, config_node *parent)
{
    config_node *c = n->h->make_node();
    c->parent = parent;
    c->h = n->h;
    c->schema = n->schema;
    c->key = n->key;
    c->text = n->text;
    c->implicit = n->implicit;
    c->children.reserve(n->children.size());
    for (auto &child : n->children)
        c->children.push_back(clone(child, c));
    return c;
}

size_t explicit_count(const config_node *n)
{
    size_t count = 0;
    for (auto &c : n->children)
        count += !c->implicit;
    return count;
}

}  // namespace

void save_snapshot(handle *h)
{
    if (h->have_snapshot)
        return;
    h->snapshot.clear();
    h->snapshot.reserve(h->root.children.size());
    for (config_node *c : h->root.children)
        h->snapshot.push_back(clone(c, &h->root));
    h->have_snapshot = true;
}

void touch(config_node *n)
{
    save_snapshot(n->h);
    for (; n; n = n->parent)
        n->implicit = false;
}

void renumber(config_node *array)
{
    size_t i = 0;
    for (auto &c : array->children)
        c->key = array->h->index_key(i++);
}

walk_result walk(config_node *n, std::string_view path, walk_mode mode, config_node *&out,
                 std::string &failed)
{
    out = nullptr;
    if (!n)
        return WALK_ABSENT;
    config_node *cur = n;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t dot = path.find('.', pos);
        if (dot == std::string_view::npos)
            dot = path.size();
        std::string_view seg = path.substr(pos, dot - pos);
        failed.assign(path.substr(0, dot));
        pos = dot + 1;
        if (dot + 1 == path.size())  /* trailing dot */
            return WALK_UNKNOWN;
        const schema_node *s = cur->schema;
        config_node *child = nullptr;
        switch (s->type) {
        case SCHEMA_OBJECT: {
            const schema_node *ms = schema_member(s, seg);
            if (!ms)
                return WALK_UNKNOWN;
            child = find_child(cur, seg);
            if (!child)
                child = add_child(cur, ms, seg, true);
            break;
        }
        case SCHEMA_COLLECTION:
            child = find_child(cur, seg);
            if (child && child->implicit && mode == WALK_READ)
                child = nullptr;
            if (!child) {
                if (!valid_collection_key(seg))
                    return WALK_BAD_KEY;
                if (mode != WALK_CREATE)
                    return WALK_ABSENT;
                child = add_child(cur, s->item, seg, true);
            }
            break;
        case SCHEMA_ARRAY: {
            int64_t index;
            if (seg.empty() || seg[0] < '0' || seg[0] > '9' || !parse_int(seg, index))
                return WALK_UNKNOWN;
            size_t count = explicit_count(cur);
            if (size_t(index) < count)
                child = cur->children[index];
            else if (size_t(index) == count && mode == WALK_CREATE) {
                if (cur->children.size() > count)  /* a left-over of a refused edit */
                    child = cur->children[count];
                else
                    child = add_child(cur, s->item, seg, true);
            } else
                return WALK_ABSENT;
            break;
        }
        default:
            return WALK_UNKNOWN;
        }
        cur = child;
    }
    if (!path.empty() && path.back() == '.')
        return WALK_UNKNOWN;
    out = cur;
    return WALK_FOUND;
}

config_node *resolve_reference(const config_node *n, std::string_view ref)
{
    if (!n || ref.size() < 2 || ref[0] != '/' || ref.find('.') != std::string_view::npos)
        return nullptr;
    std::string path(ref.substr(1));
    for (char &c : path)
        if (c == '/')
            c = '.';
    config_node *out;
    std::string failed;
    if (walk(&n->h->root, path, WALK_READ, out, failed) != WALK_FOUND || out->implicit)
        return nullptr;
    return out;
}

}  // namespace quill
