#include <string_view>
#include "pam.h"
#include "pam_internal.h"

namespace pam {
namespace {

/* Stacks the configured methods in the administrator's order; true when at
 * least one block was written.  A method without usable servers, or whose
 * client file cannot be put in place, is skipped; the latter also clears
 * clients_ok. */
bool write_methods(FILE *f, config_node *config, bool &clients_ok)
{
    bool written = false;
    unique_sl methods(config_get_string_list(config, "auth.method"));
    for (size_t i = 0; i < sl_len(methods.get()); ++i) {
        std::string_view method = sl_get(methods.get(), i);
        if (method == "local") {
            write_local(f);
            written = true;
        } else if (method == "tacacs+") {
            auto list = servers(config, "auth.tacacs+.server", secret_use::bracket);
            if (!list.empty()) {
                write_tacacs(f, config, list);
                written = true;
            }
        } else if (method == "radius") {
            auto list = servers(config, "auth.radius.server", secret_use::line);
            /* The rules go in only once their client file is in place:
             * rules that point at a missing or stale file lock people out. */
            if (list.empty())
                continue;
            if (write_radius_conf(list)) {
                write_radius(f, config);
                written = true;
            } else {
                clients_ok = false;
            }
        } else if (method == "ldap") {
            auto list = servers(config, "auth.ldap.server", secret_use::none);
            if (list.empty())
                continue;
            if (write_ldap_conf(config, list)) {
                write_ldap(f, config);
                written = true;
            } else {
                clients_ok = false;
            }
        }
    }
    return written;
}

}  // namespace
}  // namespace pam

extern "C" int map_pam(config_t *config, int, char **)
{
    using namespace pam;
    log_init("config map pam", 0, 1);

    /* A client file that could not be put in place fails the run, though
     * the rules are still written, without its method. */
    bool clients_ok = true;
    /* TACACS+ secrets sit in the rules themselves. */
    bool ok = write_private("/var/run/pam.conf.%d", pam_conf, [&](FILE *f) {
        bool otp = otp_enabled(config);
        if (otp)
            write_otp(f);
        int idle_timeout = config_get_duration(config, "auth.idle_timeout");
        write_token(f, otp ? strict_token_control : lenient_control, idle_timeout);
        if (!write_methods(f, config, clients_ok))
            write_local(f);
        write_fallback(f);
    });
    return ok && clients_ok ? 0 : 1;
}
