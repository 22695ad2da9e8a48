// UCI output writer of the network generator.  Every byte of the network
// file goes through these operations, and they alone decide what reaches
// it: section names follow UCI's name rule, no two sources share a section
// name, and no value can end its quotes or its line.  They append to the
// stream of a writer; the caller opens and closes that stream (write errors
// show when the caller finishes it).
//
// What cannot be written safely is left out, never written half: a section
// whose name is taken (with all of its options), or an option whose value
// holds a carriage return.  Each is logged once, naming the configuration
// path it came from, never the value (it may be a secret).
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "anvil.h"
#include "quill.h"

// Escapes of quoted values: '"' -> \", '\' -> \\, line feed -> \\n (the
// reader turns that back into a backslash and n, never into a new line).
extern const escape_pair uci_escape_table[];

// One file being written: its stream, which source took each section name,
// and the section that options go to now.
struct uci_writer {
    explicit uci_writer(FILE *stream = nullptr) : out(stream) {}

    FILE *out;
    std::unordered_map<std::string, config_node *> names;
    bool skipping = false;  // the current section was left out
    std::string type, name;
    config_node *origin = nullptr;
};

// Starts the file afresh: the writer forgets the section names of whatever
// it wrote before.
void uci_write_begin(uci_writer &w);

// The section name UCI gets for a text (new string): letters, digits and
// '_' stay, every other byte ('-' of a key, '.' of a VLAN device name)
// becomes '_'.  Options that refer to a section by name use it too.
char *uci_section_name(const char *text);

// "\nconfig <type> <name>\n" with the name formatted, then mapped by
// uci_section_name; with a null format, "\nconfig <type>\n" (anonymous).
// origin is the configuration node the section is built from (null for
// none); a name that another origin already used, or that maps to nothing,
// leaves the section out together with every option written to it.  The
// same origin may write its section again (a VLAN shared by several
// interfaces).  1 when the header was written, else 0.
int uci_write_section(uci_writer &w, const char *type, config_node *origin, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
// uci_write_section without an origin.
void uci_write_config_section_type_name(uci_writer &w, const char *type, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
// "\nconfig <type>\n": an anonymous section.
void uci_write_config_section_type(uci_writer &w, const char *type);
// "\toption <name> \"<escaped value>\"\n"
void uci_write_option_string(uci_writer &w, const char *name, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
// The same for a borrowed text, written as it is.
void uci_write_option_text(uci_writer &w, const char *name, std::string_view value);
// The same for the configuration's text at key below cfg (unset: ""); a
// message about it names that path.
void uci_write_option_config(uci_writer &w, const char *name, config_node *cfg, const char *key);
// An option that names another section, by the name UCI knows it under.
void uci_write_option_section(uci_writer &w, const char *name, const char *section);
// "\toption <name> <value>\n" in signed decimal.
void uci_write_option_int(uci_writer &w, const char *name, int value);
// As an integer option: callers pass 0 or 1.
void uci_write_option_bool(uci_writer &w, const char *name, int value);
// The list joined with sep, as one string option (a null list gives "").
void write_option_sl_list(uci_writer &w, const char *name, const sl_list *list, const char *sep);
