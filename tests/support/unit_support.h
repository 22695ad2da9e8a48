// Pieces of unit tests that exercise code in-process (no namespace).
#pragma once
#include <cstdio>
#include <string>

#include "quill.h"

namespace unit {

// A configuration read from JSON text by the store's own loader (through a
// temporary file, built-in schema, no factory defaults); null when the
// store refuses the text.
unique_config load_config_text(const std::string &json);

// A stream that collects what is written to it in memory.
class memory_stream {
public:
    memory_stream();
    ~memory_stream();
    memory_stream(const memory_stream &) = delete;
    memory_stream &operator=(const memory_stream &) = delete;
    FILE *out() { return f_; }
    // Everything written so far.
    std::string text();

private:
    char *buf_ = nullptr;
    size_t len_ = 0;
    FILE *f_;
};

}  // namespace unit
