#include "uci.h"

#include <cstdarg>
#include <cstdlib>

extern "C" {

const escape_pair uci_escape_table[] = {
    {"\"", "\\\""},
    {"\\", "\\\\"},
    {"\n", "\\\\n"},
    {nullptr, nullptr},
};

void uci_write_config_section_type_name(FILE *out, const char *type, const char *fmt, ...)
{
    std::fprintf(out, "\nconfig %s ", type);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(out, fmt, ap);
    va_end(ap);
    std::fputs("\n", out);
}

void uci_write_config_section_type(FILE *out, const char *type)
{
    std::fprintf(out, "\nconfig %s\n", type);
}

void uci_write_option_string(FILE *out, const char *name, const char *fmt, ...)
{
    std::fprintf(out, "\toption %s ", name);
    char *raw = nullptr;
    va_list ap;
    va_start(ap, fmt);
    int n = vasprintf(&raw, fmt, ap);
    va_end(ap);
    unique_text value(n < 0 ? nullptr : raw);
    unique_text escaped(escape(value ? value.get() : "", uci_escape_table));
    std::fprintf(out, "\"%s\"\n", escaped ? escaped.get() : "");
}

void uci_write_option_int(FILE *out, const char *name, int value)
{
    std::fprintf(out, "\toption %s %d\n", name, value);
}

void uci_write_option_bool(FILE *out, const char *name, int value)
{
    std::fprintf(out, "\toption %s %d\n", name, value);
}

void write_option_sl_list(FILE *out, const char *name, const sl_list *list, const char *sep)
{
    unique_text joined(sl_join(list, sep));
    uci_write_option_string(out, name, "%s", joined ? joined.get() : "");
}

}
