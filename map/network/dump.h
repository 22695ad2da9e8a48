/* Tree dump of the network model (`config map network -p`). */
#ifndef MAP_NETWORK_DUMP_H
#define MAP_NETWORK_DUMP_H
#include "network.h"
#ifdef __cplusplus
extern "C" {
#endif

/* Prints "| " depth times, then the formatted text, to standard output. */
void network_dump_line(int depth, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Prints the node and, recursively, its children to standard output. */
void network_dump(network_node *node, int depth);

/* Names of the model's enumerations; "???" for a value without one. */
const char *network_node_type_name(int kind);
const char *network_device_type_name(int type);
const char *network_interface_type_name(int type);

#ifdef __cplusplus
}
#endif
#endif
