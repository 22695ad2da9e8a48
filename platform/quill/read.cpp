/* Typed reads, queries and the text of single values. */
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store.h"

namespace quill {

namespace {

config_node *lookup(config_node *node, const char *path)
{
    config_node *out;
    std::string_view failed;
    if (walk(node, path ? path : "", WALK_READ, out, failed) != WALK_FOUND)
        return nullptr;
    return out;
}

/* As lookup, but a path that the schema does not know is flagged. */
config_node *query(config_node *node, const char *path)
{
    config_node *out;
    std::string_view failed;
    walk_result r = walk(node, path ? path : "", WALK_READ, out, failed);
    if (r == WALK_UNKNOWN)
        flag_error(node, full_path(node, failed) + ": unknown path");
    else if (r == WALK_BAD_KEY)
        flag_error(node, full_path(node, failed) +
                             ": key with a forbidden character (letters, digits, '_' and '-' "
                             "only, at most 64 bytes)");
    return r == WALK_FOUND ? out : nullptr;
}

/* Value reads name their keys in the program's own code, so a key that the
 * schema does not know is a misspelling there; it would read as "" or 0
 * and go unnoticed.  With QUILL_STRICT_READS set in the environment (the
 * test helper sets it) such a read stops the program, naming the path.
 * The variable is looked at only when an unknown key is met: ordinary
 * reads pay nothing for the check. */
bool strict_reads()
{
    static const bool strict = [] {
        const char *v = getenv("QUILL_STRICT_READS");
        return v && *v && strcmp(v, "0") != 0;
    }();
    return strict;
}

config_node *value_lookup(config_node *node, const char *path)
{
    config_node *out;
    std::string_view failed;
    walk_result r = walk(node, path ? path : "", WALK_READ, out, failed);
    if (r == WALK_UNKNOWN && strict_reads()) {
        fprintf(stderr, "quill: read of %s: the schema has no such key\n",
                full_path(node, failed).c_str());
        abort();
    }
    return r == WALK_FOUND ? out : nullptr;
}

const char *leaf_text(config_node *node, const char *path)
{
    config_node *n = value_lookup(node, path);
    return n && !is_container(n) ? scalar_text(n) : nullptr;
}

/* Members that exist, in the store's order. */
config_node *next_explicit(const config_node *parent, size_t from)
{
    for (size_t i = from; i < parent->children.size(); i++)
        if (!parent->children[i]->implicit)
            return parent->children[i];
    return nullptr;
}

/* The explicit elements of an array come first, so the index is the
 * position. */
config_node *element(config_node *array, size_t index)
{
    if (!array || array->schema->type != SCHEMA_ARRAY || index >= array->children.size())
        return nullptr;
    config_node *c = array->children[index];
    return c->implicit ? nullptr : c;
}

}  // namespace

const schema_node *schema_at(const schema_node *s, std::string_view path, bool *private_out)
{
    size_t pos = 0;
    bool hidden = s && (s->flags & SCHEMA_PRIVATE);
    while (s && pos < path.size()) {
        size_t dot = path.find('.', pos);
        if (dot == std::string_view::npos)
            dot = path.size();
        std::string_view seg = path.substr(pos, dot - pos);
        pos = dot + 1;
        if (s->type == SCHEMA_OBJECT)
            s = schema_member(s, seg);
        else if (s->type == SCHEMA_COLLECTION)
            s = valid_collection_key(seg) ? s->item : nullptr;
        else if (s->type == SCHEMA_ARRAY) {
            int64_t i;
            s = !seg.empty() && seg[0] >= '0' && seg[0] <= '9' && parse_int(seg, i) ? s->item
                                                                                    : nullptr;
        } else
            s = nullptr;
        hidden = hidden || (s && (s->flags & SCHEMA_PRIVATE));
    }
    if (!path.empty() && path.back() == '.')
        return nullptr;
    if (private_out)
        *private_out = hidden;
    return s;
}

}  // namespace quill

using namespace quill;

extern "C" {

/* ---- texts ---------------------------------------------------------------- */

char *config_get(config_node *node, const char *path)
{
    config_node *n = query(node, path);
    if (!n)
        return nullptr;
    if (is_container(n))
        return strdup(to_json(n, true).c_str());
    return strdup(scalar_text(n));
}

char *config_type_string(config_node *node, const char *path)
{
    if (!node)
        return nullptr;
    const schema_node *s = schema_at(node->schema, path ? path : "");
    if (!s) {
        flag_error(node, full_path(node, path ? path : "") + ": unknown path");
        return nullptr;
    }
    return strdup(schema_type_name(s->type));
}

/* ---- queries ---------------------------------------------------------------- */

ssize_t config_count(config_node *node, const char *path)
{
    config_node *n = query(node, path);
    if (!n || !is_container(n))
        return -1;
    ssize_t count = 0;
    for (auto &c : n->children)
        count += !c->implicit;
    return count;
}

sl_list *config_keys(config_node *node)
{
    if (!node || !is_container(node))
        return nullptr;
    sl_list *list = sl_new();
    for (auto &c : node->children)
        if (!c->implicit)
            list = sl_append(list, c->key);
    return list;
}

sl_list *config_find(config_node *node, const char *path, char *const pairs[])
{
    config_node *n = query(node, path);
    if (!n || !is_container(n))
        return nullptr;
    sl_list *list = sl_new();
    for (auto &c : n->children) {
        if (c->implicit)
            continue;
        bool match = true;
        for (size_t i = 0; match && pairs && pairs[i] && pairs[i + 1]; i += 2) {
            config_node *v = lookup(c, pairs[i]);
            match = v && !is_container(v) &&
                    (strcmp(scalar_text(v), pairs[i + 1]) == 0 ||
                     value_equal(v->schema, scalar_text(v), pairs[i + 1]));
        }
        if (match)
            list = sl_append(list, c->key);
    }
    return list;
}

schema_node *config_node_schema(config_node *node)
{
    return node ? const_cast<schema_node *>(node->schema) : nullptr;
}

config_node *config_node_parent(config_node *node) { return node ? node->parent : nullptr; }

sl_list *schema_string_values(schema_node *schema, config_node *parent)
{
    if (!schema)
        return nullptr;
    const schema_node *s = schema;
    if (s->type == SCHEMA_ARRAY)
        s = s->item;
    sl_list *list = nullptr;
    switch (s->type) {
    case SCHEMA_ENUM:
        list = sl_new();
        for (uint16_t i = 0; i < s->nvalues; i++)
            list = sl_append(list, s->values[i]);
        return list;
    case SCHEMA_BOOLEAN:
        list = sl_append(sl_new(), "true");
        return sl_append(list, "false");
    case SCHEMA_REFERENCE: {
        /* The members of the target collection that exist now. */
        if (!parent)
            return nullptr;
        config_node *target = lookup(&parent->h->root, s->target);
        if (!target)
            return nullptr;
        std::string prefix = "/";
        for (const char *t = s->target; *t; t++)
            prefix += *t == '.' ? '/' : *t;
        list = sl_new();
        for (auto &c : target->children)
            if (!c->implicit)
                list = sl_append(list, (prefix + "/" + c->key).c_str());
        return list;
    }
    default:
        return nullptr;
    }
}

/* ---- typed reads ------------------------------------------------------------ */

config_node *config_lookup(config_node *node, const char *path) { return lookup(node, path); }

config_node *config_object(config_node *node, const char *path)
{
    config_node *n = lookup(node, path);
    return n && is_container(n) ? n : nullptr;
}

config_node *config_object_first(config_node *object)
{
    return object && is_container(object) ? next_explicit(object, 0) : nullptr;
}

config_node *config_object_next(config_node *member)
{
    if (!member || !member->parent)
        return nullptr;
    return next_explicit(member->parent, position(member) + 1);
}

int config_has_key(config_node *node, const char *key)
{
    if (!node || !key)
        return 0;
    if (node->schema->type == SCHEMA_OBJECT)
        return schema_member(node->schema, key) ? 1 : 0;
    if (node->schema->type == SCHEMA_COLLECTION || node->schema->type == SCHEMA_ARRAY) {
        config_node *c = find_child(node, key);
        return c && !c->implicit ? 1 : 0;
    }
    return 0;
}

int config_object_has_key(config_node *node, const char *path, const char *key)
{
    return config_has_key(config_object(node, path), key);
}

const char *config_key(config_node *node) { return node ? node->key : nullptr; }

char *config_path(config_node *node) { return node ? strdup(node_path(node).c_str()) : nullptr; }

config_node *config_node_get_root(config_node *node) { return node ? &node->h->root : nullptr; }

int config_node_id(config_node *node)
{
    if (!node)
        return -1;
    if (!node->parent)
        return 0;
    if (node->parent->schema->type == SCHEMA_ARRAY)
        return int(position(node));
    int id = 0;
    for (auto &c : node->parent->children) {
        if (c == node)
            return id;
        id += !c->implicit;
    }
    return -1;
}

const char *config_get_string(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    return t ? t : "";
}

int config_get_bool(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    bool b;
    return t && parse_bool(t, b) && b ? 1 : 0;
}

int32_t config_get_int(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    if (!t)
        return 0;
    int64_t v;
    double d;
    if (!parse_int(t, v)) {
        if (!parse_number(t, d))
            return 0;
        v = d < INT32_MIN ? INT32_MIN : d > INT32_MAX ? INT32_MAX : int64_t(d);
    }
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : int32_t(v);
}

double config_get_number(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    double d;
    return t && parse_number(t, d) ? d : 0.0;
}

int config_get_duration(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    int64_t ms;
    return t && parse_duration_ms(t, ms) ? int(ms / 1000) : 0;
}

int config_get_duration_ms(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    int64_t ms;
    if (!t || !parse_duration_ms(t, ms))
        return 0;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

config_node *config_get_ref(config_node *node, const char *path)
{
    const char *t = leaf_text(node, path);
    return t ? resolve_reference(node, t) : nullptr;
}

sl_list *config_get_string_list(config_node *node, const char *path)
{
    config_node *n = value_lookup(node, path);
    if (!n)
        return nullptr;
    if (!is_container(n)) {
        const char *t = scalar_text(n);
        return *t ? sl_append(nullptr, t) : nullptr;
    }
    if (n->schema->type != SCHEMA_ARRAY)
        return nullptr;
    sl_list *list = nullptr;
    for (auto &c : n->children)
        if (!c->implicit && !is_container(c))
            list = sl_append(list, c->text);
    return list;
}

config_node *config_array(config_node *node, const char *path)
{
    config_node *n = value_lookup(node, path);
    return n && n->schema->type == SCHEMA_ARRAY ? n : nullptr;
}

size_t config_array_count(config_node *array)
{
    if (!array || array->schema->type != SCHEMA_ARRAY)
        return 0;
    size_t count = 0;
    for (auto &c : array->children)
        count += !c->implicit;
    return count;
}

config_node *config_array_first(config_node *array)
{
    return array && array->schema->type == SCHEMA_ARRAY ? next_explicit(array, 0) : nullptr;
}

config_node *config_array_next(config_node *element) { return config_object_next(element); }

const char *config_array_get_string(config_node *array, size_t index)
{
    config_node *e = element(array, index);
    return e && !is_container(e) ? e->text : nullptr;
}

config_node *config_array_get_ref(config_node *array, size_t index)
{
    config_node *e = element(array, index);
    return e && !is_container(e) ? resolve_reference(e, e->text) : nullptr;
}

config_node *config_array_object(config_node *array, size_t index)
{
    config_node *e = element(array, index);
    return e && is_container(e) ? e : nullptr;
}

char *config_base64_encode(const void *data, size_t length)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char *in = static_cast<const unsigned char *>(data);
    if (!in && length)
        return nullptr;
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    for (size_t i = 0; i < length; i += 3) {
        unsigned v = unsigned(in[i]) << 16;
        if (i + 1 < length)
            v |= unsigned(in[i + 1]) << 8;
        if (i + 2 < length)
            v |= in[i + 2];
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < length ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < length ? digits[v & 63] : '=';
    }
    return strdup(out.c_str());
}

}  // extern "C"
