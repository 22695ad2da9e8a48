#include "unit_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace unit {

unique_config load_config_text(const std::string &json)
{
    char path[] = "/tmp/unit-config-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return nullptr;
    close(fd);
    std::ofstream(path) << json;
    config_file_record files{};
    files.config_file = path;
    files.schema_file = "";
    files.baked_file = "";
    unique_config c(config_load_file(&files));
    unlink(path);
    return c;
}

memory_stream::memory_stream() : f_(open_memstream(&buf_, &len_)) {}

memory_stream::~memory_stream()
{
    if (f_)
        std::fclose(f_);
    std::free(buf_);
}

std::string memory_stream::text()
{
    std::fflush(f_);
    return std::string(buf_, len_);
}

}  // namespace unit
