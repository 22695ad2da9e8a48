/* libtallo: runtime state store (live values published by daemons).
 * Keys are dot paths.  Returned texts are new; the caller frees them.
 *
 * Several processes may read and write at once; a writer waits for another
 * (up to 30 s) instead of failing.  Operations that change the store return
 * 0 on success and non-zero on failure.  Every operation opens the store by
 * itself when tallo_init was not called.  Formats and layout of the store:
 * docs/runtime-store.md. */
#ifndef TALLO_H
#define TALLO_H
#include <stdint.h>
#include "anvil.h"
#ifdef __cplusplus
extern "C" {
#endif

typedef struct tallo_entry {
    char *key;  /* full key */
    char *name; /* last part of the key */
    char *value;
} tallo_entry;

/* 0 on success, non-zero on failure.  The database path is
 * $TALLO_DB when set, else "/var/run/tallo/tallo.db"; it and its directory
 * are created when missing. */
int tallo_init(void);
/* Closes the store; an edit group still open is abandoned (rolled back). */
void tallo_deinit(void);

/* The value, or null when the key holds none. */
char *tallo_get_string(const char *key);
char *tallo_get_string_pathf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Integer reads give the default when the key is absent or its value is
 * not a whole decimal number within 32 bits ("010" is ten). */
int tallo_get_int_pathf(int def, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int32_t tallo_get_int32(const char *key, int32_t def);
/* Names of the key's direct children, natural order; null when none.  A
 * child is listed when it or anything below it holds a value; "" or null
 * lists the top level. */
sl_list *tallo_keys(const char *key);
sl_list *tallo_keys_pathf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Direct children of key that hold a value, natural order; null-terminated
 * array released with tallo_entries_free; null when none. */
tallo_entry **tallo_get_entries(const char *key, int r1, int r2, int r3);
void tallo_entries_free(tallo_entry **entries);

/* An edit group: every change between start and commit is one transaction,
 * seen by other processes all at once or not at all.  Groups nest; only the
 * outermost commit writes. */
int tallo_edit_start(void);
int tallo_edit_commit(void);
/* Keys must be non-empty dot paths without empty parts ("a..b" is refused). */
int tallo_set_string(const char *key, const char *value);
int tallo_set_string_pathf(const char *value, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
/* Removes the key and everything below it. */
int tallo_delete(const char *key);

#ifdef __cplusplus
}
#endif
#endif
