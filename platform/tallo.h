/* libtallo: runtime state store (live values published by daemons).
 * Keys are dot paths.  Returned texts are new; the caller frees them. */
#ifndef TALLO_H
#define TALLO_H
#include <stdint.h>
#include "anvil.h"
#ifdef __cplusplus
extern "C" {
#endif

typedef struct tallo_entry {
    char *key;   /* full key */
    char *name;  /* last part of the key */
    char *value;
} tallo_entry;

/* 0 on success, non-zero on failure.  The database path is
 * $TALLO_DB when set, else "/var/run/tallo/tallo.db". */
int tallo_init(void);
void tallo_deinit(void);

char *tallo_get_string(const char *key);
char *tallo_get_string_pathf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int tallo_get_int_pathf(int def, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int32_t tallo_get_int32(const char *key, int32_t def);
/* Names of the key's direct children, natural order; null when none. */
sl_list *tallo_keys(const char *key);
sl_list *tallo_keys_pathf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Direct children of key that hold a value, natural order; null-terminated
 * array released with tallo_entries_free; null when none. */
tallo_entry **tallo_get_entries(const char *key, int r1, int r2, int r3);
void tallo_entries_free(tallo_entry **entries);

int tallo_edit_start(void);
int tallo_edit_commit(void);
int tallo_set_string(const char *key, const char *value);
int tallo_set_string_pathf(const char *value, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Removes the key and everything below it. */
int tallo_delete(const char *key);

#ifdef __cplusplus
}
#endif
#endif
