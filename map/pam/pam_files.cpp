#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>
#include "pam_internal.h"

namespace pam {

std::vector<server> servers(config_node *config, const char *path, secret_use use)
{
    std::vector<server> list;
    config_node *array = config_array(config, path);
    unsigned index = 0;
    for (config_node *el = config_array_first(array); el; el = config_array_next(el), ++index) {
        const char *host = config_get_string(el, "hostname");
        if (!host || !host_ok(host)) {
            log_error("%s: server %u has no usable host name; left out", path, index);
            continue;
        }
        server s{host_port(host, config_get_int(el, "port")), {}, 0};
        if (use != secret_use::none) {
            std::string secret_path = std::string(path) + "." + std::to_string(index) + ".secret";
            const char *secret = config_get_string(el, "secret");
            bool ok = use == secret_use::bracket
                          ? module_arg(s.secret, "secret", secret, secret_path, true)
                          : radius_field(s.secret, secret, secret_path);
            /* A server whose secret cannot be written is of no use. */
            if (!ok)
                continue;
            /* Only RADIUS servers have a timeout; TACACS+ servers share this
             * list but not the key. */
            if (config_has_key(el, "timeout"))
                s.timeout = config_get_int(el, "timeout");
        }
        list.push_back(std::move(s));
    }
    return list;
}

bool write_private(const char *tmp_pattern, const char *final,
                   const std::function<void(FILE *)> &body)
{
    char *raw = nullptr;
    if (xasprintf(&raw, tmp_pattern, (int)getpid()) < 0) {
        log_error("cannot write %s: out of memory", final);
        return false;
    }
    unique_text tmp(raw);
    /* A file an earlier process with the same id left behind (or a link in
     * its place) is not written through. */
    if (unlink(tmp.get()) != 0 && errno != ENOENT) {
        log_error("cannot remove stale %s: %m", tmp.get());
        return false;
    }
    FILE *f = file_create(tmp.get(), FILE_PRIVATE);
    if (!f) {
        log_error("cannot create %s for %s: %m", tmp.get(), final);
        return false;
    }
    body(f);
    if (!file_finish(f, 1)) {
        log_error("cannot write %s: %m", final);
        unlink(tmp.get());
        return false;
    }
    // file_replace removes the temporary file itself when the move fails.
    if (!file_replace(0, tmp.get(), final, 0)) {
        log_error("cannot move %s to %s: %m", tmp.get(), final);
        return false;
    }
    return true;
}

}  // namespace pam
