#include "maps.h"

extern "C" {

const struct config_map config_maps[] = {
    {nullptr, nullptr},
};

}
