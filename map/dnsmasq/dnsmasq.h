/* `config map dnsmasq`: writes /var/run/dnsmasq.conf (DNS forwarder and
 * DHCP server) and the host-name sniffer's domain list. */
#ifndef MAP_DNSMASQ_H
#define MAP_DNSMASQ_H
#include <stdio.h>
#include "network.h"
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

/* The config_maps handler: 0 when /var/run/dnsmasq.conf (and the sniffer
 * file, when domain policies are configured) was written whole, 1 when a
 * file could not be opened or written (logged, naming the file).
 * Arguments are ignored. */
int map_dnsmasq(config_t *config, int argc, char **argv);

/* 1 when some passthrough interface of the model sits on this device: such
 * a device is handed through to a client and dnsmasq must stay off it. */
int device_has_passthrough(network_node *device);

/* Null when text holds neither '\\' nor '"'; otherwise a new copy (free it)
 * with a backslash before each of them. */
char *dnsmasq_escape(const char *text);

#ifdef __cplusplus
}
#endif
#endif
