/* Protocol mappers of the network generator: the sections of interfaces
 * and devices whose protocol needs more than the plain interface sections.
 * Each writes through the UCI writer (uci.h) into the driver's stream. */
#ifndef MAP_NETWORK_PROTO_H
#define MAP_NETWORK_PROTO_H
#include <stdio.h>
#include "network.h"
#ifdef __cplusplus
extern "C" {
#endif

/* Interface types dispatched by map_interface (node: interface node). */
void map_interface_modem(FILE *out, network_node *node);
void map_interface_openvpn(FILE *out, network_node *node);
void map_interface_nemo(FILE *out, network_node *node);
void map_interface_pppol2tp(FILE *out, network_node *node);
void map_interface_ppp_dialin(FILE *out, network_node *node);
void map_interface_ipsec(FILE *out, network_node *node);

/* Modem sections that belong to no interface; the driver calls them once
 * per run after the interfaces. */
void map_modems_without_interface(FILE *out);
void map_modems_fw_update_interface(FILE *out);

/* Tunnel devices (node: device node). */
void map_iptunnel(FILE *out, network_node *device);
void map_macsec(FILE *out, network_node *device);
void map_l2tpeth(FILE *out, network_node *device);

#ifdef __cplusplus
}
#endif
#endif
