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

inline std::string_view get(config_node *cfg, const char *path)
{
    return text(config_get_string(cfg, path));
}

void write_string(FILE *out, const char *name, std::string_view value);

// Side files are truncated and rewritten in place, with mode 0600 when they
// hold a secret and 0644 otherwise, whatever the umask or an older file's
// mode.  Both report a failure naming the file and make the run end with
// status 1: create gives null, finish (which always closes) false.
unique_file create_side_file(const std::string &path, bool secret);
bool finish_side_file(unique_file file, const std::string &path);

// One line (record) of a line-based side file, built from fixed text and
// configured values.  A value must keep the record on its one line and its
// field in place: one with a line feed or carriage return, or with a byte
// of `forbidden` (the field's own delimiters), makes the whole record one
// that is left out; write() then logs that, naming the value's
// configuration path and the file, never the value.
class side_record {
public:
    side_record &text(std::string_view fixed);
    side_record &value(config_node *cfg, const char *key, std::string_view forbidden = {});
    // Whether every value fits; logs the first that does not.
    bool check(const std::string &file) const;
    // The record and its line feed, when it fits; false when left out.
    bool write(FILE *f, const std::string &file) const;

private:
    std::string line_;
    config_node *bad_node_ = nullptr;
    std::string bad_key_;
    bool fits_ = true;
};

// Output of `md5sum` run without a shell on a file (input null) or on the
// bytes of input, cut at its first blank; empty when it gave no output.
std::string md5sum_file(const char *path);
std::string md5sum_text(std::string_view input);

// Output of a program run without a shell, cut at the first blank; empty
// when it gave no output.
std::string first_word(const char *output);

}  // namespace proto
