#include "pam_internal.h"

namespace pam {

namespace {

/* Login paths that authenticate a person with a password. */
constexpr const char *login_services[] = {"sshd", "login", "httpd", "httpd_login"};
/* Paths that only ever come after a login elsewhere. */
constexpr const char *session_services[] = {"cli", "shell", "serial"};
/* Order in which the RADIUS and LDAP rules are stacked. */
constexpr const char *client_services[] = {"sshd", "login", "serial", "openvpn",
                                           "httpd", "httpd_login"};

const char *control(config_node *config, const char *path)
{
    return config_get_bool(config, path) ? authoritative_control : lenient_control;
}

/* TACACS+ rules carry the whole server list on every line. */
void tacacs_servers(FILE *f, const std::vector<server> &list)
{
    for (const server &s : list)
        fprintf(f, " server=%s:%d [secret=%s] ", s.host, s.port, s.secret.get());
    fputs("\n", f);
}

void tacacs_login(FILE *f, const char *service, const char *protocol, const char *k,
                  const char *svc, const char *group, const std::vector<server> &list)
{
    fprintf(f, "%s auth %s pam_tacplus.so debug try_first_pass login=%s prompt=Password:_",
            service, k, "pap");
    tacacs_servers(f, list);
    fprintf(f,
            "%s account %s pam_tacplus.so debug try_first_pass login=%s service=%s "
            "protocol=%s groupname=%s",
            service, k, "pap", svc, protocol, group);
    tacacs_servers(f, list);
    fprintf(f,
            "%s session optional pam_tacplus.so debug try_first_pass login=%s service=%s "
            "protocol=%s",
            service, "pap", svc, protocol);
    tacacs_servers(f, list);
}

}  // namespace

bool otp_enabled(config_node *config)
{
    config_node *users = config_object(config, "auth.user");
    for (config_node *user = config_object_first(users); user;
         user = config_object_next(user)) {
        if (config_has_key(user, "2fa") && config_get_bool(user, "2fa.enable"))
            return true;
    }
    return false;
}

void write_otp(FILE *f)
{
    for (const char *service : {"sshd", "login", "httpd_login"})
        fprintf(f,
                "%s auth required pam_google_authenticator.so "
                "secret=/etc/config/2fa/${USER}.conf nullok user=root debug\n",
                service);
}

void write_token(FILE *f, const char *control, int idle_timeout)
{
    fprintf(f, "httpd auth %s pam_token_decrypt.so", control);
    if (idle_timeout != 0)
        fprintf(f, " %d", idle_timeout);
    fputs("\n", f);
    fprintf(f, "httpd account %s pam_token_decrypt.so\n", control);
}

void write_local(FILE *f)
{
    for (const char *service : login_services) {
        const char *args = (std::string_view(service) == "sshd" ||
                            std::string_view(service) == "login")
                               ? " admin -o shell -o serial"
                               : "";
        fprintf(f, "%s auth %s pam_qel.so%s\n", service, lenient_control, args);
        fprintf(f, "%s account %s pam_qel.so%s\n", service, lenient_control, args);
    }
}

void write_tacacs(FILE *f, config_node *config, const std::vector<server> &list)
{
    const char *k = control(config, "auth.tacacs+.authoritative");
    const char *group = text(config, "auth.tacacs+.group_attribute");
    const char *svc = text(config, "auth.tacacs+.service");
    const char *protocols[] = {"ssh", "telnet", "https", "https"};
    for (size_t i = 0; i < std::size(login_services); ++i)
        tacacs_login(f, login_services[i], protocols[i], k, svc, group, list);
    for (const char *service : session_services) {
        /* These paths name themselves as the TACACS+ service. */
        fprintf(f,
                "%s session optional pam_tacplus.so debug try_first_pass login=%s "
                "service=%s protocol=unknown",
                service, "pap", service);
        tacacs_servers(f, list);
    }
    tacacs_login(f, "openvpn", "openvpn", k, svc, group, list);
}

void write_radius(FILE *f, config_node *config)
{
    const char *k = control(config, "auth.radius.authoritative");
    const char *debug = config_get_bool(config, "auth.radius.debug") ? "debug" : "";
    const char *nas_id = text(config, "auth.radius.nas_id");
    const char *prefix = *nas_id ? "client_id=" : "";
    for (const char *service : client_services) {
        fprintf(f, "%s auth %s pam_radius_auth.so %s localifdown %s%s conf=%s\n", service,
                k, debug, prefix, nas_id, radius_conf);
        fprintf(f, "%s account %s pam_radius_auth.so conf=%s\n", service, k, radius_conf);
        fprintf(f, "%s session %s pam_radius_auth.so conf=%s\n", service, "optional",
                radius_conf);
    }
}

void write_ldap(FILE *f, config_node *config)
{
    const char *k = control(config, "auth.ldap.authoritative");
    const char *group = text(config, "auth.ldap.group_attribute");
    for (const char *service : client_services) {
        /* The web login has already asked for the password. */
        const char *extra = std::string_view(service) == "httpd" ? "use_first_pass" : "";
        fprintf(f, "%s auth %s pam_ldap.so %s groupname=%s config=%s\n", service, k, extra,
                group, ldap_conf);
        fprintf(f, "%s account %s pam_ldap.so config=%s\n", service, k, ldap_conf);
        fprintf(f, "%s session %s pam_ldap.so try_first_pass config=%s\n", service,
                "optional", ldap_conf);
    }
}

void write_fallback(FILE *f)
{
    for (const char *service : login_services) {
        fprintf(f, "%s auth required pam_deny.so\n", service);
        fprintf(f, "%s account required pam_deny.so\n", service);
        fprintf(f, "%s session required pam_qel.so\n", service);
        fprintf(f, "%s session required pam_motd.so motd=/var/run/motd\n", service);
        fprintf(f, "%s session required pam_env.so readenv=0\n", service);
    }
    for (const char *service : session_services) {
        fprintf(f, "%s auth required pam_deny.so\n", service);
        fprintf(f, "%s account required pam_deny.so\n", service);
        fprintf(f, "%s password required pam_deny.so\n", service);
        fprintf(f, "%s session required pam_qel.so\n", service);
    }
    fprintf(f, "%s auth required pam_qel.so\n", "openvpn");
    fprintf(f, "%s account required pam_qel.so\n", "openvpn");
    fprintf(f, "%s password required pam_deny.so\n", "openvpn");
    fprintf(f, "%s session required pam_deny.so\n", "openvpn");
    fputs("other auth required pam_warn.so\n"
          "other auth required pam_deny.so\n"
          "other account required pam_warn.so\n"
          "other account required pam_deny.so\n"
          "other session required pam_warn.so\n"
          "other session required pam_deny.so\n",
          f);
}

}  // namespace pam
