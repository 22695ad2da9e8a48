#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include "pam_internal.h"

namespace pam {

namespace {
/* PAM's own quoting inside a bracketed argument: only "]" ends it. */
const escape_pair secret_escape[] = {
    {"]", "\\]"},
    {nullptr, nullptr},
};
}  // namespace

bool one_line(std::string_view value)
{
    return value.find_first_of("\r\n") == std::string_view::npos;
}

bool host_ok(std::string_view host)
{
    if (host.empty())
        return false;
    for (char ch : host) {
        bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                  (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' ||
                  ch == '_' || ch == ':' || ch == '%';
        if (!ok)
            return false;
    }
    return true;
}

const char *text(config_node *config, const char *path)
{
    const char *value = config_get_string(config, path);
    if (!value)
        return "";
    if (!one_line(value)) {
        log_error("%s holds a line break; left out", path);
        return "";
    }
    return value;
}

std::vector<server> servers(config_node *config, const char *path, secret_use use)
{
    std::vector<server> list;
    config_node *array = config_array(config, path);
    unsigned index = 0;
    for (config_node *el = config_array_first(array); el;
         el = config_array_next(el), ++index) {
        const char *host = config_get_string(el, "hostname");
        if (!host || !host_ok(host)) {
            log_error("%s: server %u has no usable host name; left out", path, index);
            continue;
        }
        server s{host, config_get_int(el, "port"), nullptr, 0};
        if (use != secret_use::none) {
            const char *secret = config_get_string(el, "secret");
            if (!secret)
                secret = "";
            if (!one_line(secret)) {
                log_error("%s: server %u has a secret with a line break; left out",
                          path, index);
                continue;
            }
            /* PAM reads "\]" as a literal bracket, so a trailing backslash would
             * run the argument on into the next server. */
            std::string_view sv(secret);
            if (use == secret_use::bracket && !sv.empty() && sv.back() == '\\') {
                log_error("%s: server %u has a secret ending in a backslash; left out",
                          path, index);
                continue;
            }
            s.secret.reset(escape(secret, secret_escape));
            if (!s.secret) {
                log_error("%s: server %u: cannot escape its secret; left out", path, index);
                continue;
            }
            s.timeout = config_get_int(el, "timeout");
        }
        list.push_back(std::move(s));
    }
    return list;
}

FILE *create_private(const char *path)
{
    /* A file left by an earlier process with the same id may carry other
     * permissions; start from nothing so the secrets are never readable by
     * anyone else, not even for a moment. */
    if (unlink(path) != 0 && errno != ENOENT) {
        log_error("cannot remove stale %s: %m", path);
        return nullptr;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        log_error("cannot create %s: %m", path);
        return nullptr;
    }
    FILE *f = fdopen(fd, "w");
    if (!f) {
        log_error("cannot open %s: %m", path);
        close(fd);
        unlink(path);
    }
    return f;
}

bool finish(FILE *f, const char *tmp, const char *final)
{
    bool ok = fflush(f) == 0 && !ferror(f);
    if (fclose(f) != 0)
        ok = false;
    if (!ok) {
        log_error("cannot write %s: %m", tmp);
        unlink(tmp);
        return false;
    }
    // file_replace removes the temporary file itself when the move fails.
    if (!file_replace(0, tmp, final, 0)) {
        log_error("cannot move %s to %s: %m", tmp, final);
        return false;
    }
    return true;
}

}  // namespace pam
