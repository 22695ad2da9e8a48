#include "maps.h"

#include "dnsmasq.h"
#include "ipsec.h"
#include "map_network.h"
#include "pam.h"

extern "C" {

const struct config_map config_maps[] = {
    {"dnsmasq", map_dnsmasq}, {"ipsec", map_ipsec}, {"network", map_network},
    {"pam", map_pam},         {nullptr, nullptr},
};
}
