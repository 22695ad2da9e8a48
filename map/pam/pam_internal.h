/* Pieces of the PAM generator, one file per concern:
 *   pam_map.cpp      the run: main file, method order, fallbacks
 *   pam_rules.cpp    the rule blocks of each method
 *   pam_clients.cpp  the RADIUS and LDAP client files
 *   pam_files.cpp    private temporary files and the values we accept */
#ifndef MAP_PAM_INTERNAL_H
#define MAP_PAM_INTERNAL_H
#include <cstdio>
#include <string_view>
#include <vector>
#include "anvil.h"
#include "quill.h"

namespace pam {

inline constexpr const char *lenient_control =
    "[success=done new_authtok_reqd=done default=ignore]";
inline constexpr const char *authoritative_control =
    "[success=done new_authtok_reqd=done auth_err=die user_unknown=die default=ignore]";
inline constexpr const char *strict_token_control =
    "[ success=done new_authtok_reqd=done ignore=ignore default=die ]";

inline constexpr const char *pam_conf = "/var/run/pam.conf";
inline constexpr const char *radius_conf = "/var/run/radius.conf";
inline constexpr const char *ldap_conf = "/var/run/ldap.conf";

/* One usable server of a method.  host is borrowed from the store; secret
 * is the escaped copy (null for methods without secrets). */
struct server {
    const char *host;
    int port;
    unique_text secret;
    int timeout;
};

/* ---- pam_files.cpp ---- */
/* A value that may sit on one line of a generated file. */
bool one_line(std::string_view value);
/* A host name or address literal: nothing that could end an argument. */
bool host_ok(std::string_view host);
/* String setting, "" when unset; a value with a line break is left out
 * (logged) because it would start a new rule. */
const char *text(config_node *config, const char *path);
/* How a method's rules carry the server secret. */
enum class secret_use {
    none,     /* no secret */
    line,     /* on a line of a client file */
    bracket,  /* inside a bracketed PAM argument, "[secret=...]" */
};
/* Elements of the server array at path that are safe to write, in order;
 * the others are logged and dropped.  Secrets come escaped. */
std::vector<server> servers(config_node *config, const char *path, secret_use use);
/* Creates path readable by its owner only (it holds secrets); null when it
 * cannot be created. */
FILE *create_private(const char *path);
/* Closes f and moves tmp over final.  On any error the temporary file is
 * removed, final is left untouched, and false is returned. */
bool finish(FILE *f, const char *tmp, const char *final);

/* ---- pam_rules.cpp ---- */
bool otp_enabled(config_node *config);
void write_otp(FILE *f);
void write_token(FILE *f, const char *control, int idle_timeout);
void write_local(FILE *f);
void write_tacacs(FILE *f, config_node *config, const std::vector<server> &list);
void write_radius(FILE *f, config_node *config);
void write_ldap(FILE *f, config_node *config);
void write_fallback(FILE *f);

/* ---- pam_clients.cpp ---- */
/* Write the client file under its process-id name and move it into place;
 * false when it is not in place (the method is then skipped). */
bool write_radius_conf(const std::vector<server> &list);
bool write_ldap_conf(config_node *config, const std::vector<server> &list);

}  // namespace pam

#endif
