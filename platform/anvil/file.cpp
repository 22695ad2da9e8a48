// Small whole-file operations.
#include "anvil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Flushes a file or directory to disk; false on failure.
bool sync_path(const char *path, int flags)
{
    int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot
    close(fd);
    return ok;
}

std::string parent_of(const char *path)
{
    const char *slash = strrchr(path, '/');
    if (!slash)
        return ".";
    if (slash == path)
        return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

int write_all(const char *path, const char *text, size_t len)
{
    FILE *f = fopen(path, "w");
    if (!f)
        return 0;
    bool ok = fwrite(text, 1, len, f) == len;
    ok = fclose(f) == 0 && ok;
    return ok ? 1 : 0;
}

}  // namespace

extern "C" {

int file_exists(const char *path)
{
    struct stat st;
    return path && lstat(path, &st) == 0 ? 1 : 0;
}

char *file_read(const char *path)
{
    if (!path)
        return nullptr;
    FILE *f = fopen(path, "re");
    if (!f)
        return nullptr;
    std::string data;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    bool failed = ferror(f);
    fclose(f);
    if (failed)
        return nullptr;
    return strdup(data.c_str());
}

int file_write(const char *path, const char *text)
{
    if (!path)
        return 0;
    if (!text)
        text = "";
    return write_all(path, text, strlen(text));
}

int file_printf(const char *path, const char *fmt, ...)
{
    if (!path)
        return 0;
    va_list ap;
    va_start(ap, fmt);
    char *text = nullptr;
    int n = vasprintf(&text, fmt, ap);
    va_end(ap);
    if (n < 0)
        return 0;
    unique_text owner(text);
    return write_all(path, text, static_cast<size_t>(n));
}

int file_replace(int sync, const char *tmp, const char *final, int)
{
    if (!tmp || !final)
        return 0;
    // The data must be on disk before the name points at it, or a power cut
    // could leave an empty file under the final name.
    if (sync && !sync_path(tmp, O_RDONLY)) {
        unlink(tmp);
        return 0;
    }
    if (rename(tmp, final) != 0) {
        int saved = errno;
        unlink(tmp);
        errno = saved;
        return 0;
    }
    if (sync)
        sync_path(parent_of(final).c_str(), O_RDONLY | O_DIRECTORY);
    return 1;
}

}  // extern "C"
