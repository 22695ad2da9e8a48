/* libquill: the configuration store.
 *
 * A handle is one loaded copy of the configuration; it is also the root node
 * and may be passed wherever a node is expected.  Paths are dot-separated
 * and relative to the node given.  A null node is accepted everywhere and
 * reads as absent.
 *
 * Ownership: typed reads (config_get_string, config_key, ...) return texts
 * owned by the store, valid while the handle lives.  config_get,
 * config_json, config_dump, config_path, config_new, config_keys,
 * config_find, config_get_string_list ... return new texts / lists that the
 * caller releases with free / sl_free.
 *
 * Errors are flagged on the handle (config_error_check) and logged with a
 * message that names the path and the reason.
 *
 * Files, text forms and the choices below are described in docs/store.md.
 * In short: a member the schema knows but that is not set can be looked up
 * and reads as its default, but is not iterated, counted or written; an
 * array element is reached by its index in a path ("dns.servers.0");
 * collection keys are letters, digits, '_' and '-' (at most 64 bytes). */
#ifndef QUILL_H
#define QUILL_H
#include <stdint.h>
#include <sys/types.h>
#include "anvil.h"
#ifdef __cplusplus
extern "C" {
#endif

typedef struct config_node config_node;
typedef config_node config_t; /* a handle is its root node */
typedef struct schema_node schema_node;

/* File record of config_load_file / config_update_file: nine slots, all
 * zero except the three paths. */
typedef struct config_file_record {
    const char *config_file; /* slot 1: the configuration file */
    uintptr_t reserved2, reserved3;
    const char *schema_file; /* slot 4: schema file, null/"" = built-in */
    uintptr_t reserved5, reserved6, reserved7;
    const char *baked_file; /* slot 8: factory defaults, null/"" = none */
    uintptr_t reserved9;
} config_file_record;

/* Every file the store reads must be a regular file (or a symlink to one)
 * of at most this many bytes.  A large configuration (a thousand tunnels)
 * is about 1 MiB; the limit leaves room for four times that, while a file
 * that is not a configuration (a device, a runaway log) is refused before
 * it can take the memory of a small router. */
#define CONFIG_FILE_SIZE_MAX (4u << 20)

/* ---- openers: a handle, or null (the reason is logged) -----------------
 * A missing configuration file reads as all defaults.  A file that cannot
 * be read (also: not a regular file, larger than CONFIG_FILE_SIZE_MAX, or
 * more than the memory at hand), is not valid JSON, or holds a key or shape
 * the schema does not know is refused with the file (and, for its text,
 * line and column) named.  Every copy commits to the file named in the
 * comment; a copy opened without the lock is refused at commit when that
 * file changed after it was opened. */
config_t *config_load(void); /* /etc/config/config.json */
/* The same, holding the exclusive lock /etc/config/config.lock from before
 * the read until config_free: concurrent updaters run one after the other
 * and none loses the other's changes. */
config_t *config_update(void);
/* Reads /var/run/config/import.json (which must exist); commits to the
 * active file. */
config_t *config_load_json(void);
/* The factory defaults (the schema's); committing it resets the active
 * file. */
config_t *config_load_baked(void);
/* Reads files->config_file (or, when that does not exist and
 * files->baked_file is given, the baked file) with the schema in
 * files->schema_file (null or "": the built-in one); commits to
 * files->config_file.  The _update form holds the lock file beside it
 * (a trailing ".json" replaced by ".lock"). */
config_t *config_load_file(const config_file_record *files);
config_t *config_update_file(const config_file_record *files);
/* Defaults, committed to file; the _try form is null when file exists. */
config_t *config_create(const char *file);
config_t *config_try_create(const char *file);

typedef void (*config_report_fn)(void *ctx, const char *path, const char *message);
int config_validate(config_t *c, config_report_fn report, void *ctx); /* 1 valid */
/* Validates, then writes a temporary file in the same directory, flushes
 * it, renames it over the file and flushes the directory: a failed or
 * interrupted commit leaves the file exactly as it was.  Only values that
 * differ from the defaults are written.  The copy stays usable. */
int config_commit(config_t *c);       /* 1 committed */
int config_commit_force(config_t *c); /* no validation, no changed-file check */
/* Why the last commit of c was refused when validation was not the reason
 * (the file changed since it was loaded, the lock or the write failed), as
 * a new text "FILE: reason; commit refused"; null when the last commit
 * succeeded, was refused by validation (config_validate gives those
 * reasons), or none was tried. */
char *config_commit_refusal(config_t *c);
/* Back to the state of the last load or commit.  Nodes looked up before
 * must not be used after it; the handle stays valid. */
void config_cancel(config_t *c);
void config_free(config_t *c);
int config_error_check(config_t *c);
void config_error_clear(config_t *c);

/* ---- texts (new) -------------------------------------------------------- */
char *config_get(config_node *node, const char *path);
char *config_type_string(config_node *node, const char *path);
char *config_json(config_node *node);
char *config_dump(config_node *node);
char *config_dump_public(config_node *node);
char *config_new(config_node *node, const char *path);

/* ---- edits: 1 done, 0 refused (and flagged) -----------------------------
 * config_set parses the value by the leaf's type; setting inside a
 * collection member that does not exist creates it, and index N of an array
 * of N elements appends.  Nothing changes on a refusal.  config_new appends
 * to an array (index returned) or adds the smallest free numeric key to a
 * collection.  config_delete removes a member or element, or resets a leaf
 * to its default. */
int config_set(config_node *node, const char *path, const char *value);
int config_new_key(config_node *node, const char *path, const char *key);
int config_delete(config_node *node, const char *path);

/* ---- queries ------------------------------------------------------------ */
ssize_t config_count(config_node *node, const char *path);
sl_list *config_keys(config_node *node);
sl_list *config_find(config_node *node, const char *path, char *const pairs[]);
schema_node *config_node_schema(config_node *node);
config_node *config_node_parent(config_node *node);
sl_list *schema_string_values(schema_node *schema, config_node *parent);

/* ---- help for sessions and shells ----------------------------------------
 * None of these prints a private value: such a value is written "***", as
 * config_dump_public writes it.
 *
 * config_changes: what c holds now against what it held when it was
 * loaded, last committed or cancelled, as the file form sees it (a value
 * set to its default is no longer held).  One line per change, in the
 * store's order, lines separated by line feeds (no final one): "path=value"
 * for a leaf that is new or changed (the value escaped as in the dump),
 * "-path" for a leaf back at its default or a member or element that is
 * gone, "+path" for a new collection member or array element (followed by
 * the lines of its leaves).  Null when nothing changed.
 *
 * config_describe: the schema's description of the node at path below
 * node (collection members and array elements need not exist), one
 * "name=value" line per fact, in this order: type, private (true/false),
 * default (scalars whose description gives one), min, max, values (an
 * enumeration's, separated by blanks), target (a reference's collection),
 * members (an object's member names, separated by blanks), item (the type
 * of a collection's members or an array's elements).  A path the schema
 * does not know gives null and is flagged.
 *
 * config_complete: candidates for completing what a shell user types.
 * With value null: the paths one step below the part of path before its
 * last dot whose last segment starts with what follows that dot: an
 * object's members from the schema, a collection's or array's existing
 * members; a container's path ends in ".".  With value given: the allowed
 * values of the leaf at path that start with value (an enumeration's,
 * "true" and "false", the keys of a reference's target collection).  A new
 * list, empty when nothing fits. */
char *config_changes(config_t *c);
char *config_describe(config_node *node, const char *path);
sl_list *config_complete(config_node *node, const char *path, const char *value);

/* ---- typed reads -------------------------------------------------------- */
config_node *config_lookup(config_node *node, const char *path);
config_node *config_object(config_node *node, const char *path);
config_node *config_object_first(config_node *object);
config_node *config_object_next(config_node *member);
int config_object_has_key(config_node *node, const char *path, const char *key);
int config_has_key(config_node *node, const char *key);
const char *config_key(config_node *node);
char *config_path(config_node *node);
config_node *config_node_get_root(config_node *node);
int config_node_id(config_node *node);
const char *config_get_string(config_node *node, const char *path);
int config_get_bool(config_node *node, const char *path);
int32_t config_get_int(config_node *node, const char *path);
double config_get_number(config_node *node, const char *path);
int config_get_duration(config_node *node, const char *path);
int config_get_duration_ms(config_node *node, const char *path);
config_node *config_get_ref(config_node *node, const char *path);
sl_list *config_get_string_list(config_node *node, const char *path);
config_node *config_array(config_node *node, const char *path);
size_t config_array_count(config_node *array);
config_node *config_array_first(config_node *array);
config_node *config_array_next(config_node *element);
const char *config_array_get_string(config_node *array, size_t index);
config_node *config_array_get_ref(config_node *array, size_t index);
config_node *config_array_object(config_node *array, size_t index);
char *config_base64_encode(const void *data, size_t length);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
/* RAII owner of a loaded configuration or working copy. */
struct config_deleter {
    void operator()(config_t *c) const noexcept { config_free(c); }
};
using unique_config = std::unique_ptr<config_t, config_deleter>;
#endif

#endif
