#include "frontend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "anvil.h"
#include "maps.h"
#include "quill.h"

namespace {

// One string and one write: the text is fixed, and a script that captures
// standard error should see it whole.
constexpr char usage_text[] =
    "Usage: config <cmd> [arg...]\n"
    "\nIf not started:\n"
    "eval $(config start)\n"
    "config get <path>\n"
    "config set <path> <val>\n"
    "config dump [<path>]\n"
    "config dump-public [<path>]\n"
    "config json [<path>]\n"
    "config map <name>\n"
    "\nIf started:\n"
    "eval $(config stop)\n"
    "config load\n"
    "config load-json\n"
    "config load-baked\n"
    "config update\n"
    "config create <file>\n"
    "config try-create <file>\n"
    "config validate\n"
    "config commit [-f]\n"
    "config cancel\n"
    "config free\n"
    "config get <path>\n"
    "config set <path> <val>\n"
    "config type <path>\n"
    "config exists <path> <key>\n"
    "config option-exists <path> <val>\n"
    "config keys <path>\n"
    "config count <path>\n"
    "config new <path> [<key>]\n"
    "config delete <path>\n"
    "config find <path> [<name> <val>...]\n"
    "config json [<path>]\n"
    "config dump [<path>]\n"
    "config dump-public [<path>]\n";

int usage_error()
{
    print_usage();
    return 1;
}

int direct_get(const char *path)
{
    unique_config config(config_load());
    if (!config)
        return 1;
    unique_text text(config_get(config.get(), path));
    if (text)
        std::printf("%s\n", text.get());
    return config_error_check(config.get()) ? 2 : 0;
}

int direct_set(const char *path, const char *value)
{
    unique_config config(config_update());
    if (!config)
        return 1;
    config_set(config.get(), path, value);
    if (config_error_check(config.get()))
        return 2;
    return config_commit(config.get()) ? 0 : 1;
}

// dump, dump-public and json differ only in the text form they print.
int direct_print(char *(*render)(config_node *), const char *path)
{
    unique_config config(config_load());
    if (!config)
        return 1;
    config_node *node = path ? config_lookup(config.get(), path) : config.get();
    unique_text text(render(node));
    if (text)
        std::printf("%s\n", text.get());
    return config_error_check(config.get()) ? 2 : 0;
}

int direct_map(int argc, char **argv)
{
    std::string_view name = argv[2];
    const config_map *entry = config_maps;
    while (entry->name && name != entry->name)
        ++entry;
    // An unknown generator is not an error: callers run every map they know
    // of, and a build without one of them must not fail their scripts.
    if (!entry->name)
        return 0;
    unique_config config(config_load());
    if (!config)
        return 1;
    return entry->handler(config.get(), argc - 3, argv + 3);
}

// What the shell's completion offers (share/bash-completion): one
// candidate per line, paths from the schema and the stored members, values
// from the schema.  Not in the usage text: people do not type it.
int direct_complete(const char *path, const char *value)
{
    unique_config config(config_load());
    if (!config)
        return 1;
    unique_sl candidates(config_complete(config.get(), path, value));
    for (size_t i = 0, n = sl_len(candidates.get()); i < n; i++)
        std::printf("%s\n", sl_get(candidates.get(), i));
    return 0;
}

}  // namespace

void print_usage(void) { std::fputs(usage_text, stderr); }

namespace {

int dispatch_direct(int argc, char **argv)
{

    std::string_view cmd = argv[1];
    int nargs = argc - 2;
    char *first = nargs >= 1 ? argv[2] : nullptr;

    if (cmd == "get")
        return nargs == 1 ? direct_get(first) : usage_error();
    if (cmd == "set")
        return nargs == 2 ? direct_set(first, argv[3]) : usage_error();
    if (cmd == "dump")
        return nargs <= 1 ? direct_print(config_dump, first) : usage_error();
    if (cmd == "dump-public")
        return nargs <= 1 ? direct_print(config_dump_public, first) : usage_error();
    if (cmd == "json")
        return nargs <= 1 ? direct_print(config_json, first) : usage_error();
    if (cmd == "map")
        return nargs >= 1 ? direct_map(argc, argv) : usage_error();
    if (cmd == "complete")
        return nargs == 1 || nargs == 2 ? direct_complete(first, nargs == 2 ? argv[3] : nullptr)
                                        : usage_error();
    return usage_error();
}

}  // namespace

int run_direct(int argc, char **argv)
{
    log_init("config", 0, 1);
    int status = dispatch_direct(argc, argv);
    // A value that never reached the caller (a full disk, a closed pipe) is
    // a failure, not a success with nothing printed.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "config: cannot write standard output: %s\n", std::strerror(errno));
        if (status == 0)
            status = 1;
    }
    return status;
}
