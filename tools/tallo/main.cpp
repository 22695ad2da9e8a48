// tallo: reads and writes the runtime state store from the shell.
//
// Exit status: 0 success; 1 the key was not found or the store failed;
// 2 bad usage.
#include "store.h"
#include "tallo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

const char usage_text[] =
    "usage: tallo get KEY\n"
    "       tallo set KEY VALUE\n"
    "       tallo keys [KEY]\n"
    "       tallo delete KEY\n"
    "       tallo dump [KEY]\n"
    "       tallo load [FILE]\n";

int usage()
{
    fputs(usage_text, stderr);
    return 2;
}

int store_error(std::string_view what)
{
    fprintf(stderr, "tallo: %.*s: %s\n", static_cast<int>(what.size()), what.data(),
            tallo::last_error().c_str());
    return 1;
}

// "KEY VALUE" lines, '#' comments and blank lines skipped, applied as one
// edit group so readers see all of them or none.
int load(const char *path)
{
    FILE *f = stdin;
    if (path && strcmp(path, "-") != 0) {
        f = fopen(path, "re");
        if (!f) {
            fprintf(stderr, "tallo: %s: %m\n", path);
            return 1;
        }
    }
    if (tallo_edit_start() != 0)
        return store_error("load");
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    int lineno = 0, status = 0;
    while ((n = getline(&line, &cap, f)) >= 0) {
        ++lineno;
        std::string_view l(line, static_cast<size_t>(n));
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
            l.remove_suffix(1);
        size_t start = l.find_first_not_of(" \t");
        if (start == std::string_view::npos || l[start] == '#')
            continue;
        l.remove_prefix(start);
        size_t sp = l.find_first_of(" \t");
        std::string key(l.substr(0, sp));
        std::string value;
        if (sp != std::string_view::npos) {
            std::string_view v = l.substr(sp);
            v.remove_prefix(std::min(v.size(), v.find_first_not_of(" \t")));
            value = v;
        }
        if (tallo_set_string(key.c_str(), value.c_str()) != 0) {
            fprintf(stderr, "tallo: %s:%d: %s: %s\n", path ? path : "-", lineno, key.c_str(),
                    tallo::last_error().c_str());
            status = 1;
            break;
        }
    }
    free(line);
    if (f != stdin)
        fclose(f);
    if (status != 0) {
        tallo_deinit();  // abandons the edit group
        return status;
    }
    if (tallo_edit_commit() != 0)
        return store_error("load");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    std::string_view cmd = argv[1];
    int nargs = argc - 2;
    char **args = argv + 2;

    if (cmd == "-h" || cmd == "--help") {
        fputs(usage_text, stdout);
        return 0;
    }
    bool known = cmd == "get" || cmd == "set" || cmd == "keys" || cmd == "delete" ||
                 cmd == "dump" || cmd == "load";
    if (!known) {
        fprintf(stderr, "tallo: unknown command \"%s\"\n", argv[1]);
        return usage();
    }
    if ((cmd == "get" && nargs != 1) || (cmd == "set" && nargs != 2) ||
        (cmd == "delete" && nargs != 1) ||
        ((cmd == "keys" || cmd == "dump" || cmd == "load") && nargs > 1))
        return usage();

    if (tallo_init() != 0)
        return store_error("cannot open the runtime store");

    int status = 0;
    if (cmd == "get") {
        unique_text v(tallo_get_string(args[0]));
        if (v) {
            printf("%s\n", v.get());
        } else {
            fprintf(stderr, "tallo: %s: not found\n", args[0]);
            status = 1;
        }
    } else if (cmd == "set") {
        if (tallo_set_string(args[0], args[1]) != 0)
            status = store_error(args[0]);
    } else if (cmd == "keys") {
        unique_sl keys(tallo_keys(nargs ? args[0] : ""));
        for (size_t i = 0; i < sl_len(keys.get()); ++i)
            printf("%s\n", sl_get(keys.get(), i));
    } else if (cmd == "delete") {
        if (tallo_delete(args[0]) != 0)
            status = store_error(args[0]);
    } else if (cmd == "dump") {
        tallo::entry_list entries;
        if (!tallo::dump(nargs ? args[0] : "", entries))
            status = store_error("dump");
        for (const auto &[k, v] : entries)
            printf("%s=%s\n", k.c_str(), v.c_str());
    } else {
        status = load(nargs ? args[0] : nullptr);
    }
    if (fflush(stdout) != 0 && status == 0) {
        perror("tallo: write");
        status = 1;
    }
    tallo_deinit();
    return status;
}
