/* Stand-in PAM module for checking generated rules with the real PAM
 * library.  Installed under the names of the router's own modules, it
 * appends "<service> <type> <module> <arg>|<arg>|...|" to $PAM_PROBE_LOG for
 * every call, and fails when its module name is listed in $PAM_PROBE_FAIL.
 * With $PAM_PROBE_IGNORE set it answers PAM_IGNORE instead of success, so
 * that every rule of a stack is called. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <security/pam_modules.h>

static int probe(pam_handle_t *pamh, const char *type, int argc, const char **argv)
{
    Dl_info info;
    const char *module = "?";
    if (dladdr((void *)probe, &info) && info.dli_fname) {
        const char *slash = strrchr(info.dli_fname, '/');
        module = slash ? slash + 1 : info.dli_fname;
    }
    const void *service = NULL;
    pam_get_item(pamh, PAM_SERVICE, &service);

    const char *log = getenv("PAM_PROBE_LOG");
    if (log) {
        FILE *f = fopen(log, "a");
        if (f) {
            fprintf(f, "%s %s %s ", service ? (const char *)service : "?", type, module);
            for (int i = 0; i < argc; ++i)
                fprintf(f, "%s|", argv[i]);
            fputc('\n', f);
            fclose(f);
        }
    }
    const char *fail = getenv("PAM_PROBE_FAIL");
    if (fail && strstr(fail, module))
        return PAM_AUTH_ERR;
    return getenv("PAM_PROBE_IGNORE") ? PAM_IGNORE : PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_authenticate(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    (void)flags;
    return probe(pamh, "auth", argc, argv);
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    (void)pamh;
    (void)flags;
    (void)argc;
    (void)argv;
    return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    (void)flags;
    return probe(pamh, "account", argc, argv);
}

PAM_EXTERN int pam_sm_chauthtok(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    /* Called twice per change; the first pass is the one every rule sees. */
    if (!(flags & PAM_PRELIM_CHECK))
        return PAM_SUCCESS;
    return probe(pamh, "password", argc, argv);
}

PAM_EXTERN int pam_sm_open_session(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    (void)flags;
    return probe(pamh, "session", argc, argv);
}

PAM_EXTERN int pam_sm_close_session(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
    (void)pamh;
    (void)flags;
    (void)argc;
    (void)argv;
    return PAM_SUCCESS;
}
