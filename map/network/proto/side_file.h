// Small pieces the protocol mappers share: borrowed reads of the
// configuration, option writers for borrowed text, side files and digests.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "anvil.h"
#include "quill.h"

namespace proto {

inline std::string_view text(const char *s) { return s ? std::string_view(s) : std::string_view(); }

inline std::string_view get(config_node *cfg, const char *path) { return text(config_get_string(cfg, path)); }

void write_string(FILE *out, const char *name, std::string_view value);

// Creates or truncates a side file for writing.  Secret files get mode 0600
// before the first byte is written, also when they existed with a wider mode;
// others keep the usual 0666 less the umask.  Null when it cannot be opened.
unique_file open_side_file(const char *path, bool secret);

// Output of `md5sum` run without a shell on a file (input null) or on the
// bytes of input, cut at its first blank; empty when it gave no output.
std::string md5sum_file(const char *path);
std::string md5sum_text(std::string_view input);

// Output of a program run without a shell, cut at the first blank; empty
// when it gave no output.
std::string first_word(const char *output);

}  // namespace proto
