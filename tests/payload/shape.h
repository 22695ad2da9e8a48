// The shape of a generated file: what its reader makes of it, without the
// values.  Each line, section, directive, option, argument, selector and
// field is one unit, named by what it is ("dhcp-option", "dhcp-option
// +field", "conn branch_policy0 leftid"), so two runs of a generator can be
// compared: a value that split an argument or added a line adds a unit; a
// unit the writer left out is missing.
//
// The readers follow the daemons' syntax as the writers' headers record
// it, strictly: whatever a daemon would read differently from what the
// generator meant (an unterminated quote, a bare value with a blank, a
// carriage return) is an error.
#pragma once
#include <map>
#include <set>
#include <string>

namespace payload {

struct shape {
    std::multiset<std::string> units;
    std::string error;  // the first thing the reader would choke on
};

// path: where the generator wrote the file ("/var/run/dnsmasq.conf").
shape shape_of(const std::string &path, const std::string &text);

// The units of a that b lacks (as a multiset difference).
std::multiset<std::string> missing(const std::multiset<std::string> &a,
                                   const std::multiset<std::string> &b);

// The mode the README documents for a generated file (0 for none known).
unsigned documented_mode(const std::string &path, bool directory);

}  // namespace payload
