#include "commands.h"

#include <cstring>
#include <string>
#include <string_view>

#include "anvil.h"
#include "quill.h"

namespace {

// The one working copy the server keeps between requests, or none.
config_t *working_copy = nullptr;

// "ident" keeps the name here for the log: 42 characters and a terminator.
char log_ident[43];

constexpr int done = 0;
constexpr int refused = -1;

// Store predicates answer 1 for true and 0 for false.
int truth(int store_result) { return store_result ? done : refused; }

struct request {
    int argc;
    char **argv;
    unique_text text;
};

using command_fn = int (*)(request &);

struct command {
    std::string_view name;
    command_fn run;
};

// ---- open group: create the working copy --------------------------------

int open_result(config_t *handle)
{
    working_copy = handle;
    return handle ? done : refused;
}

config_file_record file_record(char **argv)
{
    config_file_record files{};
    files.config_file = argv[0];
    files.schema_file = argv[1];
    files.baked_file = argv[2];
    return files;
}

int cmd_load_json(request &) { return open_result(config_load_json()); }
int cmd_load_baked(request &) { return open_result(config_load_baked()); }

int cmd_load(request &r)
{
    if (r.argc == 0)
        return open_result(config_load());
    if (r.argc == 3) {
        config_file_record files = file_record(r.argv);
        return open_result(config_load_file(&files));
    }
    return refused;
}

int cmd_update(request &r)
{
    if (r.argc == 0)
        return open_result(config_update());
    if (r.argc == 3) {
        config_file_record files = file_record(r.argv);
        return open_result(config_update_file(&files));
    }
    return refused;
}

int cmd_create(request &r) { return r.argc == 1 ? open_result(config_create(r.argv[0])) : refused; }

int cmd_try_create(request &r)
{
    return r.argc == 1 ? open_result(config_try_create(r.argv[0])) : refused;
}

// ---- commands on the working copy ----------------------------------------

int cmd_get(request &r)
{
    if (r.argc != 1)
        return refused;
    r.text.reset(config_get(working_copy, r.argv[0]));
    return done;
}

int cmd_set(request &r)
{
    if (r.argc != 2)
        return refused;
    // A rejected value is flagged on the working copy and reported as 2.
    config_set(working_copy, r.argv[0], r.argv[1]);
    return done;
}

int cmd_type(request &r)
{
    if (r.argc != 1)
        return refused;
    r.text.reset(config_type_string(working_copy, r.argv[0]));
    return done;
}

int cmd_count(request &r)
{
    if (r.argc != 1)
        return refused;
    ssize_t count = config_count(working_copy, r.argv[0]);
    char *text = nullptr;
    xasprintf(&text, "%zd", count);
    r.text.reset(text);
    return done;
}

int cmd_exists(request &r)
{
    if (r.argc == 1)
        return truth(config_has_key(working_copy, r.argv[0]));
    if (r.argc == 2) {
        config_node *object = config_object(working_copy, r.argv[0]);
        if (!object)
            return refused;
        return truth(config_has_key(object, r.argv[1]));
    }
    return refused;
}

int cmd_option_exists(request &r)
{
    if (r.argc != 2)
        return refused;
    config_node *node = config_lookup(working_copy, r.argv[0]);
    if (!node)
        return refused;
    schema_node *schema = config_node_schema(node);
    config_node *parent = config_node_parent(node);
    unique_sl values(schema_string_values(schema, parent));
    if (!values)
        return refused;
    return truth(sl_find(values.get(), r.argv[1]));
}

int cmd_keys(request &r)
{
    if (r.argc != 1)
        return refused;
    config_node *object = config_object(working_copy, r.argv[0]);
    if (!object)
        return refused;
    unique_sl keys(config_keys(object));
    r.text.reset(sl_join(keys.get(), " "));
    return done;
}

int cmd_new(request &r)
{
    if (r.argc == 1) {
        r.text.reset(config_new(working_copy, r.argv[0]));
        return done;
    }
    if (r.argc == 2) {
        config_new_key(working_copy, r.argv[0], r.argv[1]);
        return done;
    }
    return refused;
}

int cmd_delete(request &r)
{
    if (r.argc != 1)
        return refused;
    config_delete(working_copy, r.argv[0]);
    return done;
}

int cmd_find(request &r)
{
    // A path, then name/value pairs.
    if (r.argc % 2 == 0)
        return refused;
    unique_sl matches(config_find(working_copy, r.argv[0], r.argv + 1));
    r.text.reset(sl_join(matches.get(), " "));
    return done;
}

// json, dump and dump-public: the whole copy or the node at a path.
int print_node(request &r, char *(*render)(config_node *))
{
    if (r.argc > 1)
        return refused;
    config_node *node = r.argc == 1 ? config_lookup(working_copy, r.argv[0]) : working_copy;
    r.text.reset(render(node));
    return done;
}

int cmd_json(request &r) { return print_node(r, config_json); }
int cmd_dump(request &r) { return print_node(r, config_dump); }
int cmd_dump_public(request &r) { return print_node(r, config_dump_public); }

void ignore_report(void *, const char *, const char *) {}

int cmd_validate(request &r)
{
    if (r.argc != 0)
        return refused;
    return truth(config_validate(working_copy, ignore_report, nullptr));
}

// Each problem as "path: reason", one line apiece (keys hold no ':', so
// the first ": " ends the path).
void collect_problem(void *lines, const char *path, const char *reason)
{
    auto &out = *static_cast<std::string *>(lines);
    out.append(path).append(": ").append(reason).append("\n");
}

int cmd_problems(request &r)
{
    if (r.argc != 0)
        return refused;
    std::string lines;
    int valid = config_validate(working_copy, collect_problem, &lines);
    // A valid copy may still have had its commit refused: then that is why.
    unique_text refusal(config_commit_refusal(working_copy));
    if (refusal) {
        lines.append(refusal.get()).append("\n");
        valid = 0;
    }
    if (!lines.empty()) {
        lines.pop_back();  // like dump: the peer ends the last line
        r.text.reset(strdup(lines.c_str()));
    }
    return truth(valid);
}

int cmd_changes(request &r)
{
    if (r.argc != 0)
        return refused;
    r.text.reset(config_changes(working_copy));
    return done;
}

int cmd_describe(request &r)
{
    if (r.argc != 1)
        return refused;
    r.text.reset(config_describe(working_copy, r.argv[0]));
    return r.text ? done : refused;
}

int cmd_commit(request &r)
{
    if (r.argc == 0)
        return truth(config_commit(working_copy));
    if (r.argc == 1 && std::string_view(r.argv[0]) == "-f")
        return truth(config_commit_force(working_copy));
    return refused;
}

int cmd_cancel(request &r)
{
    if (r.argc != 0)
        return refused;
    config_cancel(working_copy);
    return done;
}

int cmd_free(request &r)
{
    if (r.argc != 0)
        return refused;
    config_free(working_copy);
    working_copy = nullptr;
    return done;
}

// ---- needs no working copy ------------------------------------------------

int cmd_ident(request &r)
{
    if (r.argc != 1)
        return refused;
    // strncpy zero-fills the rest, so the identity stays terminated.
    std::strncpy(log_ident, r.argv[0], sizeof log_ident - 1);
    log_init(log_ident, 0, 1);
    return done;
}

constexpr command open_group[] = {
    {"load", cmd_load},     {"load-json", cmd_load_json}, {"load-baked", cmd_load_baked},
    {"update", cmd_update}, {"create", cmd_create},       {"try-create", cmd_try_create},
};

constexpr command copy_commands[] = {
    {"get", cmd_get},
    {"set", cmd_set},
    {"type", cmd_type},
    {"count", cmd_count},
    {"exists", cmd_exists},
    {"option-exists", cmd_option_exists},
    {"keys", cmd_keys},
    {"new", cmd_new},
    {"delete", cmd_delete},
    {"find", cmd_find},
    {"json", cmd_json},
    {"dump", cmd_dump},
    {"dump-public", cmd_dump_public},
    {"validate", cmd_validate},
    {"commit", cmd_commit},
    {"cancel", cmd_cancel},
    {"free", cmd_free},
    {"problems", cmd_problems},
    {"changes", cmd_changes},
    {"describe", cmd_describe},
};

template <size_t N>
command_fn find_command(const command (&table)[N], std::string_view name)
{
    for (const command &c : table)
        if (c.name == name)
            return c.run;
    return nullptr;
}

int dispatch(std::string_view name, request &r)
{
    if (name == "ident")
        return cmd_ident(r);
    if (command_fn run = find_command(open_group, name))
        return working_copy ? refused : run(r);
    if (command_fn run = find_command(copy_commands, name))
        return working_copy ? run(r) : refused;
    return refused;
}

}  // namespace

int server_command(const char *cmd, int argc, char **argv, char **text)
{
    request r{argc, argv, nullptr};
    int result = dispatch(cmd, r);
    // Whatever the command did, a flagged store error is reported once and
    // cleared, so the next request starts clean.
    if (working_copy && config_error_check(working_copy)) {
        config_error_clear(working_copy);
        result = 2;
    }
    *text = r.text.release();
    return result;
}

void server_reset(void)
{
    if (working_copy)
        config_free(working_copy);
    working_copy = nullptr;
}
