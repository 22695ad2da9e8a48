#include "shape.h"

#include <sstream>
#include <vector>

#include "nsrun.h"
#include "openvpn_check.h"
#include "uci_check.h"

namespace payload {

namespace {

using nsrun::lines_of;

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

struct reader {
    shape s;
    int line_no = 0;

    void unit(const std::string &u) { s.units.insert(u); }
    void units(const std::string &u, size_t n)
    {
        for (size_t i = 0; i < n; i++)
            s.units.insert(u);
    }
    void fail(const std::string &why, const std::string &line)
    {
        if (s.error.empty())
            s.error = "line " + std::to_string(line_no) + ": " + why + ": " + line;
    }
};

// Words of a shell command line (what /bin/sh would split it into), and
// whether an expansion or operator stands outside quotes.
std::vector<std::string> shell_words(const std::string &text, bool &active)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    active = false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (blank(c)) {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            size_t close = text.find('\'', i + 1);
            if (close == std::string::npos) {
                active = true;
                return words;
            }
            word += text.substr(i + 1, close - i - 1);
            i = close;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
        } else {
            if (std::string("\"$`;|&<>(){}*?[~#").find(c) != std::string::npos)
                active = true;
            word += c;
        }
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// ipsec.conf and connection files: "config setup", "conn NAME", "include
// PATH", and indented "key=value" with the value bare (no blank, quote,
// '=' or '#') or in double quotes with backslash escapes.
void ipsec_conf(reader &r, const std::string &text)
{
    std::string conn;
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty())
            continue;
        if (!blank(line[0])) {
            if (line == "config setup") {
                conn = "setup";
                r.unit("config setup");
            } else if (starts_with(line, "conn ") &&
                       line.find_first_of(" \t\"#=", 5) == std::string::npos) {
                conn = line.substr(5);
                r.unit("conn " + conn);
            } else if (starts_with(line, "include ") &&
                       line.find_first_of(" \t\"#", 8) == std::string::npos) {
                r.unit("include");
            } else {
                r.fail("not a section, include or option", line);
            }
            continue;
        }
        size_t start = line.find_first_not_of(" \t");
        size_t eq = line.find('=', start);
        std::string key = eq == std::string::npos ? "" : line.substr(start, eq - start);
        if (key.empty() ||
            key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos) {
            r.fail("not an option", line);
            continue;
        }
        std::string raw = line.substr(eq + 1), value;
        if (!raw.empty() && raw[0] == '"') {
            size_t i = 1;
            for (; i < raw.size() && raw[i] != '"'; i++)
                value += raw[i] == '\\' && i + 1 < raw.size() ? raw[++i] : raw[i];
            if (i >= raw.size() || i + 1 != raw.size()) {
                r.fail("quoted value not closed at the line's end", line);
                continue;
            }
        } else {
            if (raw.find_first_of(" \t\"=#") != std::string::npos) {
                r.fail("bare value with a blank, quote, '=' or '#'", line);
                continue;
            }
            value = raw;
        }
        r.unit("conn " + conn + " " + key);
        if (key == "leftupdown" || key == "rightupdown") {
            bool active;
            auto words = shell_words(value, active);
            if (active)
                r.fail("the updown command line holds unquoted shell syntax", line);
            r.units("conn " + conn + " " + key + " +word", words.empty() ? 0 : words.size() - 1);
        }
    }
}

// Secrets files: "include PATH", or "SELECTOR... : TYPE REST" where the
// first " : " ends the selectors, each selector bare or in double or single
// quotes (no escapes), and REST the secret's words.
std::vector<std::string> secret_words(reader &r, const std::string &text, const std::string &line,
                                      bool &ok)
{
    std::vector<std::string> out;
    ok = true;
    for (size_t i = 0; i < text.size();) {
        if (blank(text[i])) {
            i++;
            continue;
        }
        size_t end;
        if (text[i] == '"' || text[i] == '\'') {
            end = text.find(text[i], i + 1);
            if (end == std::string::npos) {
                r.fail("unterminated quote", line);
                ok = false;
                return out;
            }
            end++;
            if (end < text.size() && !blank(text[end])) {
                r.fail("quote not followed by a blank", line);
                ok = false;
                return out;
            }
        } else {
            end = text.find_first_of(" \t", i);
            if (end == std::string::npos)
                end = text.size();
            if (text.substr(i, end - i).find_first_of("\"'") != std::string::npos) {
                r.fail("quote inside a bare word", line);
                ok = false;
                return out;
            }
        }
        out.push_back(text.substr(i, end - i));
        i = end;
    }
    return out;
}

void ipsec_secrets(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty())
            continue;
        if (starts_with(line, "include ")) {
            r.unit("include");
            continue;
        }
        // An entry without selectors (" : XAUTH ...") is one for any peer.
        size_t colon = line.find(" : ");
        if (colon == std::string::npos || (blank(line[0]) && colon != 0)) {
            r.fail("no selectors and secret", line);
            continue;
        }
        bool ok;
        auto selectors = secret_words(r, line.substr(0, colon), line, ok);
        if (!ok)
            continue;
        for (size_t i = 1; i < selectors.size(); i++)
            if (selectors[i][0] == '#')
                r.fail("selector starting with '#'", line);
        auto rest = secret_words(r, line.substr(colon + 3), line, ok);
        if (!ok || rest.empty()) {
            r.fail("no secret type", line);
            continue;
        }
        r.unit("entry " + rest[0]);
        r.units("entry " + rest[0] + " +selector", selectors.size());
        r.units("entry " + rest[0] + " +word", rest.size() - 1);
    }
}

// dnsmasq: "directive[=value]"; the value's fields end at commas outside
// double quotes (a backslash escapes inside them), and a '#' after a blank
// outside quotes starts a comment.  Lines are read up to 1024 bytes.
void dnsmasq_conf(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty())
            continue;
        if (line[0] == '#') {
            r.unit("# comment");
            continue;
        }
        if (line.size() > 1024)
            r.fail("longer than dnsmasq reads", line.substr(0, 60));
        size_t eq = line.find('=');
        std::string directive = line.substr(0, eq);
        if (directive.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") !=
            std::string::npos) {
            r.fail("not a directive", line);
            continue;
        }
        r.unit(directive);
        if (eq == std::string::npos)
            continue;
        size_t fields = 1;
        bool quoted = false, comment = false;
        for (size_t i = eq + 1; i < line.size() && !comment; i++) {
            char c = line[i];
            if (quoted) {
                if (c == '\\')
                    i++;
                else if (c == '"')
                    quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',') {
                fields++;
            } else if (c == '#' && blank(line[i - 1])) {
                comment = true;
            }
        }
        if (quoted)
            r.fail("unterminated quote", line);
        r.units(directive + " +field", fields - 1);
        if (comment)
            r.unit(directive + " #comment");
    }
}

// OpenVPN: one directive per line, split at blanks with quotes and
// backslashes honoured; inline blocks.
void openvpn_file(reader &r, const std::string &text)
{
    auto p = ovpn_check::parse(text);
    if (!p.error.empty())
        r.fail(p.error, "");
    for (const auto &d : p.directives) {
        r.unit(d.name);
        size_t words = 0;
        bool in_word = false;
        char quote = 0;
        for (size_t i = 0; i < d.rest.size(); i++) {
            char c = d.rest[i];
            if (quote) {
                if (c == '\\' && quote == '"')
                    i++;
                else if (c == quote)
                    quote = 0;
                continue;
            }
            if (c == '#' || c == ';') {
                if (!in_word)
                    break;
            }
            if (blank(c) || c == '\r' || c == '\v' || c == '\f') {
                in_word = false;
                continue;
            }
            if (!in_word)
                words++;
            in_word = true;
            if (c == '"' || c == '\'')
                quote = c;
            else if (c == '\\')
                i++;
        }
        if (quote)
            r.fail("unterminated quote", d.name + " " + d.rest);
        r.units(d.name + " +arg", words);
    }
    for (const auto &b : p.blocks)
        r.unit("<" + b.tag + ">");
}

// A PAM rule: service, type, control ("[...]" may hold blanks), module and
// arguments split at blanks, except inside "[...]" where "\]" is ']'; a
// '#' ends the rule.
void pam_conf(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        std::vector<std::string> words;
        std::string word;
        bool in_word = false;
        for (size_t i = 0; i < line.size(); i++) {
            char c = line[i];
            if (c == '#')
                break;
            if (blank(c)) {
                if (in_word)
                    words.push_back(word);
                word.clear();
                in_word = false;
                continue;
            }
            if (c == '[' && !in_word) {
                size_t j = i + 1;
                std::string inner;
                for (; j < line.size() && line[j] != ']'; j++)
                    inner += line[j] == '\\' && j + 1 < line.size() && line[j + 1] == ']'
                                 ? line[++j]
                                 : line[j];
                if (j >= line.size()) {
                    r.fail("unterminated '['", line);
                    break;
                }
                words.push_back("[" + inner + "]");
                i = j;
                continue;
            }
            in_word = true;
            word += c;
        }
        if (in_word)
            words.push_back(word);
        if (words.empty())
            continue;
        if (words.size() < 4) {
            r.fail("not a rule", line);
            continue;
        }
        std::string rule = words[0] + " " + words[1] + " " + words[3];
        r.unit(rule);
        for (size_t i = 4; i < words.size(); i++) {
            std::string arg = words[i];
            if (arg.size() > 1 && arg[0] == '[')
                arg = arg.substr(1);
            r.unit(rule + " " + arg.substr(0, arg.find('=')));
        }
    }
}

// Files of blank-separated fields, one record a line.
void field_lines(reader &r, const std::string &text, const std::string &name)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty() || line[0] == '#')
            continue;
        r.unit(name);
        size_t fields = 0;
        for (size_t i = 0; i < line.size(); i++)
            if (!blank(line[i]) && (i == 0 || blank(line[i - 1])))
                fields++;
        r.units(name + " +field", fields ? fields - 1 : 0);
        if (name == "sniffer") {
            size_t commas = 0;
            for (char c : line.substr(0, line.find(' ')))
                commas += c == ',';
            r.units(name + " +domain", commas);
        }
    }
}

// Modem service providers: comma fields, then blank-separated
// name='value' attributes in shell quotes.
void providers(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty())
            continue;
        size_t fields = 0, pos = 0;
        for (; fields < 5; fields++) {
            size_t comma = line.find(',', pos);
            if (comma == std::string::npos)
                break;
            pos = comma + 1;
        }
        size_t blank_at = line.find(' ', pos);
        std::string attrs = blank_at == std::string::npos ? "" : line.substr(blank_at + 1);
        if (line.substr(pos, blank_at - pos).find(',') == std::string::npos)
            r.fail("fewer fields than a record has", line);
        bool active;
        auto words = shell_words(attrs, active);
        r.unit("record");
        r.units("record +attr", words.size());
        for (const auto &w : words)
            if (w.find('=') == std::string::npos)
                r.fail("attribute without '='", line);
    }
}

void ldap_conf(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        if (line.empty() || line[0] == '#')
            continue;
        r.unit("ldap " + line.substr(0, line.find_first_of(" \t")));
    }
}

void plain_lines(reader &r, const std::string &text)
{
    for (const auto &line : lines_of(text)) {
        r.line_no++;
        (void)line;
        r.unit("line");
    }
}

}  // namespace

shape shape_of(const std::string &path, const std::string &text)
{
    reader r;
    r.unit("file");
    const std::string tree = "/var/run/ipsec.d/";
    bool inline_blocks =
        starts_with(path, "/var/run/config_file_") || starts_with(path, "/var/run/openvpn/");
    // Key and certificate files of the tree are PEM as the user gave it,
    // which may end its lines with CR LF; their readers take that.
    bool credentials = starts_with(path, tree) && !starts_with(path, tree + "conf/") &&
                       !starts_with(path, tree + "secrets/");
    if (!inline_blocks && !credentials && text.find('\r') != std::string::npos)
        r.fail("carriage return", "");
    if (text.find('\0') != std::string::npos)
        r.fail("NUL byte", "");
    if (path == "/var/run/uci/network") {
        auto u = uci::parse(text);
        if (!u.error.empty())
            r.fail(u.error, "");
        for (const auto &sec : u.sections) {
            r.unit("config " + sec.type + " " + sec.name);
            for (const auto &o : sec.options)
                r.unit("option " + sec.type + " " + sec.name + " " + o.name);
        }
    } else if (path == "/var/run/ipsec.conf" ||
               (starts_with(path, tree + "conf/") && ends_with(path, ".conf"))) {
        ipsec_conf(r, text);
    } else if (path == "/var/run/ipsec.secrets" || starts_with(path, tree + "secrets/")) {
        ipsec_secrets(r, text);
    } else if (path == "/var/run/dnsmasq.conf") {
        dnsmasq_conf(r, text);
    } else if (path == "/var/run/hostnamesniffer.cfg") {
        field_lines(r, text, "sniffer");
    } else if (inline_blocks) {
        openvpn_file(r, text);
    } else if (starts_with(path, "/var/run/serviceproviders-")) {
        providers(r, text);
    } else if (path == "/var/run/pam.conf") {
        pam_conf(r, text);
    } else if (path == "/var/run/radius.conf") {
        field_lines(r, text, "radius");
    } else if (path == "/var/run/ldap.conf") {
        ldap_conf(r, text);
    } else if (!starts_with(path, tree)) {
        plain_lines(r, text);
    }
    return r.s;
}

std::multiset<std::string> missing(const std::multiset<std::string> &a,
                                   const std::multiset<std::string> &b)
{
    std::multiset<std::string> out;
    for (auto it = a.begin(); it != a.end(); it = a.upper_bound(*it)) {
        size_t na = a.count(*it), nb = b.count(*it);
        for (size_t i = nb; i < na; i++)
            out.insert(*it);
    }
    return out;
}

unsigned documented_mode(const std::string &path, bool directory)
{
    const std::string tree = "/var/run/ipsec.d";
    if (path == tree || starts_with(path, tree + "/"))
        return directory ? 0755
               : starts_with(path, tree + "/secrets/") || starts_with(path, tree + "/private/")
                   ? 0600
                   : 0644;
    if (directory)
        return 0;
    static const std::map<std::string, unsigned> fixed = {
        {"/var/run/dnsmasq.conf", 0644}, {"/var/run/hostnamesniffer.cfg", 0644},
        {"/var/run/ipsec.conf", 0644},   {"/var/run/ipsec.secrets", 0600},
        {"/var/run/uci/network", 0600},  {"/var/run/pam.conf", 0600},
        {"/var/run/radius.conf", 0600},  {"/var/run/ldap.conf", 0600},
    };
    auto it = fixed.find(path);
    if (it != fixed.end())
        return it->second;
    for (const char *secret :
         {"/var/run/config_file_", "/var/run/userpass_", "/var/run/serviceproviders-"})
        if (starts_with(path, secret))
            return 0600;
    if (starts_with(path, "/var/run/openvpn/"))
        return 0644;
    return 0;
}

}  // namespace payload
