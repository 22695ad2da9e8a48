// The two writers of the IPsec generator's files: `key=value` lines of
// ipsec.conf and the connection files, and the entries of the secrets
// files.  Every configured or live text reaches those files through them;
// they decide whether it can be written and how it is quoted, and a value
// that cannot be written is left out with one message that names where it
// came from (never the value itself: it may be secret).
//
// What the daemon's parsers accept was found by loading files into it:
// - ipsec.conf: a bare value ends at a blank (blanks between words shrink
//   to one), `#` starts a comment, `=` and `"` are syntax errors.  Inside
//   double quotes every byte stands for itself except `\`, which escapes
//   the next byte (`\"`, `\\`; `\n`, `\r` and `\t` become control bytes, and
//   `\x` is read as `x`).  A line break ends the line whatever the quoting.
// - ipsec.secrets: selectors are split at blanks; one in double or single
//   quotes runs to the next quote of its kind, with no escapes at all.  The
//   first " : " of the line ends the selectors, even inside quotes.  A line
//   starting with `#` is a comment and one starting with "include " an
//   include, and a selector starting with `#` after the first hangs the
//   daemon while it loads the file.  A line it cannot parse ends the
//   loading: every secret after it is lost.  A secret in quotes is taken as
//   text; unquoted with the prefix "0s" it is Base64.
#pragma once
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ipsec {

// One piece of a value and where it came from: the configuration path or
// runtime key that a message names.  Pieces without a source are the
// generator's own text.
struct part {
    part(std::string_view t) : text(t) {}
    part(const char *t) : text(t) {}
    part(const std::string &t) : text(t) {}
    part(std::string_view t, std::string_view source, bool shell = false)
        : text(t), from(source), shell_word(shell)
    {
    }

    std::string_view text;
    std::string_view from;
    // An argument of the updown command line, which the daemon runs
    // through /bin/sh: quoted for the shell when it is not a plain word.
    bool shell_word = false;
};

// A file being written and what its messages name.
struct text_file {
    FILE *f;
    const char *path;
    const char *tunnel;
};

// Bare where the daemon reads the value back unchanged, else in quotes;
// or always in quotes, as some options are written.
enum quoting { QUOTE_AS_NEEDED, QUOTE_ALWAYS };
// What goes when a value cannot be written: the tunnel, for an option the
// connection's meaning depends on; the option alone, where the daemon's
// default is a sound stand-in.
enum leave_out { LEAVE_OUT_TUNNEL, LEAVE_OUT_OPTION };

// Writes "\tKEY=VALUE\n", VALUE being the pieces in a row.  False when it
// was left out; the message says whether the tunnel or the option goes.
bool conf_option(const text_file &out, part key, std::initializer_list<part> value,
                 quoting quote = QUOTE_AS_NEEDED, leave_out unit = LEAVE_OUT_TUNNEL);
bool conf_option(const text_file &out, part key, const std::vector<part> &value,
                 quoting quote = QUOTE_AS_NEEDED, leave_out unit = LEAVE_OUT_TUNNEL);
// The text of a value given in the file's own double quotes, as
// `ipsec pki --dn` prints a distinguished name; any other value as it is.
std::string conf_unquote(std::string_view value);
// Writes "conn NAME\n"; a name must be one plain word.
bool conf_section(const text_file &out, std::initializer_list<part> name);

// Writes the entry "SELECTOR SELECTOR... : REST\n" of a secrets file.
// Each selector (an identity, an address list, a user name) stays one
// selector: bare when plain, else in double or single quotes.  An empty
// selector is written as nothing.  REST is the generator's text (type,
// key file, encoded secret).  False, with nothing written, when a
// selector cannot be written: the entry and its tunnel are left out.
bool secrets_entry(const text_file &out, std::initializer_list<part> selectors,
                   std::string_view rest);
// A secret given as text (XAUTH password, key passphrase) as the secrets
// file writes it: in double quotes, or Base64 after "0s" when quotes
// cannot hold it.  Every secret can be written so.
std::string secrets_text(std::string_view secret);
// Any secret as Base64 after "0s" (pre-shared keys are always written so).
std::string secrets_base64(std::string_view secret);

// Names of tunnels become file names, include lines, connection names and
// key file names: letters, digits, `_` and `-` only, as the store keeps
// its keys.
bool plain_name(std::string_view name);

}  // namespace ipsec
