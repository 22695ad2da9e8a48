/* UCI output writer of the network generator.  Every byte of the network
 * file goes through these operations; they append to a stream that the
 * caller opened and closes, and report nothing (write errors show when the
 * caller finishes the stream). */
#ifndef MAP_NETWORK_UCI_H
#define MAP_NETWORK_UCI_H
#include <stdio.h>
#include "anvil.h"
#ifdef __cplusplus
extern "C" {
#endif

/* Escapes of quoted values: '"' -> \", '\' -> \\, line feed -> \\n (the
 * reader turns that back into a backslash and n, never into a new line). */
extern const escape_pair uci_escape_table[];

/* "\nconfig <type> <name>\n"; the name is formatted and written raw. */
void uci_write_config_section_type_name(FILE *out, const char *type, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
/* "\nconfig <type>\n": an anonymous section. */
void uci_write_config_section_type(FILE *out, const char *type);
/* "\toption <name> \"<escaped value>\"\n" */
void uci_write_option_string(FILE *out, const char *name, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
/* "\toption <name> <value>\n" in signed decimal. */
void uci_write_option_int(FILE *out, const char *name, int value);
/* As an integer option: callers pass 0 or 1. */
void uci_write_option_bool(FILE *out, const char *name, int value);
/* The list joined with sep, as one string option (a null list gives ""). */
void write_option_sl_list(FILE *out, const char *name, const sl_list *list, const char *sep);

#ifdef __cplusplus
}
#endif
#endif
