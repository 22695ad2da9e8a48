#include "uci.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

bool name_byte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Option names are the generator's own words; a wrong one is a bug here,
// but it must still not reach the file.
bool valid_name(const char *name)
{
    if (!name || !*name)
        return false;
    for (const char *p = name; *p; p++)
        if (!name_byte(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

std::string path_of(config_node *node)
{
    unique_text path(node ? config_path(node) : nullptr);
    return path && *path ? std::string(path.get()) : std::string("(no configuration)");
}

// Where the current section comes from, for messages.
std::string current_section(const uci_writer &w)
{
    std::string where = w.name.empty() ? "a " + w.type + " section" : "section " + w.name;
    return w.origin ? path_of(w.origin) + " (" + where + ")" : where;
}

std::string format(const char *fmt, va_list ap)
{
    char *raw = nullptr;
    int n = vasprintf(&raw, fmt, ap);
    unique_text owner(n < 0 ? nullptr : raw);
    return owner ? std::string(owner.get(), static_cast<size_t>(n)) : std::string();
}

std::string map_name(std::string_view text)
{
    std::string name(text);
    for (char &c : name)
        if (!name_byte(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

int write_section(uci_writer &w, const char *type, config_node *origin, const std::string *raw_name)
{
    w.skipping = false;
    w.type = type ? type : "";
    w.origin = origin;
    w.name.clear();
    if (!valid_name(type)) {
        log_error("%s: section type \"%s\" is not a UCI name; section left out",
                  path_of(origin).c_str(), type ? type : "");
        w.skipping = true;
        return 0;
    }
    if (!raw_name) {
        std::fprintf(w.out, "\nconfig %s\n", type);
        return 1;
    }
    w.name = map_name(*raw_name);
    if (w.name.empty()) {
        log_error("%s: empty %s section name; section left out", path_of(origin).c_str(), type);
        w.skipping = true;
        return 0;
    }
    // A source may write its section again (UCI merges the two); another
    // source with the same name would silently merge into it instead.
    auto [it, fresh] = w.names.emplace(w.name, origin);
    if (!fresh && (it->second != origin || !origin)) {
        log_error("%s: section name %s is already used by %s; section left out",
                  path_of(origin).c_str(), w.name.c_str(), path_of(it->second).c_str());
        w.skipping = true;
        return 0;
    }
    std::fprintf(w.out, "\nconfig %s %s\n", type, w.name.c_str());
    return 1;
}

// Whether an option may be written now; logs why not.
bool option_allowed(const uci_writer &w, const char *name)
{
    if (w.skipping)
        return false;
    if (!valid_name(name)) {
        log_error("%s: option name \"%s\" is not a UCI name; option left out",
                  current_section(w).c_str(), name ? name : "");
        return false;
    }
    return true;
}

// The escape table keeps every value inside its quotes and on its line,
// except a carriage return, which UCI cannot escape (a backslash before it
// reads back as the letter r).  Such a value has no sensible meaning in any
// option, so the option is left out.  where() names the source.
template <typename Where>
void write_value(uci_writer &w, const char *name, const char *value, Where where)
{
    const char *special = std::strpbrk(value, "\"\\\n\r");
    if (special && std::strchr(special, '\r')) {
        log_error("%s holds a carriage return; option %s left out", where().c_str(), name);
        return;
    }
    // Most values need no escape at all: no copy for them.
    unique_text escaped(special ? escape(value, uci_escape_table) : nullptr);
    std::fprintf(w.out, "\toption %s \"%s\"\n", name,
                 special ? (escaped ? escaped.get() : "") : value);
}

}  // namespace

const escape_pair uci_escape_table[] = {
    {"\"", "\\\""},
    {"\\", "\\\\"},
    {"\n", "\\\\n"},
    {nullptr, nullptr},
};

void uci_write_begin(uci_writer &w) { w = uci_writer(w.out); }

char *uci_section_name(const char *text) { return strdup(map_name(text ? text : "").c_str()); }

int uci_write_section(uci_writer &w, const char *type, config_node *origin, const char *fmt, ...)
{
    if (!fmt)
        return write_section(w, type, origin, nullptr);
    va_list ap;
    va_start(ap, fmt);
    std::string name = format(fmt, ap);
    va_end(ap);
    return write_section(w, type, origin, &name);
}

void uci_write_config_section_type_name(uci_writer &w, const char *type, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string name = format(fmt, ap);
    va_end(ap);
    write_section(w, type, nullptr, &name);
}

void uci_write_config_section_type(uci_writer &w, const char *type)
{
    write_section(w, type, nullptr, nullptr);
}

void uci_write_option_string(uci_writer &w, const char *name, const char *fmt, ...)
{
    if (!option_allowed(w, name))
        return;
    va_list ap;
    va_start(ap, fmt);
    // Nearly every caller passes its value through "%s": no need to format.
    std::string formatted;
    const char *value = nullptr;
    if (std::strcmp(fmt, "%s") == 0) {
        value = va_arg(ap, const char *);
        if (!value)
            value = "(null)";  // what printf writes for it
    } else {
        formatted = format(fmt, ap);
        value = formatted.c_str();
    }
    va_end(ap);
    write_value(w, name, value, [&w] { return "a value of " + current_section(w); });
}

void uci_write_option_text(uci_writer &w, const char *name, std::string_view value)
{
    if (!option_allowed(w, name))
        return;
    std::string copy(value);
    write_value(w, name, copy.c_str(), [&w] { return "a value of " + current_section(w); });
}

void uci_write_option_config(uci_writer &w, const char *name, config_node *cfg, const char *key)
{
    if (!option_allowed(w, name))
        return;
    const char *value = config_get_string(cfg, key);
    write_value(w, name, value ? value : "", [cfg, key] {
        unique_text base(config_path(cfg));
        return base && *base ? std::string(base.get()) + "." + key : std::string(key);
    });
}

void uci_write_option_section(uci_writer &w, const char *name, const char *section)
{
    uci_write_option_text(w, name, map_name(section ? section : ""));
}

void uci_write_option_int(uci_writer &w, const char *name, int value)
{
    if (option_allowed(w, name))
        std::fprintf(w.out, "\toption %s %d\n", name, value);
}

void uci_write_option_bool(uci_writer &w, const char *name, int value)
{
    uci_write_option_int(w, name, value);
}

void write_option_sl_list(uci_writer &w, const char *name, const sl_list *list, const char *sep)
{
    unique_text joined(sl_join(list, sep));
    uci_write_option_string(w, name, "%s", joined ? joined.get() : "");
}
