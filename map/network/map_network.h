/* `config map network`: the generator of /var/run/uci/network. */
#ifndef MAP_NETWORK_MAP_NETWORK_H
#define MAP_NETWORK_MAP_NETWORK_H
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

/* argv holds the arguments after "network": "-p" prints the model tree,
 * "--device PATH" the device name of a configuration node; otherwise the
 * file is generated.  Returns the exit status (0 or 1). */
int map_network(config_t *config, int argc, char **argv);

#ifdef __cplusplus
}
#endif
#endif
