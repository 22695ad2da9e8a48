#include <string>
#include "pam_internal.h"

namespace pam {

bool write_radius_conf(const std::vector<server> &list)
{
    return write_private("/var/run/radius.%d", radius_conf, [&](FILE *f) {
        for (const server &s : list)
            fprintf(f, "%s %s %d\n", s.address.c_str(), s.secret.c_str(), s.timeout);
    });
}

bool write_ldap_conf(config_node *config, const std::vector<server> &list)
{
    /* A value that cannot be written leaves its line out. */
    auto line = [config](FILE *f, const char *keyword, const char *path) {
        std::string value;
        if (ldap_value(value, config_get_string(config, path), path))
            fprintf(f, "%s %s\n", keyword, value.c_str());
    };
    const char *tls = config_get_string(config, "auth.ldap.tls");
    const char *bind_dn = config_get_string(config, "auth.ldap.bind_dn");
    return write_private("/var/run/ldap.%d", ldap_conf, [&](FILE *f) {
        fputs("uri", f);
        const char *scheme = tls && std::string_view(tls) == "on" ? "s" : "";
        for (const server &s : list)
            fprintf(f, " ldap%s://%s", scheme, s.address.c_str());
        fputs("\n", f);
        line(f, "base", "auth.ldap.base_dn");
        line(f, "pam_login_attribute", "auth.ldap.login_attribute");
        line(f, "ssl", "auth.ldap.tls");
        fprintf(f, "tls_checkpeer %s\n",
                config_get_bool(config, "auth.ldap.verify_server_cert") ? "yes" : "no");
        fputs("tls_cacertfile /etc/ssl/certs/ca-certificates.crt\n", f);
        std::string dn;
        if (bind_dn && *bind_dn && ldap_value(dn, bind_dn, "auth.ldap.bind_dn")) {
            fprintf(f, "binddn %s\n", dn.c_str());
            line(f, "bindpw", "auth.ldap.bind_password");
        }
        int timeout = config_get_int(config, "auth.ldap.timeout");
        fprintf(f, "timelimit %d\n", timeout);
        fprintf(f, "bind_timelimit %d\n", timeout);
    });
}

}  // namespace pam
