/* Queries over a loaded copy for sessions and the shell: the difference
 * against the copy as it was kept, the schema's facts of one path, and the
 * words that may follow a partial path or value.  No file I/O here; values
 * of private keys stay masked in every answer. */
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "store.h"

namespace quill {

namespace {

const char masked_value[] = "***";

std::string child_path(const std::string &path, const config_node *child)
{
    return path.empty() ? std::string(child->key) : path + "." + child->key;
}

/* The children that the file form holds, in the store's order. */
std::vector<const config_node *> written_children(const child_list *list)
{
    std::vector<const config_node *> out;
    if (list)
        for (const config_node *c : *list)
            if (written(c))
                out.push_back(c);
    return out;
}

void diff(std::string &out, const config_node *before, const config_node *after,
          const std::string &path, bool masked);

/* Pairs the children of one container before and after by key, then lists
 * them in the order they have now, each removal where it stood. */
void diff_children(std::string &out, const child_list *before_list, const child_list *after_list,
                   const std::string &path, bool masked, bool members)
{
    std::vector<const config_node *> before = written_children(before_list);
    std::vector<const config_node *> after = written_children(after_list);
    constexpr size_t none = SIZE_MAX;
    std::vector<size_t> match(after.size(), none);
    std::vector<bool> kept(before.size(), false);
    /* Members mostly keep their place: try the next one first, and fall
     * back to a table for a large collection whose order changed. */
    std::unordered_map<std::string_view, size_t> by_key;
    size_t hint = 0;
    for (size_t i = 0; i < after.size(); i++) {
        size_t j = none;
        if (hint < before.size() && std::strcmp(before[hint]->key, after[i]->key) == 0)
            j = hint;
        else {
            if (by_key.empty())
                for (size_t k = 0; k < before.size(); k++)
                    by_key.emplace(before[k]->key, k);
            auto found = by_key.find(after[i]->key);
            if (found != by_key.end())
                j = found->second;
        }
        if (j != none && !kept[j]) {
            match[i] = j;
            kept[j] = true;
            hint = j + 1;
        }
    }

    auto removed = [&](size_t j) {
        std::string p = child_path(path, before[j]);
        if (members)
            out += "-" + p + "\n";
        else
            diff(out, before[j], nullptr, p, masked);
    };
    size_t next = 0;  // the first earlier child not yet passed
    for (size_t i = 0; i < after.size(); i++) {
        std::string p = child_path(path, after[i]);
        if (match[i] == none) {
            if (members)
                out += "+" + p + "\n";
            diff(out, nullptr, after[i], p, masked);
            continue;
        }
        for (; next < match[i]; next++)
            if (!kept[next])
                removed(next);
        if (next == match[i])
            next++;
        diff(out, before[match[i]], after[i], p, masked);
    }
    for (; next < before.size(); next++)
        if (!kept[next])
            removed(next);
}

/* One of before and after may be null: a node that is new or gone. */
void diff(std::string &out, const config_node *before, const config_node *after,
          const std::string &path, bool masked)
{
    const config_node *n = after ? after : before;
    masked = masked || (n->schema->flags & SCHEMA_PRIVATE);
    if (!is_container(n)) {
        if (!after)
            out += "-" + path + "\n";
        else if (!before || !value_equal(n->schema, scalar_text(before), scalar_text(after)))
            dump_line(out, path, masked ? masked_value : scalar_text(after));
        return;
    }
    diff_children(out, before ? &before->children : nullptr, after ? &after->children : nullptr,
                  path, masked, n->schema->type != SCHEMA_OBJECT);
}

/* Limits as written in the schema: whole numbers without an exponent. */
std::string number_text(double v)
{
    char buf[40];
    if (std::fabs(v) < 1e15 && v == std::trunc(v))
        std::snprintf(buf, sizeof buf, "%" PRId64, static_cast<int64_t>(v));
    else
        std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string joined_keys(const schema_node *object)
{
    std::string out;
    for (uint16_t i = 0; i < object->nchildren; i++) {
        if (i)
            out += ' ';
        out += object->children[i].key;
    }
    return out;
}

char *new_text(std::string &text)
{
    if (text.empty())
        return nullptr;
    text.pop_back();  // the caller ends the last line
    return strdup(text.c_str());
}

/* Keys of the members that exist in the container at path below node. */
sl_list *existing_keys(sl_list *list, config_node *node, std::string_view path,
                       std::string_view stem, const std::string &prefix, const char *suffix)
{
    config_node *container = nullptr;
    std::string_view failed;
    if (walk(node, path, WALK_READ, container, failed) != WALK_FOUND || !is_container(container))
        return list;
    for (const config_node *c : container->children)
        if (!c->implicit && std::string_view(c->key).starts_with(stem))
            list = sl_append(list, (prefix + c->key + suffix).c_str());
    return list;
}

}  // namespace

}  // namespace quill

using namespace quill;

extern "C" {

char *config_changes(config_t *c)
{
    if (!c || !c->h || !c->h->have_snapshot)
        return nullptr;
    handle *h = c->h;
    std::string out;
    diff_children(out, &h->snapshot, &h->root.children, "", false, false);
    return new_text(out);
}

char *config_describe(config_node *node, const char *path)
{
    if (!node)
        return nullptr;
    std::string_view p = path ? path : "";
    bool hidden = false;
    const schema_node *s = schema_at(node->schema, p, &hidden);
    if (!s) {
        flag_error(node, full_path(node, p) + ": unknown path");
        return nullptr;
    }
    hidden = hidden || is_private(node);
    std::string out;
    dump_line(out, "type", schema_type_name(s->type));
    dump_line(out, "private", hidden ? "true" : "false");
    if (!schema_is_container(s) && s->def)
        dump_line(out, "default", hidden && *s->def ? masked_value : s->def);
    if (s->flags & SCHEMA_HAS_MIN)
        dump_line(out, "min", number_text(s->min));
    if (s->flags & SCHEMA_HAS_MAX)
        dump_line(out, "max", number_text(s->max));
    if (s->type == SCHEMA_ENUM) {
        std::string values;
        for (uint16_t i = 0; i < s->nvalues; i++)
            values += (i ? " " : "") + std::string(s->values[i]);
        dump_line(out, "values", values);
    }
    if (s->type == SCHEMA_REFERENCE)
        dump_line(out, "target", s->target);
    if (s->type == SCHEMA_OBJECT)
        dump_line(out, "members", joined_keys(s));
    if (s->type == SCHEMA_COLLECTION || s->type == SCHEMA_ARRAY)
        dump_line(out, "item", schema_type_name(s->item->type));
    return new_text(out);
}

sl_list *config_complete(config_node *node, const char *path, const char *value)
{
    if (!node)
        return nullptr;
    std::string_view p = path ? path : "";
    sl_list *list = sl_new();
    if (value) {
        /* Values come from the schema, and a reference's from the keys of
         * its target collection: never from what a leaf holds. */
        const schema_node *s = schema_at(node->schema, p);
        if (!s)
            return list;
        if (s->type == SCHEMA_ENUM) {
            for (uint16_t i = 0; i < s->nvalues; i++)
                if (std::string_view(s->values[i]).starts_with(value))
                    list = sl_append(list, s->values[i]);
        } else if (s->type == SCHEMA_BOOLEAN) {
            for (const char *b : {"true", "false"})
                if (std::string_view(b).starts_with(value))
                    list = sl_append(list, b);
        } else if (s->type == SCHEMA_REFERENCE) {
            list = existing_keys(list, &node->h->root, s->target, value, "", "");
        }
        return list;
    }
    size_t dot = p.rfind('.');
    std::string_view parent = dot == std::string_view::npos ? "" : p.substr(0, dot);
    std::string_view stem = dot == std::string_view::npos ? p : p.substr(dot + 1);
    std::string prefix(p.substr(0, p.size() - stem.size()));
    const schema_node *s = schema_at(node->schema, parent);
    if (!s)
        return list;
    if (s->type == SCHEMA_OBJECT) {
        for (uint16_t i = 0; i < s->nchildren; i++) {
            const schema_node *m = &s->children[i];
            if (std::string_view(m->key).starts_with(stem))
                list = sl_append(list,
                                 (prefix + m->key + (schema_is_container(m) ? "." : "")).c_str());
        }
    } else if (schema_is_container(s)) {
        list = existing_keys(list, node, parent, stem, prefix,
                             schema_is_container(s->item) ? "." : "");
    }
    return list;
}

}  // extern "C"
