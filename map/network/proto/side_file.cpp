#include "side_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "anvil.h"
#include "uci.h"

namespace proto {

void write_string(FILE *out, const char *name, std::string_view value)
{
    uci_write_option_string(out, name, "%.*s", static_cast<int>(value.size()), value.data());
}

unique_file open_side_file(const char *path, bool secret)
{
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, secret ? 0600 : 0666);
    if (fd < 0)
        return nullptr;
    // An existing file keeps its mode through O_CREAT; a secret must not stay
    // readable by others just because an older run created it that way.
    if (secret && ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE *f = ::fdopen(fd, "w");
    if (!f)
        ::close(fd);
    return unique_file(f);
}

std::string first_word(const char *output)
{
    if (!output || !*output)
        return {};
    std::string_view s(output);
    return std::string(s.substr(0, s.find(' ')));
}

std::string md5sum_file(const char *path)
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, "md5sum", path, nullptr));
    return first_word(out.get());
}

std::string md5sum_text(std::string_view input)
{
    std::string bytes(input);
    unique_text out(_process_capture(-1, -1, 1, 0, bytes.c_str(), "md5sum", nullptr));
    return first_word(out.get());
}

}  // namespace proto
