// What a value may hold in the IPsec files and how it is written there.
#include "ipsec_writer.h"

#include <cstring>

#include "anvil.h"
#include "quill.h"

namespace ipsec {
namespace {

constexpr auto npos = std::string_view::npos;

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != npos; }

bool in_range(unsigned char c, char lo, char hi)
{
    return c >= static_cast<unsigned char>(lo) && c <= static_cast<unsigned char>(hi);
}

bool word_char(unsigned char c, const char *extra)
{
    return in_range(c, 'a', 'z') || in_range(c, 'A', 'Z') || in_range(c, '0', '9') ||
           (c && strchr(extra, c));
}

bool all_of(std::string_view s, const char *extra)
{
    for (unsigned char c : s)
        if (!word_char(c, extra))
            return false;
    return true;
}

// One message per value left out.  It names where the value came from and
// what was left out, never the value.
void report(const text_file &out, std::string_view from, const char *why, leave_out unit,
            std::string_view option)
{
    if (unit == LEAVE_OUT_OPTION)
        log_error("tunnel '%s': %.*s cannot be written to %s (%s); option %.*s left out",
                  out.tunnel, static_cast<int>(from.size()), from.data(), out.path, why,
                  static_cast<int>(option.size()), option.data());
    else
        log_error("tunnel '%s': %.*s cannot be written to %s (%s). Skipping tunnel", out.tunnel,
                  static_cast<int>(from.size()), from.data(), out.path, why);
}

bool put(const text_file &out, const std::string &line)
{
    return fwrite(line.data(), 1, line.size(), out.f) == line.size();
}

// ---- ipsec.conf ---------------------------------------------------------

// A bare value ends at a blank, `#` starts a comment, and `=` or `"` stop
// the parser.
bool conf_bare(std::string_view v) { return v.find_first_of(" \t\"#=") == npos; }

void conf_quote(std::string &out, std::string_view v)
{
    out += '"';
    for (char c : v) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

// Words the shell takes as they are.
bool shell_plain(std::string_view w) { return !w.empty() && all_of(w, "%+,./:=@_-"); }

void shell_quote(std::string &out, std::string_view w)
{
    out += '\'';
    for (char c : w) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
}

// ---- ipsec.secrets --------------------------------------------------------

const char *selector_problem(std::string_view v)
{
    if (has_line_break(v))
        return "line break";
    // The parser looks for the first " : " of the line, quotes or not.
    if (v.find(" : ") != npos)
        return "holds \" : \"";
    if (v.find('"') != npos && v.find('\'') != npos)
        return "holds both kinds of quote";
    return nullptr;
}

void append_selector(std::string &line, std::string_view v)
{
    // "include" or ":" first on a line would change what the line is.
    bool bare = v.find_first_of(" \t\"'#") == npos && v != "include" && v != ":";
    if (v.empty() || bare) {
        line += v;
        return;
    }
    char q = v.find('"') == npos ? '"' : '\'';
    line += q;
    line += v;
    line += q;
}

}  // namespace

bool plain_name(std::string_view name)
{
    return !name.empty() && name.size() <= 64 && all_of(name, "_-");
}

namespace {

bool conf_option_of(const text_file &out, const part &key, const part *begin, const part *end,
                    quoting quote, leave_out unit)
{
    if (key.text.empty() || !all_of(key.text, "_")) {
        report(out, key.from, "not an option name", LEAVE_OUT_TUNNEL, key.text);
        return false;
    }
    std::string text;
    for (const part *p = begin; p != end; ++p) {
        if (has_line_break(p->text)) {
            report(out, p->from.empty() ? key.text : p->from, "line break", unit, key.text);
            return false;
        }
        if (p->shell_word && !shell_plain(p->text))
            shell_quote(text, p->text);
        else
            text += p->text;
    }
    std::string line = "\t";
    line += key.text;
    line += '=';
    if (quote == QUOTE_ALWAYS || !conf_bare(text))
        conf_quote(line, text);
    else
        line += text;
    line += '\n';
    return put(out, line);
}

}  // namespace

bool conf_option(const text_file &out, part key, std::initializer_list<part> value, quoting quote,
                 leave_out unit)
{
    return conf_option_of(out, key, value.begin(), value.end(), quote, unit);
}

bool conf_option(const text_file &out, part key, const std::vector<part> &value, quoting quote,
                 leave_out unit)
{
    return conf_option_of(out, key, value.data(), value.data() + value.size(), quote, unit);
}

std::string conf_unquote(std::string_view value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return std::string(value);
    std::string out;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 2 < value.size()) {
            c = value[++i];
            c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
        out += c;
    }
    return out;
}

bool conf_section(const text_file &out, std::initializer_list<part> name)
{
    std::string line = "conn ";
    for (const part &p : name) {
        if (!all_of(p.text, "_-.%")) {
            report(out, p.from, "not a plain name", LEAVE_OUT_TUNNEL, {});
            return false;
        }
        line += p.text;
    }
    line += '\n';
    return put(out, line);
}

bool secrets_entry(const text_file &out, std::initializer_list<part> selectors,
                   std::string_view rest)
{
    std::string line;
    bool first = true;
    for (const part &s : selectors) {
        if (const char *why = selector_problem(s.text)) {
            report(out, s.from, why, LEAVE_OUT_TUNNEL, {});
            return false;
        }
        if (!first)
            line += ' ';
        first = false;
        append_selector(line, s.text);
    }
    line += " : ";
    line += rest;
    line += '\n';
    return put(out, line);
}

std::string secrets_base64(std::string_view secret)
{
    unique_text encoded(config_base64_encode(secret.data(), secret.size()));
    std::string out = "0s";
    if (encoded)
        out += encoded.get();
    return out;
}

std::string secrets_text(std::string_view secret)
{
    if (secret.find_first_of("\"\r\n") != npos)
        return secrets_base64(secret);
    std::string out = "\"";
    out += secret;
    out += '"';
    return out;
}

}  // namespace ipsec
