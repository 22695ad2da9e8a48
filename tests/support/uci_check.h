// Strict syntax check of a generated UCI file (the network daemon's
// /var/run/uci/network).  It refuses everything the daemon's UCI parser
// refuses, and also what the generator never writes, so that a file that
// passes reads back exactly as its lines say:
//
//  - one statement per line, every line ended by a line feed; no carriage
//    return or NUL byte anywhere (not even inside quotes), no comments;
//  - "config <type>" or "config <type> <name>"; type and name bare words of
//    letters, digits and '_' (UCI's name rule);
//  - "option <name> <value>" inside a section, indented by blanks or tabs;
//    the value double-quoted (a backslash takes the next byte literally, a
//    line may not end inside the quotes) or a bare word of letters, digits,
//    '_', '.' and '-' (numbers); nothing after the value.
//
// parse() returns the sections with their options (values unescaped) in
// file order, or the first error as "line N: why: text".  A name written
// twice gives two entries here; UCI would merge them.
#pragma once
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
    std::string error;  // empty when the text passed
};

result parse(const std::string &text);

// UCI's rule for section and option names.
bool valid_name(const std::string &name);

}  // namespace uci
