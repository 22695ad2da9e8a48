// The writer of dnsmasq lines: the one place that decides what a configured
// value may hold where it lands in /var/run/dnsmasq.conf (and in the
// sniffer file, which takes the same domains), and how it is written.
//
// dnsmasq refuses the whole file on one line it cannot read, which takes
// DNS and DHCP down with it, so a value that cannot be written safely is
// left out with one message naming its configuration path, never the value.
// What it reads: a '"' starts a quoted part (backslash escapes inside, a
// lone '"' is an error), a '#' after a blank starts a comment, a comma ends
// a field, and a line longer than max_line is cut, its rest read as a line
// of its own.
//
// Interface tags and device names are not screened here: they come from
// collection keys, which the store limits to letters, digits, '_' and '-'.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "anvil.h"
#include "quill.h"

namespace dnsmasq {

// dnsmasq reads at most this many bytes of a line (its line feed aside).
constexpr size_t max_line = 1024;

// The store answers "" for unset strings; a null answer reads the same.
inline std::string_view text_or_empty(const char *s)
{
    return s ? std::string_view(s) : std::string_view();
}

// Where a value was read, named when it is left out: the node it belongs
// to, its key there ("" for the node itself), and its place in a list
// (-1 when it is not an item of one).
struct origin {
    config_node *node;
    std::string_view key;
    int item = -1;
};
std::string path_of(const origin &from);

// Logs "Ignoring <path>: <why>".
void ignore(const origin &from, const char *why);

// What a value is, which decides what it may hold.
enum class field {
    ipv4,         // dotted IPv4 address
    ipv4_prefix,  // dotted IPv4 address, optionally with "/<length>"
    address,      // IPv4 or IPv6 address
    name,         // host or domain name: letters, digits, '-', '.', '_', no
                  // label longer than 63 bytes
    host,         // host name of a lease: a name that starts with a letter or digit
    domain,       // domain of server=: a name, '*' allowed as wildcard
    server,       // upstream server: address[#port][@source or interface...]
    mac,          // hardware address: hex digits, ':', '-', '*' wildcards
    hex,          // hexadecimal digits
    text,         // free text: in double quotes, escaped, when it needs them
    quoted,       // free text, always in double quotes
    comment,      // text after " # " (dnsmasq ignores the rest of the line)
};

// True when value can be written as that field (an empty value is not a
// valid address, name or hex string).  No message.
bool fits(const char *value, field f);

// As fits(), but a value that cannot be written is logged as left out.
bool check(const char *value, field f, const origin &from);

// Appends value to line as it is written in that field; when it cannot be,
// appends nothing, logs which value was left out and returns false.
bool put(std::string &line, const char *value, field f, const origin &from);

// Writes line (without its line feed) as one line of out, unless dnsmasq
// would not read it whole; then it is left out with a message naming the
// entry it came from, and the result is false.
bool write_line(std::FILE *out, std::string_view line, const origin &from);

// "ab12cd" -> "ab:12:cd", "abcde" -> "ab:cd:e"; characters are kept as they
// are (put checks that they are hex digits).
std::string regroup_hex(std::string_view hex);

// First field of a dhcp-range line for the tag.  dnsmasq reads a bare
// first field made of hexadecimal digits only ("cafe", "1") as the start
// of the range and refuses the line, so such a tag is written "set:<tag>";
// every other tag is written bare.
std::string range_tag(std::string_view tag);

}  // namespace dnsmasq
