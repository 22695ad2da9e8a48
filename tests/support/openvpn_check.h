// Checks of a generated OpenVPN file (client or server file; not the
// export file, whose placeholders are meant for a person to fill in).
//
// The daemon's verdict: the installed `openvpn` reads the file inside the
// namespace of the run that wrote it, so the files it names (the user and
// password file) are there.  Add after_commands(paths) to
// nsrun::Spec::after; verdicts(result.after) then maps each path to
// "accepted" (the daemon got past its option checks) or to its first
// "Options error" line.  The router's hook scripts and device credential
// files, which a test host lacks, are replaced by stand-ins in a copy of
// the file; each run has a network namespace of its own.
//
// The file's shape: parse() lists the directives and inline blocks as the
// daemon reads them (one directive per line, its name the first word
// without a leading "--"; an inline block from "<tag>" up to the first line
// that starts with "</tag>"), so a test can tell that a value added no
// directive and closed no block.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace ovpn_check {

std::string after_commands(const std::vector<std::string> &paths);
std::map<std::string, std::string> verdicts(const std::string &after);

struct directive {
    std::string name;
    std::string rest;  // the line after the name
};

struct block {
    std::string tag, content;  // content without the tag lines
};

struct parsed {
    std::vector<directive> directives;
    std::vector<block> blocks;
    std::string error;  // e.g. an unclosed block; empty when none
};

parsed parse(const std::string &text);

// The directive names in file order.
std::vector<std::string> names(const parsed &p);

}  // namespace ovpn_check
