#include "maps.h"

#include "dnsmasq.h"

extern "C" {

const struct config_map config_maps[] = {
    {"dnsmasq", map_dnsmasq},
    {nullptr, nullptr},
};

}
