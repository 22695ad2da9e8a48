#include "uci_check.h"

namespace uci {

namespace {

bool name_byte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(const std::string &line, size_t &pos)
{
    while (pos < line.size() && blank(line[pos]))
        pos++;
}

// A bare word from pos up to a blank or the end.
std::string word(const std::string &line, size_t &pos)
{
    size_t start = pos;
    while (pos < line.size() && !blank(line[pos]))
        pos++;
    return line.substr(start, pos - start);
}

// A value at pos: double-quoted with backslash escapes, or a bare word.
// False with why set on an error.
bool value(const std::string &line, size_t &pos, std::string &out, std::string &why)
{
    out.clear();
    if (pos < line.size() && line[pos] == '"') {
        for (pos++; pos < line.size(); pos++) {
            char c = line[pos];
            if (c == '"') {
                pos++;
                return true;
            }
            if (c == '\\' && ++pos >= line.size())
                break;  // UCI would join the next line
            out += line[pos];
        }
        why = "line ends inside a quoted value";
        return false;
    }
    out = word(line, pos);
    for (unsigned char c : out) {
        if (!name_byte(c) && c != '.' && c != '-') {
            why = "bare value with a byte that needs quotes";
            return false;
        }
    }
    if (out.empty())
        why = "missing value";
    return !out.empty();
}

}  // namespace

bool valid_name(const std::string &name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name)
        if (!name_byte(c))
            return false;
    return true;
}

result parse(const std::string &text)
{
    result r;
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        number++;
        auto fail = [&](const std::string &why) {
            r.error = "line " + std::to_string(number) + ": " + why + ": " + line;
            return r;
        };
        if (end == std::string::npos)
            return fail("no line feed at the end of the file");
        start = end + 1;
        if (line.find_first_of(std::string("\r\0", 2)) != std::string::npos)
            return fail("carriage return or NUL byte");
        size_t pos = 0;
        skip_blanks(line, pos);
        if (pos == line.size())
            continue;
        std::string keyword = word(line, pos), why;
        skip_blanks(line, pos);
        if (keyword == "config") {
            section s;
            s.type = word(line, pos);
            if (!valid_name(s.type))
                return fail("bad section type");
            skip_blanks(line, pos);
            if (pos < line.size()) {
                s.name = word(line, pos);
                if (!valid_name(s.name))
                    return fail("bad section name");
            }
            if (pos != line.size())
                return fail("text after the section name");
            r.sections.push_back(s);
        } else if (keyword == "option") {
            if (r.sections.empty())
                return fail("option outside a section");
            option o;
            o.name = word(line, pos);
            if (!valid_name(o.name))
                return fail("bad option name");
            skip_blanks(line, pos);
            if (!value(line, pos, o.value, why))
                return fail(why);
            if (pos != line.size())
                return fail("text after the value");
            r.sections.back().options.push_back(o);
        } else {
            return fail("unknown statement");
        }
    }
    return r;
}

}  // namespace uci
