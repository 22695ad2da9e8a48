/* Interface sections of the network generator, and the small section
 * writers that the protocol mappers share.  All of them write through the
 * UCI writer (uci.h) into the driver's stream. */
#ifndef MAP_NETWORK_INTERFACE_H
#define MAP_NETWORK_INTERFACE_H
#include <stdio.h>
#include "network.h"
#ifdef __cplusplus
extern "C" {
#endif

/* The model that the driver loaded for this run (null outside a run). */
network_t *map_network_model(void);
void map_network_set_model(network_t *model);
/* A side file of this run could not be written completely: logs that,
 * naming the path (errno tells why), and makes the run end with status 1.
 * Setting the model starts a run with no failure. */
void map_network_write_failed(const char *path);
int map_network_failed(void);

/* All sections of one interface node (kind 3) or protocol node (kind 4). */
void map_interface(FILE *out, network_node *node);

/* Header "config interface <interface name>". */
void map_interface_name(FILE *out, network_node *node);
/* "ifname" = the device's name; nothing for a null device. */
void map_interface_link(FILE *out, network_node *device);
/* "metric" unless it is 0; an IPsec tunnel whose link check has not passed
 * gets the largest metric so that it loses every route comparison. */
void map_interface_metric(FILE *out, config_node *config);
/* "passthrough" = <passthrough interface> when a passthrough interface
 * takes this node's interface as a source; 1 when written. */
int map_interface_passthrough_src(FILE *out, network_node *node);
/* "hostname" and "dhcp_hostname". */
void map_interface_hostname(FILE *out, config_node *config);
/* "mtu" and "reqopts" when the configuration has an MTU. */
void map_interface_mtu(FILE *out, config_node *config);
/* "macaddr", the MTU options, "promisc". */
void map_interface_device_options(FILE *out, config_node *config);
/* One anonymous route section for a route configuration node and the
 * interface it names (or null). */
void map_route(FILE *out, config_node *route, config_node *interface_config);

#ifdef __cplusplus
}
#endif
#endif
