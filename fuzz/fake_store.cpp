// An in-memory stand-in for the configuration store, so the fuzz target can
// run every server command without touching any file.  It keeps flat
// path/value pairs; every node it hands out is the handle itself, and a
// path that holds nothing reads as absent.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "quill.h"

struct config_node {
    std::map<std::string, std::string> values;
    bool error = false;
    bool locked = false;
};

namespace {

char *dup_text(std::string_view text)
{
    char *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (!out)
        return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

config_t *open_handle(bool locked)
{
    auto handle = std::make_unique<config_node>();
    handle->locked = locked;
    handle->values["system.hostname"] = "router";
    handle->values["network.interface.lan.proto"] = "static";
    return handle.release();
}

bool known(config_node *node, const char *path)
{
    if (!node || !path)
        return false;
    std::string_view p = path;
    for (const auto &[key, value] : node->values)
        if (key == p ||
            (key.size() > p.size() && key.compare(0, p.size(), p) == 0 && key[p.size()] == '.'))
            return true;
    return false;
}

bool acceptable(const char *path)
{
    // Stands for the store's own checks: empty parts are refused.
    std::string_view p = path ? path : "";
    return !p.empty() && p.front() != '.' && p.back() != '.' &&
           p.find("..") == std::string_view::npos;
}

}  // namespace

extern "C" {

config_t *config_load(void) { return open_handle(false); }
config_t *config_update(void) { return open_handle(true); }
config_t *config_load_json(void) { return open_handle(false); }
config_t *config_load_baked(void) { return open_handle(false); }
config_t *config_load_file(const config_file_record *files)
{
    return files && files->config_file && *files->config_file ? open_handle(false) : nullptr;
}
config_t *config_update_file(const config_file_record *files)
{
    return files && files->config_file && *files->config_file ? open_handle(true) : nullptr;
}
config_t *config_create(const char *file) { return file && *file ? open_handle(true) : nullptr; }
config_t *config_try_create(const char *file)
{
    return file && *file ? open_handle(true) : nullptr;
}

static void report_nothing(void *, const char *, const char *) {}

int config_validate(config_t *c, config_report_fn report, void *ctx)
{
    if (!c)
        return 0;
    (report ? report : report_nothing)(ctx, "", "checked");
    return c->values.count("invalid") ? 0 : 1;
}
int config_commit(config_t *c) { return c && c->locked && config_validate(c, nullptr, nullptr); }
int config_commit_force(config_t *c) { return c && c->locked; }
char *config_commit_refusal(config_t *) { return nullptr; }
void config_cancel(config_t *c)
{
    if (c)
        c->values.clear();
}
void config_free(config_t *c) { std::unique_ptr<config_node> owned(c); }
int config_error_check(config_t *c) { return c && c->error; }
void config_error_clear(config_t *c)
{
    if (c)
        c->error = false;
}

char *config_get(config_node *node, const char *path)
{
    if (!node)
        return nullptr;
    auto it = node->values.find(path ? path : "");
    if (it == node->values.end())
        return nullptr;
    return dup_text(it->second);
}
char *config_type_string(config_node *node, const char *path)
{
    return known(node, path) ? dup_text("string") : nullptr;
}
static char *render(config_node *node, bool mask)
{
    if (!node)
        return nullptr;
    std::string out;
    for (const auto &[key, value] : node->values)
        out += key + "=" + (mask ? "***" : value) + "\n";
    return dup_text(out);
}
char *config_json(config_node *node) { return render(node, false); }
char *config_dump(config_node *node) { return render(node, false); }
char *config_dump_public(config_node *node) { return render(node, true); }
// Every value counts as changed, and every known path as a string.
char *config_changes(config_t *c) { return c && !c->values.empty() ? render(c, true) : nullptr; }
char *config_describe(config_node *node, const char *path)
{
    if (!known(node, path)) {
        if (node)
            node->error = true;
        return nullptr;
    }
    return dup_text("type=string\nprivate=false");
}
char *config_new(config_node *node, const char *path)
{
    if (!node || !acceptable(path)) {
        if (node)
            node->error = true;
        return nullptr;
    }
    std::string key = std::to_string(node->values.size());
    node->values[std::string(path) + "." + key] = "";
    return dup_text(key);
}

int config_set(config_node *node, const char *path, const char *value)
{
    if (!node)
        return 0;
    if (!acceptable(path)) {
        node->error = true;
        return 0;
    }
    node->values[path] = value ? value : "";
    return 1;
}
int config_new_key(config_node *node, const char *path, const char *key)
{
    if (!node || !acceptable(path) || !acceptable(key)) {
        if (node)
            node->error = true;
        return 0;
    }
    node->values[std::string(path) + "." + key] = "";
    return 1;
}
int config_delete(config_node *node, const char *path)
{
    if (!known(node, path)) {
        if (node)
            node->error = true;
        return 0;
    }
    std::string prefix = std::string(path) + ".";
    node->values.erase(path);
    for (auto it = node->values.begin(); it != node->values.end();)
        it = it->first.compare(0, prefix.size(), prefix) == 0 ? node->values.erase(it) : ++it;
    return 1;
}

ssize_t config_count(config_node *node, const char *path)
{
    return known(node, path) ? ssize_t(node->values.size()) : -1;
}
sl_list *config_keys(config_node *node)
{
    sl_list *list = nullptr;
    if (node)
        for (const auto &[key, value] : node->values)
            list = sl_append(list, key.c_str());
    return list;
}
sl_list *config_find(config_node *node, const char *path, char *const pairs[])
{
    if (!known(node, path))
        return nullptr;
    sl_list *list = sl_append(nullptr, path);
    for (size_t i = 0; pairs && pairs[i]; ++i)
        list = sl_append(list, pairs[i]);
    return list;
}
schema_node *config_node_schema(config_node *node) { return reinterpret_cast<schema_node *>(node); }
config_node *config_node_parent(config_node *node) { return node; }
sl_list *schema_string_values(schema_node *schema, config_node *)
{
    if (!schema)
        return nullptr;
    return sl_append(sl_append(nullptr, "static"), "dhcp");
}

config_node *config_lookup(config_node *node, const char *path)
{
    return known(node, path) ? node : nullptr;
}
config_node *config_object(config_node *node, const char *path)
{
    return known(node, path) ? node : nullptr;
}
int config_has_key(config_node *node, const char *key) { return known(node, key); }

}  // extern "C"
