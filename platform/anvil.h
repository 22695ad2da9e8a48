/* libanvil: string lists, small file operations, child processes, logging,
 * escaping.  Every text and list returned new is released by the caller
 * (free / sl_free).  None of these operations prints a message of its own
 * except the log_* family. */
#ifndef ANVIL_H
#define ANVIL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- string lists ------------------------------------------------------
 * An ordered list of owned texts.  A null list is valid wherever a list is
 * read and counts as empty.  Appending copies the text. */
typedef struct sl_list sl_list;

sl_list *_sl_new(int reserved1, int reserved2);
/* Appends a copy of text (reserved must be 0).  Returns the list to use from
 * now on; a null list starts a new one. */
sl_list *_sl_append(sl_list *list, const char *text, int reserved);
sl_list *sl_append_printf(sl_list *list, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
/* Pieces between separators; "" gives a list with one empty text, null
 * gives null. */
sl_list *sl_split(const char *text, char sep);
size_t sl_len(const sl_list *list);
/* Item i (borrowed), or null past the end. */
const char *sl_get(const sl_list *list, size_t i);
/* 1 when the list holds an equal text, else 0. */
int sl_find(const sl_list *list, const char *text);
/* New text: the items joined by sep; "" for a null or empty list. */
char *sl_join(const sl_list *list, const char *sep);
void sl_free(sl_list *list);

#define sl_new() _sl_new(0, 0)
#define sl_append(list, text) _sl_append((list), (text), 0)

/* ---- files ------------------------------------------------------------- */
int file_exists(const char *path);
/* Whole file as a new text, or null.  Text after a NUL byte is not seen. */
char *file_read(const char *path);
/* Creates or replaces (truncates and rewrites in place) the file with the
 * text, mode 0644 (see file_create); 1 on success, 0 on failure.  A null
 * text writes an empty file. */
int file_write(const char *path, const char *text);
int file_printf(const char *path, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Moves the finished temporary file tmp over final atomically (rename).
 * sync != 0: the file's data is flushed to disk first and the directory
 * after the rename.  flags is reserved (0).  Returns 1 on success, 0 when
 * the move failed (tmp is then removed and final is left as it was).  Both
 * names must be on one file system, normally in one directory. */
int file_replace(int sync, const char *tmp, const char *final, int flags);
/* Removes path and everything below it; symbolic links are removed, never
 * followed.  1 when nothing is left under the name (also when there was
 * nothing), 0 when something could not be removed (errno tells why). */
int file_remove_tree(const char *path);
/* Writes all size bytes of data to the descriptor, again after an
 * interruption or a short write.  1 on success; 0 when a write fails, errno
 * telling why (EIO when the descriptor took no byte). */
int fd_write_all(int fd, const void *data, size_t size);

/* ---- generated files ---------------------------------------------------
 * Every file a generator writes is opened and finished here, so that its
 * mode never depends on the umask or on an older file, and a write that
 * did not reach the file is always seen.
 *
 * FILE_PRIVATE: the file holds a secret; mode 0600, set before the first
 *   byte is written (also when the file existed with a wider mode).
 *   Without it the mode is 0644.
 * FILE_KEEP: the file is not truncated yet; call file_truncate once every
 *   file that one step rewrites in place is open, so that a failed open
 *   never leaves another file of the step empty. */
#define FILE_PUBLIC 0
#define FILE_PRIVATE 1
#define FILE_KEEP 2
/* Opens path for writing, created when missing, with the mode above.  Null
 * when it cannot be opened or its mode cannot be set (errno tells why). */
FILE *file_create(const char *path, int flags);
/* Empties a file opened with FILE_KEEP; 1 on success, 0 on failure. */
int file_truncate(FILE *file);
/* Ends a file written through stdio: flushes it, checks that no write
 * failed, flushes it to disk when sync != 0 (for a file that is then moved
 * over its final name), and closes it.  The stream is always closed, also
 * on failure.  1 when every byte reached the file, else 0 with errno set
 * (EIO when only an earlier write had failed).  A null stream gives 0. */
int file_finish(FILE *file, int sync);
/* Creates or replaces (in place) the file with len bytes of data through
 * file_create and file_finish; 1 on success, 0 on failure. */
int file_write_data(const char *path, const char *data, size_t len, int flags);
/* 1 when text holds no line feed and no carriage return (a null text
 * counts as one line), else 0. */
int text_is_one_line(const char *text);

/* ---- child processes --------------------------------------------------
 * Programs are run with an argument vector, never through a shell.  A bare
 * program name (no '/') is searched on PATH. */

/* Runs program with the null-terminated argument list that follows it
 * (argv[0] is program itself), waits for it and returns its standard output
 * as a new text, or null when it could not be run.
 *   stdin_fd, stderr_fd: descriptors for the child's stdin/stderr, -1 for
 *     /dev/null (stdin) and the parent's stderr;
 *   capture: must be 1 (standard output is captured);
 *   reserved: 0 or -1;
 *   input: text written to the child's standard input, or null.
 * The output is returned whatever the exit status; null means the program
 * could not be started (not found, not executable) or was killed by a
 * signal, when its output may be cut short. */
char *_process_capture(int stdin_fd, int stderr_fd, int capture, int reserved, const char *input,
                       const char *program, ...);
/* Starts program with the null-terminated argument list that follows it;
 * descriptors -1 mean inherit.  extra_fd, when not -1, stays open in the
 * child under its own number (every other descriptor the caller opened
 * close-on-exec stays closed).  Returns a handle for process_wait, -1 when
 * the program could not be started (exec failures are detected). */
int _process_exec_fd(int stdin_fd, int stdout_fd, int stderr_fd, int extra_fd, const char *program,
                     ...);
/* Waits for the child; returns its exit status (0..255), 128+signal when it
 * was killed, -1 for a bad handle. */
int process_wait(int handle);

/* ---- logging ------------------------------------------------------------
 * Messages go to syslog under the identity given to log_init, and also to
 * standard error when to_stderr is non-zero, as "IDENT: message" with a line
 * feed added when missing.  The format may use %m.  log_debug reaches
 * standard error only when the environment variable ANVIL_DEBUG is set too,
 * so that debug output never mixes into what callers parse.  A facility of
 * 0 means LOG_USER. */
void log_init(const char *ident, int facility, int to_stderr);
void log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void log_debug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* ---- text ---------------------------------------------------------------- */
/* Escape pair table: {find, replacement} pairs ended by {NULL, NULL}. */
typedef struct escape_pair {
    const char *find;
    const char *replace;
} escape_pair;
/* New text in which every occurrence of a table entry's text is replaced, in
 * one left-to-right pass (earlier table rows win at the same position); the
 * replacement is never scanned again.  Null text gives null. */
char *escape(const char *text, const escape_pair *table);
/* Formats into a new text stored in *result; returns its length, -1 on
 * failure (then *result is null). */
int xasprintf(char **result, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Parses "a.b.c.d/p" (p 0..32, at most two digits); address in network
 * byte order.  A bare "a.b.c.d" is a host: prefix 32.  Each part of the
 * address is decimal 0..255 without leading zeros.  Non-zero on success;
 * outputs untouched on failure. */
int xip4_parse_network(const char *text, unsigned int *address, int *prefix);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <memory>
#include <cstdlib>
/* RAII owners for texts and lists the platform returns new. */
struct anvil_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
struct anvil_sl_deleter {
    void operator()(sl_list *l) const noexcept { sl_free(l); }
};
using unique_text = std::unique_ptr<char, anvil_free_deleter>;
using unique_sl = std::unique_ptr<sl_list, anvil_sl_deleter>;

/* Owner of a stream.  Dropping it closes the stream without a check, which
 * is right only on a path that already failed; a file that is kept ends
 * with file_finish(owner.release(), sync). */
struct anvil_file_closer {
    void operator()(FILE *f) const noexcept { fclose(f); }
};
using unique_file = std::unique_ptr<FILE, anvil_file_closer>;

#include <unistd.h>
/* Owner of a descriptor (-1 for none). */
class unique_fd {
public:
    unique_fd() noexcept = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    unique_fd(unique_fd &&o) noexcept : fd_(o.release()) {}
    unique_fd &operator=(unique_fd &&o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    ~unique_fd() { reset(); }
    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

#include <signal.h>
/* While it lives, writing to a pipe whose reader has gone (a child that
 * exited early) fails with EPIPE instead of killing the process. */
struct ignore_sigpipe {
    struct sigaction old {};
    ignore_sigpipe()
    {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &sa, &old);
    }
    ~ignore_sigpipe() { sigaction(SIGPIPE, &old, nullptr); }
    ignore_sigpipe(const ignore_sigpipe &) = delete;
    ignore_sigpipe &operator=(const ignore_sigpipe &) = delete;
};
#endif

#endif
