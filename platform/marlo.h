/* libmarlo: may the calling user run this command line? */
#ifndef MARLO_H
#define MARLO_H
#ifdef __cplusplus
extern "C" {
#endif
/* argv: null-terminated argument vector, argv[0] the program path.  Returns
 * non-zero when the real user may run it.  The superuser always may; anyone
 * else needs a grant of the command word argv[1] in /etc/marlo/policy
 * (format: docs/permissions.md).  A missing, unreadable or unsafe policy
 * grants nothing. */
int marlo_command_allowed(char *const argv[]);
#ifdef __cplusplus
}
#endif
#endif
