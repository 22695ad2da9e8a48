/* What a configured value may hold in each file the PAM generator writes,
 * and how it is written there.  A value that cannot be written safely is
 * left out with one message naming its configuration path, never the value
 * (most of them are secrets). */
#include <cctype>
#include <string>
#include "pam_internal.h"

namespace pam {

namespace {

/* PAM's own quoting inside a bracketed argument: only "]" ends it. */
const escape_pair bracket_escape[] = {
    {"]", "\\]"},
    {nullptr, nullptr},
};

void left_out(std::string_view path, const char *why)
{
    log_error("%.*s: %s; left out", int(path.size()), path.data(), why);
}

/* Every file here is read line by line. */
const char *line_refusal(std::string_view v)
{
    for (char c : v) {
        if (c == '\n' || c == '\r')
            return "the value holds a line break";
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            return "the value holds a control character";
        if (c == 0x7f)
            return "the value holds a control character";
    }
    return nullptr;
}

/* The escaped copy, appended; false when there was no memory for it. */
bool append_escaped(std::string &out, const char *value, std::string_view path)
{
    unique_text copy(escape(value, bracket_escape));
    if (!copy) {
        left_out(path, "cannot escape the value");
        return false;
    }
    out += copy.get();
    return true;
}

}  // namespace

bool host_ok(std::string_view host)
{
    if (host.empty())
        return false;
    for (char ch : host) {
        bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                  (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' || ch == ':' ||
                  ch == '%';
        if (!ok)
            return false;
    }
    return true;
}

std::string host_port(std::string_view host, int port)
{
    /* An IPv6 address needs brackets to keep its colons apart from the
     * port. */
    bool v6 = host.find(':') != std::string_view::npos;
    std::string out;
    if (v6)
        out += '[';
    out += host;
    if (v6)
        out += ']';
    out += ':' + std::to_string(port);
    return out;
}

bool module_arg(std::string &out, const char *name, const char *value, std::string_view path,
                bool bracket)
{
    std::string_view v = value ? value : "";
    const char *why = line_refusal(v);
    /* Linux-PAM ends a rule at the first '#', brackets or not, and has no
     * way to quote one. */
    if (!why && v.find('#') != std::string_view::npos)
        why = "the value holds '#', which ends a PAM rule";
    /* Inside brackets "\]" is a bracket, so a trailing backslash would run
     * the argument on into the rest of the rule; at the end of a line it
     * joins the next line to the rule. */
    if (!why && !v.empty() && v.back() == '\\')
        why = "the value ends in a backslash, which PAM would read as part of what follows";
    /* Arguments are split at blanks and tabs, except inside "[...]". */
    bracket = bracket || v.find_first_of(" \t") != std::string_view::npos;
    if (why) {
        left_out(path, why);
        return false;
    }
    if (!bracket) {
        out += name;
        out += '=';
        out += v;
        return true;
    }
    out += '[';
    out += name;
    out += '=';
    if (!append_escaped(out, v.data(), path))
        return false;
    out += ']';
    return true;
}

bool radius_field(std::string &out, const char *value, std::string_view path)
{
    std::string_view v = value ? value : "";
    const char *why = line_refusal(v);
    /* The RADIUS module reads each line as fields split at white space:
     * an empty or split field shifts every field after it. */
    if (!why && v.empty())
        why = "the value is empty, which would shift the fields after it";
    for (size_t i = 0; !why && i < v.size(); ++i)
        if (std::isspace(static_cast<unsigned char>(v[i])))
            why = "the value holds a blank, which would split it into two fields";
    if (why) {
        left_out(path, why);
        return false;
    }
    /* Secrets have each ']' written as in a bracketed rule argument. */
    return append_escaped(out, v.data(), path);
}

bool ldap_value(std::string &out, const char *value, std::string_view path)
{
    std::string_view v = value ? value : "";
    const char *why = line_refusal(v);
    /* The LDAP module takes the rest of the line after the keyword, without
     * the blanks around it: a value that starts or ends with one would
     * lose it. */
    if (!why && !v.empty() &&
        (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t'))
        why = "the value starts or ends with a blank, which the LDAP module drops";
    if (why) {
        left_out(path, why);
        return false;
    }
    out += v;
    return true;
}

}  // namespace pam
