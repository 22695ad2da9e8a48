// Small whole-file operations.
#include "anvil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
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

int write_all(const char *path, const char *text, size_t len, int flags)
{
    FILE *f = file_create(path, flags & FILE_PRIVATE);
    if (!f)
        return 0;
    if (len && fwrite(text, 1, len, f) != len) {
        int saved = errno;
        fclose(f);
        errno = saved;
        return 0;
    }
    return file_finish(f, 0);
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

int fd_write_all(int fd, const void *data, size_t size)
{
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 0;
        if (n == 0) {
            errno = EIO;
            return 0;
        }
        at += n;
        size -= static_cast<size_t>(n);
    }
    return 1;
}

int file_write(const char *path, const char *text)
{
    if (!path)
        return 0;
    if (!text)
        text = "";
    return write_all(path, text, strlen(text), FILE_PUBLIC);
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
    return write_all(path, text, static_cast<size_t>(n), FILE_PUBLIC);
}

FILE *file_create(const char *path, int flags)
{
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    mode_t mode = (flags & FILE_PRIVATE) ? 0600 : 0644;
    int oflags = O_WRONLY | O_CREAT | O_CLOEXEC | ((flags & FILE_KEEP) ? 0 : O_TRUNC);
    // A private file is created 0600 at once, so that it is never readable by
    // others even for a moment; fchmod then fixes the umask's cut and the
    // mode an older file kept through O_CREAT.
    // Only a regular file is a generated file: a device, FIFO or socket
    // planted under the name must neither block the run nor have its mode
    // changed (O_NONBLOCK keeps the open of a FIFO from waiting for a reader).
    unique_fd fd(open(path, oflags | O_NONBLOCK, mode));
    if (!fd)
        return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        return nullptr;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    if (fcntl(fd.get(), F_SETFL, O_WRONLY) != 0 || fchmod(fd.get(), mode) != 0)
        return nullptr;
    FILE *f = fdopen(fd.get(), "w");
    if (f)
        fd.release();
    return f;
}

int file_truncate(FILE *file)
{
    if (!file || fflush(file) != 0)
        return 0;
    if (ftruncate(fileno(file), 0) != 0 || fseek(file, 0, SEEK_SET) != 0)
        return 0;
    return 1;
}

int file_finish(FILE *file, int sync)
{
    if (!file) {
        errno = EINVAL;
        return 0;
    }
    bool ok = fflush(file) == 0;
    int saved = errno;
    if (ok && ferror(file)) {
        ok = false;
        saved = EIO;
    }
    if (ok && sync && fsync(fileno(file)) != 0 && errno != EINVAL) {
        ok = false;
        saved = errno;
    }
    if (fclose(file) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok)
        errno = saved;
    return ok ? 1 : 0;
}

int file_write_data(const char *path, const char *data, size_t len, int flags)
{
    if (!path || (!data && len)) {
        errno = EINVAL;
        return 0;
    }
    return write_all(path, data, len, flags);
}

int text_is_one_line(const char *text) { return !text || !strpbrk(text, "\n\r") ? 1 : 0; }

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

// nftw visits the tree children first and, with FTW_PHYS, reports a
// symbolic link as itself.  The first entry that cannot be removed stops
// the walk.
static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path) == 0 ? 0 : -1;
}

int file_remove_tree(const char *path)
{
    if (!path)
        return 0;
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? 1 : 0;
    return nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS) == 0 ? 1 : 0;
}

}  // extern "C"
