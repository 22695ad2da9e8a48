#include "text.h"

#include <arpa/inet.h>
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

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool hex_digit(char c) { return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool name_char(char c)
{
    return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
           c == '_';
}

template <typename Pred>
bool made_of(std::string_view s, Pred ok)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (!ok(c))
            return false;
    return true;
}

bool ip(std::string_view s, int family)
{
    char buf[64];
    unsigned char out[16];
    if (s.size() >= sizeof buf)
        return false;
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    return inet_pton(family, buf, out) == 1;
}

// dnsmasq refuses the whole file on a name with a label of more than 63
// bytes, as DNS has no room for it.
bool dns_name(std::string_view s, bool wildcard)
{
    size_t label = 0;
    for (char c : s) {
        if (c == '.')
            label = 0;
        else if (++label > 63 || !(name_char(c) || (wildcard && c == '*')))
            return false;
    }
    return !s.empty();
}

bool any_ip(std::string_view s) { return ip(s, AF_INET) || ip(s, AF_INET6); }

// "<address>[#<port>]"
bool ip_port(std::string_view s)
{
    size_t hash = s.find('#');
    if (hash == std::string_view::npos)
        return any_ip(s);
    std::string_view port = s.substr(hash + 1);
    return any_ip(s.substr(0, hash)) && port.size() <= 5 && made_of(port, digit);
}

// "<address>[#<port>]" followed by "@<source address>[#<port>]" or
// "@<interface>" parts.
bool server_address(std::string_view s)
{
    size_t at = s.find('@');
    if (!ip_port(s.substr(0, at)))
        return false;
    while (at != std::string_view::npos) {
        s = s.substr(at + 1);
        at = s.find('@');
        std::string_view part = s.substr(0, at);
        if (!ip_port(part) && !made_of(part, name_char))
            return false;
    }
    return true;
}

bool control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Outside double quotes these end a field, start a quoted part or a
// comment, or are read as an escape.
bool needs_quotes(std::string_view s)
{
    return s.find_first_of(" \",#\\") != std::string_view::npos;
}

// Why value cannot be written as f, or null when it can.
const char *refusal(const char *value, field f)
{
    if (!text_is_one_line(value))
        return "the value holds a line break";
    std::string_view v = text_or_empty(value);
    for (char c : v)
        if (control(c))
            return "the value holds a control character";
    switch (f) {
    case field::ipv4:
        return ip(v, AF_INET) ? nullptr : "the value is not an IPv4 address";
    case field::ipv4_prefix: {
        size_t slash = v.find('/');
        std::string_view length = slash == std::string_view::npos ? "0" : v.substr(slash + 1);
        return ip(v.substr(0, slash), AF_INET) && length.size() <= 2 && made_of(length, digit) &&
                       std::atoi(std::string(length).c_str()) <= 32
                   ? nullptr
                   : "the value is not an IPv4 address";
    }
    case field::address:
        return any_ip(v) ? nullptr : "the value is not an IP address";
    case field::name:
        return dns_name(v, false) ? nullptr : "the value is not a host or domain name";
    case field::host:
        return dns_name(v, false) && v[0] != '-' && v[0] != '_' && v[0] != '.'
                   ? nullptr
                   : "the value is not a host name";
    case field::domain:
        return dns_name(v, true) ? nullptr : "the value is not a domain";
    case field::server:
        return server_address(v) ? nullptr : "the value is not a server address";
    case field::mac:
        return made_of(v, [](char c) { return hex_digit(c) || c == ':' || c == '-' || c == '*'; })
                   ? nullptr
                   : "the value is not a hardware address";
    case field::hex:
        return made_of(v, hex_digit) ? nullptr : "the value is not hexadecimal digits";
    case field::text:
    case field::quoted:
    case field::comment:
        return nullptr;
    }
    return "the value has no known field";
}

}  // namespace

std::string path_of(const origin &from)
{
    unique_text base(config_path(from.node));
    std::string path = base ? base.get() : "";
    if (!from.key.empty()) {
        if (!path.empty())
            path += '.';
        path += from.key;
    }
    if (from.item >= 0)
        path += '.' + std::to_string(from.item);
    return path;
}

void ignore(const origin &from, const char *why)
{
    log_error("Ignoring %s: %s", path_of(from).c_str(), why);
}

bool fits(const char *value, field f) { return refusal(value, f) == nullptr; }

bool check(const char *value, field f, const origin &from)
{
    const char *why = refusal(value, f);
    if (why)
        ignore(from, why);
    return !why;
}

bool put(std::string &line, const char *value, field f, const origin &from)
{
    if (!check(value, f, from))
        return false;
    std::string_view v = text_or_empty(value);
    if (f == field::quoted || (f == field::text && needs_quotes(v))) {
        // Inside double quotes dnsmasq reads \\ and \" and hides the
        // commas and '#' that would otherwise end the value.
        unique_text copy(dnsmasq_escape(value));
        if (v.find_first_of("\\\"") != std::string_view::npos && !copy) {
            ignore(from, "out of memory");
            return false;
        }
        line += '"';
        line += copy ? std::string_view(copy.get()) : v;
        line += '"';
    } else {
        line += v;
    }
    return true;
}

bool write_line(std::FILE *out, std::string_view line, const origin &from)
{
    if (line.size() > max_line) {
        ignore(from, "its line would be longer than dnsmasq reads");
        return false;
    }
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    return true;
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
    bool hex_only =
        !tag.empty() && tag.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    return hex_only ? "set:" + std::string(tag) : std::string(tag);
}

}  // namespace dnsmasq
