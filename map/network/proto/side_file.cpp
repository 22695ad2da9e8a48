#include "side_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "anvil.h"
#include "mapper.h"

namespace proto {

namespace {

ssize_t read_some(int fd, char *buf, size_t size)
{
    ssize_t n;
    do
        n = read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// Copies the file to fd; false when fd no longer takes bytes.  A file that
// cannot be opened or read (any more) adds what was read of it.
bool copy_file(const std::string &path, int fd)
{
    unique_fd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char buf[4096];
    ssize_t n;
    while (in && (n = read_some(in.get(), buf, sizeof buf)) > 0)
        if (!fd_write_all(fd, buf, static_cast<size_t>(n)))
            return false;
    return true;
}

}  // namespace

unique_file create_side_file(network_run &run, const std::string &path, bool secret)
{
    unique_file f(file_create(path.c_str(), secret ? FILE_PRIVATE : FILE_PUBLIC));
    if (!f)
        map_network_write_failed(run, path.c_str());
    return f;
}

bool finish_side_file(network_run &run, unique_file file, const std::string &path)
{
    if (file_finish(file.release(), 0))
        return true;
    map_network_write_failed(run, path.c_str());
    return false;
}

side_record &side_record::text(std::string_view fixed)
{
    line_ += fixed;
    return *this;
}

side_record &side_record::value(config_node *cfg, const char *key, std::string_view forbidden)
{
    const char *raw = config_get_string(cfg, key);
    std::string_view v = text_view(raw);
    bool ok = text_is_one_line(raw) &&
              (forbidden.empty() || v.find_first_of(forbidden) == std::string_view::npos);
    if (!ok && fits_) {
        fits_ = false;
        bad_node_ = cfg;
        bad_key_ = key;
    }
    line_ += v;
    return *this;
}

bool side_record::check(const std::string &file) const
{
    if (fits_)
        return true;
    unique_text base(config_path(bad_node_));
    log_error("%s%s%s holds a line break or a field delimiter of %s; that line is left out",
              base ? base.get() : "", base && *base ? "." : "", bad_key_.c_str(), file.c_str());
    return false;
}

bool side_record::write(FILE *f, const std::string &file) const
{
    if (!check(file))
        return false;
    std::fwrite(line_.data(), 1, line_.size(), f);
    std::fputc('\n', f);
    return true;
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

std::string md5sum_files(const std::vector<std::string> &paths)
{
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return {};
    unique_fd to_child(in[1]), child_in(in[0]);
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    unique_fd from_child(out[0]), child_out(out[1]);
    int child = _process_exec_fd(child_in.get(), child_out.get(), -1, -1, "md5sum", nullptr);
    child_in.reset();
    child_out.reset();
    if (child < 0)
        return {};
    {
        // md5sum prints nothing before the end of its input, so the input
        // is written whole first and the output read after.  It may end
        // before it has read everything; writing then fails.
        ignore_sigpipe guard;
        for (const std::string &path : paths)
            if (!copy_file(path, to_child.get()))
                break;
        to_child.reset();
    }
    std::string output;
    char buf[256];
    for (ssize_t n; (n = read_some(from_child.get(), buf, sizeof buf)) > 0;)
        output.append(buf, static_cast<size_t>(n));
    // Output of a child killed by a signal may be cut short.
    if (process_wait(child) >= 128)
        return {};
    return first_word(output.c_str());
}

}  // namespace proto
