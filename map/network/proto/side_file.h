// Side files of the protocol mappers (written beside the network file) and
// the digests that tell the network daemon when they changed.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "anvil.h"
#include "quill.h"

struct network_run;

namespace proto {

// Side files are truncated and rewritten in place, with mode 0600 when they
// hold a secret and 0644 otherwise, whatever the umask or an older file's
// mode.  Both report a failure naming the file and make the run end with
// status 1: create gives null, finish (which always closes) false.
unique_file create_side_file(network_run &run, const std::string &path, bool secret);
bool finish_side_file(network_run &run, unique_file file, const std::string &path);

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

// Output of `md5sum` run without a shell, cut at its first blank; empty
// when it gave no output.  Of a file named on its command line; of a text
// on its standard input; of the bytes of several files one after the
// other, streamed to its standard input through a pipe (files that cannot
// be read add nothing).
std::string md5sum_file(const char *path);
std::string md5sum_text(std::string_view input);
std::string md5sum_files(const std::vector<std::string> &paths);

// Output of a program run without a shell, cut at the first blank; empty
// when it gave no output.
std::string first_word(const char *output);

}  // namespace proto
