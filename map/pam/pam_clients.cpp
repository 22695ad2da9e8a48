#include <unistd.h>
#include "pam_internal.h"

namespace pam {

namespace {

/* The client file is written under a name of this process and moved into
 * place whole, so a module never reads half a file. */
template <typename Body>
bool write_client(const char *pattern, const char *final, Body body)
{
    char *raw = nullptr;
    if (xasprintf(&raw, pattern, (int)getpid()) < 0)
        return false;
    unique_text tmp(raw);
    FILE *f = create_private(tmp.get());
    if (!f)
        return false;
    body(f);
    return finish(f, tmp.get(), final);
}

}  // namespace

bool write_radius_conf(const std::vector<server> &list)
{
    return write_client("/var/run/radius.%d", radius_conf, [&](FILE *f) {
        for (const server &s : list) {
            /* An IPv6 address needs brackets to keep its colons apart
             * from the port. */
            bool v6 = std::string_view(s.host).find(':') != std::string_view::npos;
            fprintf(f, "%s%s%s:%d %s %d\n", v6 ? "[" : "", s.host, v6 ? "]" : "", s.port,
                    s.secret.get(), s.timeout);
        }
    });
}

bool write_ldap_conf(config_node *config, const std::vector<server> &list)
{
    const char *tls = text(config, "auth.ldap.tls");
    const char *bind_dn = text(config, "auth.ldap.bind_dn");
    return write_client("/var/run/ldap.%d", ldap_conf, [&](FILE *f) {
        fputs("uri", f);
        const char *scheme = std::string_view(tls) == "on" ? "s" : "";
        for (const server &s : list)
            fprintf(f, " ldap%s://%s:%d", scheme, s.host, s.port);
        fputs("\n", f);
        fprintf(f, "base %s\n", text(config, "auth.ldap.base_dn"));
        fprintf(f, "pam_login_attribute %s\n", text(config, "auth.ldap.login_attribute"));
        fprintf(f, "ssl %s\n", tls);
        fprintf(f, "tls_checkpeer %s\n",
                config_get_bool(config, "auth.ldap.verify_server_cert") ? "yes" : "no");
        fputs("tls_cacertfile /etc/ssl/certs/ca-certificates.crt\n", f);
        if (*bind_dn) {
            fprintf(f, "binddn %s\n", bind_dn);
            fprintf(f, "bindpw %s\n", text(config, "auth.ldap.bind_password"));
        }
        int timeout = config_get_int(config, "auth.ldap.timeout");
        fprintf(f, "timelimit %d\n", timeout);
        fprintf(f, "bind_timelimit %d\n", timeout);
    });
}

}  // namespace pam
