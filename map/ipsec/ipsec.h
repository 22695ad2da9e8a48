/* IPsec generator: `config map ipsec` writes /var/run/ipsec.conf,
 * /var/run/ipsec.secrets and the per-tunnel tree /var/run/ipsec.d
 * (its layout and the NHRP rule, shared with the network generator, are in
 * ipsec_tree.h). */
#ifndef MAP_IPSEC_H
#define MAP_IPSEC_H
#include <stdint.h>
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

/* Handler of the "ipsec" row of config_maps.  0 when at least one tunnel
 * was included (or FIPS mode leaves everything alone), else 1. */
int map_ipsec(config_t *config, int argc, char **argv);

/* Identity of one side (`local` or `remote` object of a tunnel) in the
 * daemon's syntax; "" when the side has none.  New text, caller frees. */
char *ipsec_endpoint_identity(config_node *side);

/* Traffic selector suffix "[proto/port]" of one side of a policy.  New
 * text, caller frees. */
char *ipsec_selector_suffix(config_node *side);

/* Calls callback for every path matching the shell pattern, sorted, and
 * stops after the first call that returns 0.  A null pattern does nothing. */
void iterate_files_in_directory(const char *pattern,
                                int (*callback)(const char *path, void *user_data),
                                void *user_data);

typedef struct ScepCaLinkContext {
    int32_t count;      /* files linked so far (also failed attempts) */
    const char *tunnel; /* borrowed */
    uint8_t failed;
} ScepCaLinkContext;

/* Callback for iterate_files_in_directory: links path as the next CA file
 * of the tunnel in the new tree.  1 while nothing failed, else 0. */
int ipsec_link_scep_ca(const char *path, void *context);

#ifdef __cplusplus
}
#endif
#endif
