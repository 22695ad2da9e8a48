/* Schema of the configuration store: node descriptions, the merge of the
 * fragments, and the value rules of every scalar type.
 *
 * The same flat form serves the schema built into the program (emitted as
 * constant tables at build time, so loading costs nothing) and a schema file
 * named at run time (parsed into owned storage). */
#ifndef QUILL_SCHEMA_H
#define QUILL_SCHEMA_H
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum schema_type : uint8_t {
    SCHEMA_OBJECT,
    SCHEMA_COLLECTION,
    SCHEMA_ARRAY,
    SCHEMA_STRING,
    SCHEMA_BOOLEAN,
    SCHEMA_INTEGER,
    SCHEMA_NUMBER,
    SCHEMA_DURATION,
    SCHEMA_ENUM,
    SCHEMA_REFERENCE,
    SCHEMA_IPV4,
    SCHEMA_IPV6,
    SCHEMA_IP,
    SCHEMA_IPV4_PREFIX,
    SCHEMA_IPV6_PREFIX,
    SCHEMA_IP_PREFIX,
    SCHEMA_MAC,
    SCHEMA_HOSTNAME,
    SCHEMA_TYPE_COUNT
};

enum schema_flag : uint8_t {
    SCHEMA_PRIVATE = 1,
    SCHEMA_MULTILINE = 2,
    SCHEMA_HAS_MIN = 4,
    SCHEMA_HAS_MAX = 8,
};

/* One node description.  Plain aggregate so that the build can emit the
 * built-in schema as a constant array. */
struct schema_node {
    uint8_t type;
    uint8_t flags;
    uint16_t nvalues;            /* enum: number of allowed values */
    uint16_t nchildren;          /* object: number of members */
    uint16_t key_len;            /* length of key (compared before the text) */
    const char *key;             /* member name in the parent object, or null */
    const char *def;             /* default as text, or null */
    const char *target;          /* reference: dot path of the collection */
    const schema_node *children; /* object: members, in description order */
    const schema_node *item;     /* collection member / array element */
    const char *const *values;   /* enum: allowed values */
    double min, max;             /* integer/number/string(max) limits */
};

namespace quill {

const char *schema_type_name(unsigned type);
inline bool schema_is_container(const schema_node *s)
{
    return s->type == SCHEMA_OBJECT || s->type == SCHEMA_COLLECTION || s->type == SCHEMA_ARRAY;
}
/* The member of object named key, or null.  The search starts at member
 * number from and wraps around: a reader that passes the position after
 * the member it found last finds the next one at once when the keys come
 * in description order, as the store writes them.  Inline: every key of a
 * file and every step of a path asks, and the lengths are known, so most
 * members are passed over without touching their names. */
inline const schema_node *schema_member(const schema_node *object, std::string_view key,
                                        uint32_t from = 0)
{
    if (!object || object->type != SCHEMA_OBJECT || key.empty())
        return nullptr;
    const char *want = key.data();
    size_t n = key.size();
    const schema_node *members = object->children, *end = members + object->nchildren;
    const schema_node *start = from < object->nchildren ? members + from : members;
    for (const schema_node *m = start; m != end; m++)
        if (m->key_len == n && m->key[0] == want[0] && std::memcmp(m->key, want, n) == 0)
            return m;
    for (const schema_node *m = members; m != start; m++)
        if (m->key_len == n && m->key[0] == want[0] && std::memcmp(m->key, want, n) == 0)
            return m;
    return nullptr;
}
/* Default text of a scalar ("" when the description gives none). */
inline const char *schema_default(const schema_node *s) { return s->def ? s->def : ""; }

/* The schema built into the program. */
const schema_node *builtin_schema();

/* A schema parsed at run time (or at build time by the generator): owns
 * every node and text that root points into. */
struct schema_set {
    const schema_node *root = nullptr;
    std::vector<schema_node> nodes;
    std::deque<std::string> texts;
    std::deque<std::vector<const char *>> value_lists;
};

/* One fragment: its name (for messages) and its JSON text. */
struct schema_fragment {
    std::string name;
    std::string text;
};

/* Parses and merges fragments into one schema.  On failure returns null and
 * sets error to a message naming the fragment and the path. */
std::unique_ptr<schema_set> schema_build(const std::vector<schema_fragment> &fragments,
                                         std::string &error);

/* ---- value rules ---------------------------------------------------------
 * Checks text as a value of the scalar description s.  Returns null when it
 * fits, else the reason ("bad boolean", ...) in reason. */
bool value_check(const schema_node *s, std::string_view text, std::string &reason);

/* Parsers shared by the checks and the typed reads; false when the text does
 * not fit. */
bool parse_bool(std::string_view text, bool &value);
bool parse_int(std::string_view text, int64_t &value);
bool parse_number(std::string_view text, double &value);
bool parse_duration_ms(std::string_view text, int64_t &ms);
bool valid_collection_key(std::string_view key);
/* Well-formed UTF-8 (no overlong forms, surrogates or code points above
 * U+10FFFF): the only text the file's reader accepts, so the only text that
 * may enter a copy.  Plain ASCII is decided in one pass. */
bool valid_utf8(std::string_view text);

/* Equal as values of s (so "90s" equals "90" for a duration). */
bool value_equal(const schema_node *s, std::string_view a, std::string_view b);

}  // namespace quill

#endif
