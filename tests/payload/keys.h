// The keys that payloads are put into, found from the schema built into the
// program, so that a key added to the schema is driven without a change
// here; and the configurations that carry them, made from a base document.
//
// A key is every scalar leaf whose text a generator may hand on as it is:
// strings (private and multi-line ones too), enumerations, references,
// addresses, prefixes, MACs and host names, and the items of arrays of
// them.  The loader takes any JSON scalar for any of these (types are
// checked by `set` and a plain commit, not by a hand-edited file or a
// forced commit), so each may hold any text.  Booleans, integers, numbers
// and durations are not keys: every read of them parses the text, and text
// that does not parse reads as 0, so none of their text reaches a file.
//
// Collections and arrays are entered through the members the base has; an
// empty one gets one member (key "payload", or element 0) so that its
// leaves are reached too.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace payload {

struct key {
    std::string path;  // dot path, array elements by index ("....hostname.1")
    unsigned type;     // schema_type
    bool multiline = false;
    // The marker: a value unique to the key, made of letters and digits, so
    // every writer takes it as it is and it can be found in any file.
    // Multi-line keys hold PEM blocks, so theirs is one.
    std::string marker;
    // The key's own part of the marker ("qzx12q"): what a value of the key
    // is recognised by in files and messages.
    std::string tag;
    // Which configuration the key is driven in: 0 for the example, else
    // one of the modes the example leaves off.
    size_t base = 0;
    // The marker with the payload text put into it.
    std::string with(const std::string &payload) const;
};

// The keys below the built-in schema's root, in schema order, with the
// base document (JSON text of a configuration) supplying the members of
// collections and arrays; markers are numbered from first.  Empty, and
// error set, when the base does not parse or does not fit the schema.
std::vector<key> keys_of(const std::string &base_json, std::string &error, size_t first = 0);

// The path with array indexes dropped ("a.b.1.c" -> "a.b.c"), as messages
// name the value of a list.
std::string without_indexes(const std::string &path);

// The base document with each path set to its value (the document is
// extended where the path leads into an absent member or a new array
// element).  JSON text.
std::string with_values(const std::string &base_json,
                        const std::vector<std::pair<std::string, std::string>> &values);

// The base document with each path set to a JSON value ("true",
// "[\"a\", \"b\"]"): the switches that turn on a mode of the
// configuration.  JSON text.
std::string with_json(const std::string &base_json,
                      const std::vector<std::pair<std::string, std::string>> &values);

// Standard Base64, as the IPsec secrets files write keys.
std::string base64(const std::string &bytes);

}  // namespace payload
