/* Edits: set, new, new key, delete. */
#include <cstring>

#include "store.h"

namespace quill {

namespace {

const char *const key_rule =
    "key with a forbidden character (letters, digits, '_' and '-' only, at most 64 bytes)";

/* Walks to the node an edit works on; a failed walk is flagged with the
 * path and the reason, and gives null. */
config_node *edit_target(config_node *node, std::string_view path, walk_mode mode)
{
    config_node *target = nullptr;
    std::string_view failed;
    switch (walk(node, path, mode, target, failed)) {
    case WALK_FOUND:
        return target;
    case WALK_UNKNOWN:
        flag_error(node, full_path(node, failed) + ": unknown path");
        break;
    case WALK_BAD_KEY:
        flag_error(node, full_path(node, failed) + ": " + key_rule);
        break;
    case WALK_ABSENT:
        flag_error(node, full_path(node, failed) + ": no such member");
        break;
    }
    return nullptr;
}

/* Drops the members a refused edit created on its way down. */
void prune(config_node *n)
{
    config_node *top = nullptr;
    for (config_node *p = n; p && p->implicit && p->parent; p = p->parent)
        if (p->parent->schema->type != SCHEMA_OBJECT)
            top = p;
    if (!top)
        return;
    detach(top);
    top->h->release(top);
}

const char *container_word(const schema_node *s)
{
    return s->type == SCHEMA_ARRAY        ? "an array"
           : s->type == SCHEMA_COLLECTION ? "a collection"
                                          : "an object";
}

}  // namespace

}  // namespace quill

using namespace quill;

extern "C" {

int config_set(config_node *node, const char *path, const char *value)
{
    if (!node)
        return 0;
    std::string_view p = path ? path : "";
    config_node *target = edit_target(node, p, WALK_CREATE);
    if (!target)
        return 0;
    std::string where = full_path(node, p);
    if (!value) {
        flag_error(node, where + ": no value given");
        prune(target);
        return 0;
    }
    if (is_container(target)) {
        flag_error(node, where + ": is " + container_word(target->schema) + "; set its members");
        prune(target);
        return 0;
    }
    std::string text = value;
    const schema_node *s = target->schema;
    /* A reference may be given by the member's key alone. */
    if (s->type == SCHEMA_REFERENCE && !text.empty() && text[0] != '/' &&
        valid_collection_key(text)) {
        std::string full = "/";
        for (const char *t = s->target; *t; t++)
            full += *t == '.' ? '/' : *t;
        text = full + "/" + text;
    }
    std::string reason;
    if (!value_check(s, text, reason)) {
        flag_error(node, where + ": " + reason);
        prune(target);
        return 0;
    }
    touch(target);
    target->text = node->h->keep(text);
    return 1;
}

char *config_new(config_node *node, const char *path)
{
    if (!node)
        return nullptr;
    std::string_view p = path ? path : "";
    config_node *target = edit_target(node, p, WALK_CREATE);
    if (!target)
        return nullptr;
    const schema_node *s = target->schema;
    std::string key;
    if (s->type == SCHEMA_ARRAY) {
        size_t count = 0;
        for (auto &c : target->children)
            count += !c->implicit;
        while (target->children.size() > count) { /* left-overs of refused edits */
            config_node *left = target->children.back();
            detach(left);
            target->h->release(left);
        }
        key = std::to_string(count);
    } else if (s->type == SCHEMA_COLLECTION) {
        for (unsigned i = 1;; i++) {
            key = std::to_string(i);
            config_node *c = find_child(target, key);
            if (!c)
                break;
            if (c->implicit) {
                prune(c);
                break;
            }
        }
    } else {
        flag_error(node, full_path(node, p) + ": not a collection or array");
        prune(target);
        return nullptr;
    }
    touch(target);
    config_node *child = add_child(target, s->item, key, false);
    if (!schema_is_container(s->item))
        child->text = schema_default(s->item);
    return strdup(key.c_str());
}

int config_new_key(config_node *node, const char *path, const char *key)
{
    if (!node)
        return 0;
    std::string_view p = path ? path : "";
    config_node *target = edit_target(node, p, WALK_CREATE);
    if (!target)
        return 0;
    std::string where = full_path(node, p);
    std::string_view k = key ? key : "";
    const char *problem = nullptr;
    config_node *existing = nullptr;
    if (target->schema->type != SCHEMA_COLLECTION)
        problem = "not a collection";
    else if (!valid_collection_key(k))
        problem = key_rule;
    else if ((existing = find_child(target, k)) && !existing->implicit)
        problem = "already exists";
    if (problem) {
        flag_error(node,
                   where + (target->schema->type == SCHEMA_COLLECTION ? "." + std::string(k) : "") +
                       ": " + problem);
        prune(target);
        return 0;
    }
    if (existing) {
        touch(existing);
        return 1;
    }
    touch(target);
    add_child(target, target->schema->item, std::string(k), false);
    return 1;
}

int config_delete(config_node *node, const char *path)
{
    if (!node)
        return 0;
    std::string_view p = path ? path : "";
    config_node *target = edit_target(node, p, WALK_READ);
    if (!target)
        return 0;
    config_node *parent = target->parent;
    if (!parent) {
        flag_error(node, "the whole configuration cannot be deleted");
        return 0;
    }
    if (target->implicit) /* already at its default */
        return 1;
    save_snapshot(node->h);
    detach(target);
    node->h->release(target);
    if (parent->schema->type == SCHEMA_ARRAY)
        renumber(parent);
    return 1;
}

}  // extern "C"
