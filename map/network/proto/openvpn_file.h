// Writers of the OpenVPN files (client, server and export files): they alone
// decide what configured text may reach a directive line or an inline
// block.  The daemon reads one directive per line, splits it into
// parameters at blanks (a carriage return is a blank to it), honours
// quotes and backslashes, takes "#" and ";" as comments and reads an inline
// block up to the first line that starts with its end tag.  So:
//
//  - a parameter is one bare word: not empty, no blank or control byte, no
//    quote, backslash, comma (a pushed option would split at it), "#" or ";";
//  - free option text (the user's own lines) stays on its one line;
//  - an inline certificate, key or DH block holds well-formed PEM only, so
//    it can never end its block early.
//
// A line or block that breaks its rule is left out whole, logged once with
// the configuration path and the file, never the value.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "quill.h"

namespace proto {

// One directive line, built from the generator's own text and configured
// parts (cfg/key name the part in the message; key may be null).
class ovpn_line {
public:
    ovpn_line &fixed(std::string_view text);
    ovpn_line &number(int n);
    // One parameter.
    ovpn_line &token(std::string_view value, config_node *cfg, const char *key);
    // Free option text that must stay on this line (no line feed or
    // carriage return).
    ovpn_line &text(std::string_view value, config_node *cfg, const char *key);
    // Writes the line and its line feed when every part fits; otherwise
    // logs and leaves it out.  False when left out.
    bool write(FILE *f, const std::string &file) const;

private:
    void refuse(config_node *cfg, const char *key, const char *why);
    std::string line_;
    config_node *bad_node_ = nullptr;
    std::string bad_key_;
    const char *why_ = nullptr;
};

// "<tag>\n<pem>\n</tag>\n" when pem is empty or well-formed PEM; otherwise
// the block is left out and origin (a configuration path or a file name)
// is named in the message.  False when left out.
bool write_inline_pem(FILE *f, const char *tag, std::string_view pem, const std::string &origin,
                      const std::string &file);
// The same for the configuration's text at key below cfg.
bool write_inline_pem(FILE *f, const char *tag, config_node *cfg, const char *key,
                      const std::string &file);

// Takes the next line off text: up to its line feed, without a carriage
// return before it (CR LF line ends read like LF).
std::string_view next_line(std::string_view &text);

// One or more PEM blocks ("-----BEGIN <label>-----", optional RFC 1421
// headers and a blank line, base64 lines, "-----END <label>-----" with the
// same label), separated by empty lines; lines may end in CR LF.
bool pem_well_formed(std::string_view text);

// The parameters of a line of an OpenVPN file as the daemon reads them
// (the first is the directive): split at blanks, quotes and backslashes
// resolved, a leading "--" of the directive dropped, a comment ignored.
// Empty for an empty or comment line, and for an unterminated quote, which
// the daemon refuses.
std::vector<std::string> ovpn_parameters(std::string_view line);

}  // namespace proto
