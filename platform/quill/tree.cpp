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

config_node *handle::make_node_slowly()
{
    if (!free_nodes.empty()) {
        config_node *n = free_nodes.back();
        free_nodes.pop_back();
        return n;
    }
    constexpr size_t block = 128;
    arena.push_back(std::make_unique<config_node[]>(block));
    arena_block = arena.back().get();
    arena_room = block;
    arena_used = 0;
    return &arena_block[arena_used++];
}

config_node **handle::make_slots_slowly(uint32_t count)
{
    constexpr size_t block = 1024;
    static_assert(block > large_slots_from);
    if (count >= large_slots_from) {
        large_slots.push_back(std::make_unique_for_overwrite<config_node *[]>(count));
        return large_slots.back().get();
    }
    slot_blocks.push_back(std::make_unique_for_overwrite<config_node *[]>(block));
    slot_block = slot_blocks.back().get();
    slots_used = count;
    slots_room = block;
    return slot_block;
}

/* A small array stays in its shared block until the copy is freed; a
 * large one is given back at once (the newest is the likeliest). */
void handle::drop_slots(config_node **items, uint32_t room)
{
    if (!items || room < large_slots_from)
        return;
    for (size_t i = large_slots.size(); i-- > 0;)
        if (large_slots[i].get() == items) {
            large_slots.erase(large_slots.begin() + std::ptrdiff_t(i));
            return;
        }
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
            if (text_blocks.size() > 1) /* keep filling the shared block */
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

namespace {

/* ---- member index of large collections ------------------------------------
 * Below this many members a scan is as quick as hashing the key. */
constexpr uint32_t index_from = 16;

/* Four bytes at a time where the key has them (copied out: no unaligned
 * loads); only ever compared within one process. */
uint32_t key_hash(std::string_view key)
{
    uint32_t h = 2166136261u ^ uint32_t(key.size());
    size_t i = 0;
    for (; key.size() - i >= 4; i += 4) {
        uint32_t w;
        memcpy(&w, key.data() + i, 4);
        h = (h ^ w) * 16777619u;
        h ^= h >> 15;
    }
    for (; i < key.size(); i++)
        h = (h ^ (unsigned char)key[i]) * 16777619u;
    return h ^ (h >> 16);
}

void index_put(member_index &ix, config_node *n, uint32_t hash)
{
    uint32_t i = hash & ix.mask;
    while (ix.slots[i].node)
        i = (i + 1) & ix.mask;
    ix.slots[i] = {n, hash};
    ix.used++;
}

void index_insert(member_index &ix, config_node *n) { index_put(ix, n, key_hash(n->key)); }

/* (Re)fills the table from the owner's children, at most half full.
 * Gives the first child whose key an earlier one has, or null. */
config_node *index_build(member_index &ix)
{
    uint32_t count = ix.owner->children.count;
    uint32_t size = 64;
    while (size / 2 < count + 1)
        size *= 2;
    ix.slots = std::make_unique<member_index::slot[]>(size);
    ix.mask = size - 1;
    ix.used = 0;
    config_node *repeated = nullptr;
    for (config_node *c : ix.owner->children) {
        uint32_t hash = key_hash(c->key);
        if (!repeated)
            for (uint32_t i = hash & ix.mask; ix.slots[i].node; i = (i + 1) & ix.mask)
                if (ix.slots[i].hash == hash && strcmp(ix.slots[i].node->key, c->key) == 0) {
                    repeated = c;
                    break;
                }
        index_put(ix, c, hash);
    }
    return repeated;
}

/* Linear probing allows a true removal: the entries after the hole that
 * would no longer be reached move into it. */
void index_remove(member_index &ix, const config_node *n)
{
    uint32_t i = key_hash(n->key) & ix.mask;
    while (ix.slots[i].node && ix.slots[i].node != n)
        i = (i + 1) & ix.mask;
    if (!ix.slots[i].node)
        return;
    ix.slots[i] = {};
    ix.used--;
    for (uint32_t j = (i + 1) & ix.mask; ix.slots[j].node; j = (j + 1) & ix.mask) {
        uint32_t home = ix.slots[j].hash & ix.mask;
        /* Does home lie cyclically in (i, j]?  Then the entry stays. */
        bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (!stays) {
            ix.slots[i] = ix.slots[j];
            ix.slots[j] = {};
            i = j;
        }
    }
}

member_index *index_of(handle *h, const config_node *owner)
{
    for (member_index &ix : h->indexes)
        if (ix.owner == owner)
            return &ix;
    return nullptr;
}

void drop_index(handle *h, const config_node *owner)
{
    std::erase_if(h->indexes, [owner](const member_index &ix) { return ix.owner == owner; });
}

member_index &index_for(const config_node *n)
{
    member_index *ix = index_of(n->h, n);
    if (!ix) {
        ix = &n->h->indexes.emplace_back();
        ix->owner = n;
        index_build(*ix);
    }
    return *ix;
}

config_node *indexed_child(const config_node *n, std::string_view key)
{
    member_index *ix = &index_for(n);
    uint32_t hash = key_hash(key);
    for (uint32_t i = hash & ix->mask; ix->slots[i].node; i = (i + 1) & ix->mask)
        if (ix->slots[i].hash == hash && same_key(ix->slots[i].node->key, key))
            return ix->slots[i].node;
    return nullptr;
}

}  // namespace

config_node *index_collection(const config_node *collection)
{
    if (collection->children.count <= index_from || collection->schema->type != SCHEMA_COLLECTION)
        return nullptr;
    drop_index(collection->h, collection);
    member_index &ix = collection->h->indexes.emplace_back();
    ix.owner = collection;
    return index_build(ix);
}

void handle::release(config_node *subtree)
{
    for (config_node *c : subtree->children)
        release(c);
    if (!indexes.empty())
        drop_index(this, subtree);
    drop_slots(subtree->children.items, subtree->children.room);
    subtree->children = {};
    subtree->key = "";
    subtree->text = "";
    subtree->parent = nullptr;
    subtree->pos = 0;
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

std::string full_path(const config_node *n, std::string_view path)
{
    std::string p = node_path(n);
    if (!path.empty()) {
        if (!p.empty())
            p += '.';
        p += path;
    }
    return p;
}

config_node *find_child(const config_node *n, std::string_view key)
{
    if (n->children.count > index_from && n->schema->type == SCHEMA_COLLECTION)
        return indexed_child(n, key);
    for (config_node *c : n->children)
        if (same_key(c->key, key))
            return c;
    return nullptr;
}

size_t position(const config_node *n)
{
    const child_list &list = n->parent->children;
    if (n->pos < list.count && list.items[n->pos] == n)
        return n->pos;
    for (size_t i = 0; i < list.count; i++)
        if (list.items[i] == n)
            return i;
    return list.count;
}

void grow(handle *h, child_list &list, const config_node *parent)
{
    /* Most containers hold a few members: start with room for four, or
     * for all members of a small object. */
    uint32_t room = list.room * 2;
    if (!room)
        room = parent && parent->schema->type == SCHEMA_OBJECT && parent->schema->nchildren <= 8
                   ? parent->schema->nchildren
                   : 4;
    config_node **items = h->make_slots(room);
    if (list.count)
        memcpy(items, list.items, list.count * sizeof *items);
    h->drop_slots(list.items, list.room);
    list.items = items;
    list.room = room;
}

void indexed_attach(handle *h, const config_node *parent, config_node *child)
{
    if (member_index *ix = index_of(h, parent)) {
        if ((ix->used + 1) * 2 > ix->mask + 1)
            index_build(*ix);
        else
            index_insert(*ix, child);
    }
}

void detach(config_node *n)
{
    config_node *parent = n->parent;
    child_list &list = parent->children;
    size_t at = position(n);
    if (at == list.count)
        return;
    memmove(list.items + at, list.items + at + 1, (list.count - at - 1) * sizeof *list.items);
    list.count--;
    for (size_t i = at; i < list.count; i++)
        list.items[i]->pos = uint32_t(i);
    if (!n->h->indexes.empty())
        if (member_index *ix = index_of(n->h, parent))
            index_remove(*ix, n);
}

const char *scalar_text(const config_node *n)
{
    return n->implicit ? schema_default(n->schema) : n->text;
}

namespace {

config_node *clone(const config_node *n, config_node *parent)
{
    handle *h = n->h;
    config_node *c = h->make_node();
    c->parent = parent;
    c->h = h;
    c->schema = n->schema;
    c->key = n->key;
    c->text = n->text;
    c->implicit = n->implicit;
    if (uint32_t count = n->children.count) {
        c->children.items = h->make_slots(count);
        c->children.room = count;
    }
    for (config_node *child : n->children)
        attach(h, c->children, c, clone(child, c));
    return c;
}

/* The explicit elements of an array come first. */
size_t explicit_count(const config_node *array)
{
    size_t count = array->children.size();
    while (count > 0 && array->children[count - 1]->implicit)
        count--;
    return count;
}

}  // namespace

void save_snapshot(handle *h)
{
    if (h->have_snapshot)
        return;
    h->snapshot = {};
    for (config_node *c : h->root.children)
        attach(h, h->snapshot, nullptr, clone(c, &h->root));
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
                 std::string_view &failed)
{
    out = nullptr;
    if (!n)
        return WALK_ABSENT;
    config_node *cur = n;
    size_t pos = 0, dot = 0;
    /* The prefix up to the segment that could not be followed. */
    auto stop = [&](walk_result r) {
        failed = std::string_view(path.data(), dot);
        return r;
    };
    while (pos < path.size()) {
        dot = path.find('.', pos);
        if (dot == std::string_view::npos)
            dot = path.size();
        std::string_view seg(path.data() + pos, dot - pos);
        pos = dot + 1;
        if (dot + 1 == path.size()) /* trailing dot */
            return stop(WALK_UNKNOWN);
        const schema_node *s = cur->schema;
        config_node *child = nullptr;
        switch (s->type) {
        case SCHEMA_OBJECT: {
            const schema_node *ms = schema_member(s, seg);
            if (!ms)
                return stop(WALK_UNKNOWN);
            child = find_member(cur, ms);
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
                    return stop(WALK_BAD_KEY);
                if (mode != WALK_CREATE)
                    return stop(WALK_ABSENT);
                child = add_child(cur, s->item, seg, true);
            }
            break;
        case SCHEMA_ARRAY: {
            int64_t index;
            if (seg.empty() || seg[0] < '0' || seg[0] > '9' || !parse_int(seg, index))
                return stop(WALK_UNKNOWN);
            size_t count = explicit_count(cur);
            if (size_t(index) < count)
                child = cur->children[index];
            else if (size_t(index) == count && mode == WALK_CREATE) {
                if (cur->children.size() > count) /* a left-over of a refused edit */
                    child = cur->children[count];
                else
                    child = add_child(cur, s->item, seg, true);
            } else
                return stop(WALK_ABSENT);
            break;
        }
        default:
            return stop(WALK_UNKNOWN);
        }
        cur = child;
    }
    if (!path.empty() && path.back() == '.')
        return stop(WALK_UNKNOWN);
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
    std::string_view failed;
    if (walk(&n->h->root, path, WALK_READ, out, failed) != WALK_FOUND || out->implicit)
        return nullptr;
    return out;
}

}  // namespace quill
