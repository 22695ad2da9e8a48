// Placeholders until each protocol mapper has its own file: they write
// nothing, so the rest of the network file is complete without them.
#include "proto.h"

extern "C" {

void map_interface_modem(FILE *, network_node *) {}

void map_interface_openvpn(FILE *, network_node *) {}

void map_interface_nemo(FILE *, network_node *) {}

void map_interface_pppol2tp(FILE *, network_node *) {}

void map_interface_ppp_dialin(FILE *, network_node *) {}

void map_interface_ipsec(FILE *, network_node *) {}

void map_modems_without_interface(FILE *) {}

void map_modems_fw_update_interface(FILE *) {}

void map_iptunnel(FILE *, network_node *) {}

void map_macsec(FILE *, network_node *) {}

void map_l2tpeth(FILE *, network_node *) {}

}
