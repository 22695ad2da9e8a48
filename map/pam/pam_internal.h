/* Pieces of the PAM generator, one file per concern:
 *   pam_map.cpp      the run: main file, method order, fallbacks
 *   pam_rules.cpp    the rule blocks of each method
 *   pam_clients.cpp  the RADIUS and LDAP client files
 *   pam_files.cpp    private files written aside and moved into place, and
 *                    the servers we accept
 *   pam_text.cpp     what a value may hold in each file, and how it is
 *                    written there */
#ifndef MAP_PAM_INTERNAL_H
#define MAP_PAM_INTERNAL_H
#include <cstdio>
#include <functional>
#include <string>
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

/* One usable server of a method, as it is written. */
struct server {
    std::string address; /* "<host>:<port>", an IPv6 host in brackets */
    std::string secret;  /* TACACS+: the "[secret=...]" argument; RADIUS: the
                          * radius.conf field; empty without secrets */
    int timeout;
};

/* ---- pam_text.cpp ----
 * Each writer appends the value to out as it is written in its file, or
 * appends nothing, logs "<path>: <why>; left out" (never the value) and
 * returns false. */
/* A module argument "name=value" of a rule.  Linux-PAM splits arguments at
 * blanks and tabs, except inside "[...]" where "\]" stands for "]"; it ends
 * the rule at any '#'.  A value with blanks or tabs (or any value when
 * bracket is true) is written "[name=value]". */
bool module_arg(std::string &out, const char *name, const char *value, std::string_view path,
                bool bracket = false);
/* A field of a radius.conf line: not empty, no white space. */
bool radius_field(std::string &out, const char *value, std::string_view path);
/* The value of an ldap.conf line "keyword value": one line, no blank at
 * either end. */
bool ldap_value(std::string &out, const char *value, std::string_view path);
/* A host name or address literal: nothing that could end an argument or
 * a field. */
bool host_ok(std::string_view host);
/* "<host>:<port>", with an IPv6 address in brackets, as the RADIUS, LDAP
 * and TACACS+ clients read it. */
std::string host_port(std::string_view host, int port);

/* ---- pam_files.cpp ---- */
/* How a method's rules carry the server secret. */
enum class secret_use {
    none,    /* no secret */
    line,    /* on a line of a client file */
    bracket, /* inside a bracketed PAM argument, "[secret=...]" */
};
/* Elements of the server array at path that can be written, in order; the
 * others are logged and dropped. */
std::vector<server> servers(config_node *config, const char *path, secret_use use);
/* Writes a file that holds secrets (mode 0600 whatever the umask) under a
 * name of this process, then moves it over final whole; a daemon never
 * reads half a file.  False, with the file named in the log, when it is not
 * in place; the previous file is then left as it was. */
bool write_private(const char *tmp_pattern, const char *final,
                   const std::function<void(FILE *)> &body);

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
/* Write the client file and move it into place; false when it is not in
 * place (the method is then skipped). */
bool write_radius_conf(const std::vector<server> &list);
bool write_ldap_conf(config_node *config, const std::vector<server> &list);

}  // namespace pam

#endif
