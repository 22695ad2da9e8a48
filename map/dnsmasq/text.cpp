#include "text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "dnsmasq.h"

extern "C" char *dnsmasq_escape(const char *text)
{
    if (!text || !std::strpbrk(text, "\\\""))
        return nullptr;
    size_t len = std::strlen(text);
    auto *copy = static_cast<char *>(std::malloc(2 * len + 1));
    if (!copy)
        return nullptr;
    char *p = copy;
    for (const char *s = text; *s; ++s) {
        if (*s == '\\' || *s == '"')
            *p++ = '\\';
        *p++ = *s;
    }
    *p = '\0';
    return copy;
}

namespace dnsmasq {

bool has_line_break(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool fits_line(std::string_view value, std::string_view what, std::string_view owner)
{
    if (!has_line_break(value))
        return true;
    std::string w(what), o(owner);
    log_error("Ignoring %s of '%s': the value holds a line break", w.c_str(), o.c_str());
    return false;
}

std::string regroup_hex(std::string_view hex)
{
    std::string out;
    out.reserve(hex.size() + hex.size() / 2);
    for (size_t i = 0; i < hex.size(); ++i) {
        out += hex[i];
        if (i % 2 == 1 && i + 1 < hex.size())
            out += ':';
    }
    return out;
}

std::string range_tag(std::string_view tag)
{
    bool hex_only = !tag.empty() && tag.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    return hex_only ? "set:" + std::string(tag) : std::string(tag);
}

escaped::escaped(const char *text) : text_(text ? text : ""), copy_(dnsmasq_escape(text)) {}

std::string escaped::field() const
{
    if (!copy_)
        return text_;
    return std::string("\"") + copy_.get() + "\"";
}

}  // namespace dnsmasq
