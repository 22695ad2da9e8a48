#include <string>
#include "pam_internal.h"

namespace pam {

namespace {

/* Login paths that authenticate a person with a password. */
constexpr const char *login_services[] = {"sshd", "login", "httpd", "httpd_login"};
/* Paths that only ever come after a login elsewhere. */
constexpr const char *session_services[] = {"cli", "shell", "serial"};
/* Order in which the RADIUS and LDAP rules are stacked. */
constexpr const char *client_services[] = {"sshd",    "login", "serial",
                                           "openvpn", "httpd", "httpd_login"};

const char *control(config_node *config, const char *path)
{
    return config_get_bool(config, path) ? authoritative_control : lenient_control;
}

/* " name=value" as module_arg() writes it, or "" when it is left out. */
std::string arg(config_node *config, const char *name, const char *path)
{
    std::string out = " ";
    if (!module_arg(out, name, config_get_string(config, path), path))
        out.clear();
    return out;
}

/* TACACS+ rules carry the whole server list on every line. */
std::string tacacs_servers(const std::vector<server> &list)
{
    std::string out;
    for (const server &s : list) {
        out += " ";
        module_arg(out, "server", s.address.c_str(), "auth.tacacs+.server");
        out += " " + s.secret + " ";
    }
    return out + "\n";
}

void tacacs_login(FILE *f, const char *service, const char *protocol, const char *k,
                  const std::string &svc, const std::string &group, const std::string &servers)
{
    fprintf(f, "%s auth %s pam_tacplus.so debug try_first_pass login=%s prompt=Password:_%s",
            service, k, "pap", servers.c_str());
    fprintf(f, "%s account %s pam_tacplus.so debug try_first_pass login=%s%s protocol=%s%s%s",
            service, k, "pap", svc.c_str(), protocol, group.c_str(), servers.c_str());
    fprintf(f, "%s session optional pam_tacplus.so debug try_first_pass login=%s%s protocol=%s%s",
            service, "pap", svc.c_str(), protocol, servers.c_str());
}

}  // namespace

bool otp_enabled(config_node *config)
{
    config_node *users = config_object(config, "auth.user");
    for (config_node *user = config_object_first(users); user; user = config_object_next(user)) {
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
        const char *args =
            (std::string_view(service) == "sshd" || std::string_view(service) == "login")
                ? " admin -o shell -o serial"
                : "";
        fprintf(f, "%s auth %s pam_qel.so%s\n", service, lenient_control, args);
        fprintf(f, "%s account %s pam_qel.so%s\n", service, lenient_control, args);
    }
}

void write_tacacs(FILE *f, config_node *config, const std::vector<server> &list)
{
    const char *k = control(config, "auth.tacacs+.authoritative");
    const std::string group = arg(config, "groupname", "auth.tacacs+.group_attribute");
    const std::string svc = arg(config, "service", "auth.tacacs+.service");
    const std::string servers = tacacs_servers(list);
    const char *protocols[] = {"ssh", "telnet", "https", "https"};
    for (size_t i = 0; i < std::size(login_services); ++i)
        tacacs_login(f, login_services[i], protocols[i], k, svc, group, servers);
    for (const char *service : session_services) {
        /* These paths name themselves as the TACACS+ service. */
        fprintf(f,
                "%s session optional pam_tacplus.so debug try_first_pass login=%s "
                "service=%s protocol=unknown%s",
                service, "pap", service, servers.c_str());
    }
    tacacs_login(f, "openvpn", "openvpn", k, svc, group, servers);
}

void write_radius(FILE *f, config_node *config)
{
    const char *k = control(config, "auth.radius.authoritative");
    const char *debug = config_get_bool(config, "auth.radius.debug") ? "debug" : "";
    /* Without a NAS id the module sends its own. */
    std::string client_id;
    const char *nas_id = config_get_string(config, "auth.radius.nas_id");
    if (nas_id && *nas_id)
        module_arg(client_id, "client_id", nas_id, "auth.radius.nas_id");
    for (const char *service : client_services) {
        fprintf(f, "%s auth %s pam_radius_auth.so %s localifdown %s conf=%s\n", service, k, debug,
                client_id.c_str(), radius_conf);
        fprintf(f, "%s account %s pam_radius_auth.so conf=%s\n", service, k, radius_conf);
        fprintf(f, "%s session %s pam_radius_auth.so conf=%s\n", service, "optional", radius_conf);
    }
}

void write_ldap(FILE *f, config_node *config)
{
    const char *k = control(config, "auth.ldap.authoritative");
    const std::string group = arg(config, "groupname", "auth.ldap.group_attribute");
    for (const char *service : client_services) {
        /* The web login has already asked for the password. */
        const char *extra = std::string_view(service) == "httpd" ? "use_first_pass" : "";
        fprintf(f, "%s auth %s pam_ldap.so %s%s config=%s\n", service, k, extra, group.c_str(),
                ldap_conf);
        fprintf(f, "%s account %s pam_ldap.so config=%s\n", service, k, ldap_conf);
        fprintf(f, "%s session %s pam_ldap.so try_first_pass config=%s\n", service, "optional",
                ldap_conf);
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
    fputs(
        "other auth required pam_warn.so\n"
        "other auth required pam_deny.so\n"
        "other account required pam_warn.so\n"
        "other account required pam_deny.so\n"
        "other session required pam_warn.so\n"
        "other session required pam_deny.so\n",
        f);
}

}  // namespace pam
