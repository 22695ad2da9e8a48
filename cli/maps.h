/* Generator table: `config map <name>` runs the row whose name matches. */
#ifndef CLI_MAPS_H
#define CLI_MAPS_H
#include "quill.h"
#ifdef __cplusplus
extern "C" {
#endif

typedef int (*config_map_handler)(config_t *config, int argc, char **argv);

struct config_map {
    const char *name;
    config_map_handler handler;
};

/* Null-terminated; exported from the program (visible with nm -D). */
extern const struct config_map config_maps[];

#ifdef __cplusplus
}
#endif
#endif
