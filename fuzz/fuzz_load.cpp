// Fuzz target: arbitrary bytes as the configuration file, read with the
// schema built into the program.  A copy that loads is read every way a
// command reads it (text forms, validation, typed reads of every node);
// then the input, taken as a text, is set on leaves of each kind.  Whatever
// is committed, by a load or by the sets, must load again and give the same
// JSON: a configuration that the store wrote but cannot read would lock every
// later command out.  The files live in a scratch directory of this process.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quill.h"

namespace {

[[noreturn]] void broken(const char *what, const std::string &detail = "")
{
    fprintf(stderr, "fuzz_load: %s\n%s\n", what, detail.c_str());
    abort();
}

std::string scratch_dir;

void remove_scratch()
{
    for (const char *name : {"/config.json", "/config.lock"})
        unlink((scratch_dir + name).c_str());
    rmdir(scratch_dir.c_str());
}

/* Once per process: a directory on a memory file system where there is one
 * (every round commits with fsync), and a silent log. */
const std::string &config_file()
{
    static const std::string file = [] {
        const char *base = getenv("TMPDIR");
        if (!base || access(base, W_OK) != 0)
            base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/fuzz-load-XXXXXX";
        if (!mkdtemp(tmpl.data()))
            broken("cannot make a scratch directory", tmpl);
        scratch_dir = tmpl;
        atexit(remove_scratch);
        log_init("fuzz_load", 0, 0);
        setlogmask(LOG_MASK(LOG_EMERG));
        return scratch_dir + "/config.json";
    }();
    return file;
}

void put(const std::string &path, const uint8_t *data, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        broken("cannot write the input", path);
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0)
            broken("cannot write the input", path);
        data += n;
        size -= size_t(n);
    }
    close(fd);
}

std::string take(char *text)
{
    std::string s = text ? text : "(null)";
    free(text);
    return s;
}

void ignore(void *, const char *, const char *) {}

/* Every typed read of every node, as generators read them. */
void read_all(config_node *n)
{
    std::string type = take(config_type_string(n, ""));
    take(config_path(n));
    if (type == "object" || type == "collection") {
        take(config_get(n, ""));
        for (config_node *m = config_object_first(n); m; m = config_object_next(m)) {
            (void)config_has_key(n, config_key(m));
            read_all(m);
        }
        return;
    }
    if (type == "array") {
        sl_free(config_get_string_list(n, ""));
        size_t i = 0;
        for (config_node *e = config_array_first(n); e; e = config_array_next(e), i++) {
            (void)config_array_get_string(n, i);
            (void)config_array_get_ref(n, i);
            read_all(e);
        }
        return;
    }
    (void)config_get_string(n, "");
    (void)config_get_bool(n, "");
    (void)config_get_int(n, "");
    (void)config_get_number(n, "");
    (void)config_get_duration(n, "");
    (void)config_get_duration_ms(n, "");
    (void)config_get_ref(n, "");
    (void)config_node_id(n);
    sl_free(config_get_string_list(n, ""));
    sl_free(schema_string_values(config_node_schema(n), config_node_parent(n)));
}

/* Commits c (without the rules, as a forced commit does) and reads the file
 * back: it must load and say the same. */
void round_trip(config_t *c, const config_file_record &rec, const char *how)
{
    std::string before = take(config_json(c));
    if (!config_commit_force(c))
        broken("the commit failed", how);
    unique_config again(config_load_file(&rec));
    if (!again)
        broken("what was committed does not load again", how);
    std::string after = take(config_json(again.get()));
    if (after != before)
        broken("the committed copy reads back differently", before + "\n---\n" + after);
}

/* Leaves of each kind that a set parses differently. */
const char *const set_paths[] = {
    "auth.ldap.bind_dn",                    /* one-line string */
    "auth.ldap.bind_password",              /* private string */
    "vpn.ipsec.tunnel.fz.auth.private_key", /* multi-line, in a new member */
    "vpn.ipsec.tunnel.fz.mgmt",             /* integer */
    "auth.idle_timeout",                    /* duration */
    "auth.method.0",                        /* enumeration, appended */
    "network.veth.fz.namespace",            /* reference */
    "auth.tacacs+.server.0.hostname",       /* inside a new array element */
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &file = config_file();
    put(file, data, size);
    config_file_record rec{};
    rec.config_file = file.c_str();

    unique_config c(config_load_file(&rec));
    if (c) {
        take(config_json(c.get()));
        take(config_dump(c.get()));
        take(config_dump_public(c.get()));
        (void)config_validate(c.get(), ignore, nullptr);
        sl_free(config_keys(c.get()));
        read_all(c.get());
        round_trip(c.get(), rec, "the file as loaded");
    } else {
        c.reset(config_create(file.c_str()));
        if (!c)
            broken("config_create failed");
    }

    /* The input as one text (up to a NUL byte, as a command line gives it). */
    const char *bytes = reinterpret_cast<const char *>(data);
    std::string value = size ? std::string(bytes, strnlen(bytes, size)) : std::string();
    for (const char *path : set_paths)
        config_set(c.get(), path, value.c_str());
    config_new_key(c.get(), "network.namespace", value.c_str());
    config_set(c.get(), value.c_str(), "1");
    take(config_new(c.get(), value.c_str()));
    config_delete(c.get(), value.c_str());
    config_error_clear(c.get());
    round_trip(c.get(), rec, "after the sets");
    return 0;
}
