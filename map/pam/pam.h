/* `config map pam`: writes /var/run/pam.conf and, for the RADIUS and LDAP
 * methods, /var/run/radius.conf and /var/run/ldap.conf from the `auth`
 * settings. */
#ifndef MAP_PAM_H
#define MAP_PAM_H
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

/* 0 when /var/run/pam.conf was written and moved into place, 1 when it
 * could not be (the previous file is then left as it was). */
int map_pam(config_t *config, int argc, char **argv);

#ifdef __cplusplus
}
#endif
#endif
