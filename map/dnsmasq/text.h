// Small text helpers shared by the dnsmasq generator's files.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include "anvil.h"

namespace dnsmasq {

// The store answers "" for unset strings; a null answer reads the same.
inline std::string_view text_or_empty(const char *s) { return s ? std::string_view(s) : std::string_view(); }

bool has_line_break(std::string_view s);

// A value written into one directive must not end that line: a line break
// would let configured text add directives of its own.  Returns true when
// the value fits on one line; otherwise logs which value was left out.
bool fits_line(std::string_view value, std::string_view what, std::string_view owner);

// "ab12cd" -> "ab:12:cd", "abcde" -> "ab:cd:e"; characters are kept as they
// are (the option's owner is responsible for them being hex digits).
std::string regroup_hex(std::string_view hex);

// First field of a dhcp-range line for the tag.  dnsmasq reads a bare
// first field made of hexadecimal digits only ("cafe", "1") as the start
// of the range and refuses the line, so such a tag is written "set:<tag>";
// every other tag is written bare.
std::string range_tag(std::string_view tag);

// The escaped copy of text, or text itself when nothing needed escaping.
class escaped {
public:
    explicit escaped(const char *text);
    const char *c_str() const { return copy_ ? copy_.get() : text_; }
    // For a value written outside quotes: dnsmasq reads backslash escapes
    // only inside double quotes and takes a bare '"' as the start of a
    // quoted part, so an escaped copy is only correct when quoted.
    std::string field() const;
private:
    const char *text_;
    unique_text copy_;
};

}  // namespace dnsmasq
