// Child processes, run with an argument vector and never through a shell.
#include "anvil.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The argument vector of a call, ended by a null; false when memory ran out.
// Catching here lets the callers always reach va_end.
bool collect_args(std::vector<char *> &argv, const char *program, va_list ap) noexcept
{
    try {
        argv.push_back(const_cast<char *>(program));
        while (const char *a = va_arg(ap, const char *))
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        return true;
    } catch (...) {
        return false;
    }
}

void close_quietly(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Moves fd to target in the child; the original stays open only when it is
// the target itself.
bool place(int fd, int target)
{
    if (fd < 0)
        return true;
    if (fd == target) {
        int flags = fcntl(fd, F_GETFD);
        return flags >= 0 && fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) == 0;
    }
    return dup2(fd, target) == target;
}

// Starts argv with the given descriptors (-1: inherit).  The exec error, if
// any, comes back through a close-on-exec pipe, so a program that does not
// exist is told apart from one that ran and failed.  Returns the pid or -1.
pid_t spawn(char *const argv[], int in, int out, int err, int extra)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (pid == 0) {
        // Descriptors are moved out of the way of 0..2 first so that a
        // caller passing e.g. its stdout as the child's stdin works.
        int fds[3] = {in, out, err};
        for (int &fd : fds)
            if (fd >= 0 && fd <= 2)
                fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        bool ok = place(fds[0], 0) && place(fds[1], 1) && place(fds[2], 2) &&
                  (extra < 0 || place(extra, extra));
        signal(SIGPIPE, SIG_DFL);
        if (ok)
            execvp(argv[0], argv);
        int e = errno ? errno : ENOEXEC;
        ssize_t w = write(report[1], &e, sizeof e);
        (void)w;
        _exit(127);
    }
    close(report[1]);
    int e = 0;
    ssize_t n;
    do {
        n = read(report[0], &e, sizeof e);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n > 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        errno = e;
        return -1;
    }
    return pid;
}

// Raw wait status of pid, or -1 when it cannot be waited for.
int raw_wait(pid_t pid)
{
    int status;
    for (;;) {
        if (waitpid(pid, &status, 0) >= 0)
            return status;
        if (errno != EINTR)
            return -1;
    }
}

int wait_status(pid_t pid)
{
    int status = raw_wait(pid);
    if (status == -1)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Feeds input to the child's stdin while reading its stdout, so neither side
// blocks on a full pipe.  False when reading failed.
bool pump(int to_child, int from_child, const char *input, std::string &out)
{
    size_t left = input ? strlen(input) : 0;
    if (to_child >= 0 && left == 0)
        close_quietly(to_child);
    char buf[4096];
    while (from_child >= 0) {
        pollfd p[2] = {{from_child, POLLIN, 0}, {to_child, POLLOUT, 0}};
        int np = to_child >= 0 ? 2 : 1;
        if (poll(p, np, -1) < 0) {
            if (errno == EINTR)
                continue;
            close_quietly(to_child);
            close_quietly(from_child);
            return false;
        }
        if (np == 2 && p[1].revents) {
            ssize_t w = write(to_child, input, left);
            if (w < 0 && errno != EINTR && errno != EAGAIN) {
                close_quietly(to_child);  // the child stopped reading
            } else if (w > 0) {
                input += w;
                left -= static_cast<size_t>(w);
                if (left == 0)
                    close_quietly(to_child);
            }
        }
        if (p[0].revents) {
            ssize_t r = read(from_child, buf, sizeof buf);
            if (r > 0) {
                out.append(buf, static_cast<size_t>(r));
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                close_quietly(from_child);
            }
        }
    }
    close_quietly(to_child);
    return true;
}

}  // namespace

extern "C" {

char *_process_capture(int stdin_fd, int stderr_fd, int, int, const char *input,
                       const char *program, ...)
{
    if (!program)
        return nullptr;
    std::vector<char *> argv;
    va_list ap;
    va_start(ap, program);
    bool collected = collect_args(argv, program, ap);
    va_end(ap);
    if (!collected)
        return nullptr;

    int out[2] = {-1, -1}, in[2] = {-1, -1};
    int devnull = -1;
    if (pipe2(out, O_CLOEXEC) != 0)
        return nullptr;
    int child_in = stdin_fd;
    if (input) {
        if (pipe2(in, O_CLOEXEC) != 0) {
            close_quietly(out[0]);
            close_quietly(out[1]);
            return nullptr;
        }
        child_in = in[0];
        // poll only promises room for some bytes; a blocking write of the
        // rest would stall until the child drained everything.
        fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
    } else if (stdin_fd < 0) {
        devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        child_in = devnull;
    }

    // Writing to a child that exited early must not kill the caller.
    ignore_sigpipe guard;
    pid_t pid = spawn(argv.data(), child_in, out[1], stderr_fd, -1);
    close_quietly(out[1]);
    close_quietly(in[0]);
    close_quietly(devnull);
    if (pid < 0) {
        close_quietly(out[0]);
        close_quietly(in[1]);
        return nullptr;
    }
    std::string text;
    bool read_ok;
    try {
        read_ok = pump(in[1], out[0], input, text);
    } catch (...) {
        read_ok = false;
    }
    // A child killed by a signal may have been cut off mid-output; what it
    // wrote is not trusted.  A normal exit, whatever its status, counts as
    // having run: callers look at the output, not at the status.
    int status = raw_wait(pid);
    if (!read_ok || status == -1 || !WIFEXITED(status))
        return nullptr;
    return strdup(text.c_str());
}

int _process_exec_fd(int stdin_fd, int stdout_fd, int stderr_fd, int extra_fd, const char *program,
                     ...)
{
    if (!program)
        return -1;
    std::vector<char *> argv;
    va_list ap;
    va_start(ap, program);
    bool collected = collect_args(argv, program, ap);
    va_end(ap);
    if (!collected)
        return -1;
    pid_t pid = spawn(argv.data(), stdin_fd, stdout_fd, stderr_fd, extra_fd);
    return pid < 0 ? -1 : static_cast<int>(pid);
}

int process_wait(int handle)
{
    if (handle <= 0)
        return -1;
    return wait_status(handle);
}

}  // extern "C"
