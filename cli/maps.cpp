#include "maps.h"

#include "dnsmasq.h"
#include "ipsec.h"
#include "pam.h"

extern "C" {

const struct config_map config_maps[] = {
    {"dnsmasq", map_dnsmasq},
    {"ipsec", map_ipsec},
    {"pam", map_pam},
    {nullptr, nullptr},
};

}
