// A strict reader of the UCI syntax that the network generator writes, so
// the tests can check that every generated file is one that the network
// daemon's parser accepts: sections, options with bare or double-quoted
// values, escapes inside quotes, nothing else.
#pragma once
#include <cctype>
#include <string>
#include <vector>

namespace uci {

struct option {
    std::string name, value;
};

struct section {
    std::string type, name;  // name empty for an anonymous section
    std::vector<option> options;
};

struct result {
    std::vector<section> sections;
    std::string error;  // empty when the text parsed
};

inline bool valid_name(const std::string &s)
{
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (!std::isalnum(c) && c != '_' && c != '-')
            return false;
    return true;
}

// One token from line at pos: bare up to a blank, or double-quoted with
// backslash escapes.  False on a syntax error.
inline bool token(const std::string &line, size_t &pos, std::string &out, std::string &error)
{
    out.clear();
    if (pos < line.size() && line[pos] == '"') {
        for (pos++; pos < line.size(); pos++) {
            char c = line[pos];
            if (c == '"') {
                pos++;
                return true;
            }
            if (c == '\\') {
                if (++pos >= line.size())
                    break;
                c = line[pos];
            }
            out += c;
        }
        error = "unterminated quoted value";
        return false;
    }
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
        if (line[pos] == '"' || line[pos] == '\\') {
            error = "quote or backslash in a bare value";
            return false;
        }
        out += line[pos++];
    }
    return !out.empty() || (error = "missing value", false);
}

inline result parse(const std::string &text)
{
    result r;
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            r.error = "last line has no line feed";
            return r;
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        number++;
        auto fail = [&](const std::string &why) {
            r.error = "line " + std::to_string(number) + ": " + why + ": " + line;
            return r;
        };
        if (line.empty())
            continue;
        size_t pos = 0;
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            pos++;
        size_t word_end = line.find(' ', pos);
        std::string word = line.substr(pos, word_end == std::string::npos ? std::string::npos : word_end - pos);
        pos = word_end == std::string::npos ? line.size() : word_end + 1;
        std::string a, b, error;
        if (word == "config") {
            if (!token(line, pos, a, error) || !valid_name(a))
                return fail("bad section type");
            section s{a, "", {}};
            if (pos < line.size()) {
                if (line[pos++] != ' ' || !token(line, pos, b, error) || !valid_name(b))
                    return fail("bad section name");
                s.name = b;
            }
            if (pos != line.size())
                return fail("trailing text");
            r.sections.push_back(s);
        } else if (word == "option") {
            if (r.sections.empty())
                return fail("option outside a section");
            if (!token(line, pos, a, error) || !valid_name(a) || pos >= line.size() || line[pos++] != ' ' ||
                !token(line, pos, b, error))
                return fail("bad option " + error);
            if (pos != line.size())
                return fail("trailing text");
            r.sections.back().options.push_back({a, b});
        } else {
            return fail("unknown keyword");
        }
    }
    return r;
}

}  // namespace uci
