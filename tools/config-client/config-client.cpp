// config-client: sends one command to the config server of the session
// (the descriptor in CONFIG_SOCKET), prints the reply's text and exits with
// a status derived from the reply's result:
//   0  result 0 (done / true)
//   1  result -1 (refused / false)
//   2  result 2 (the store flagged an error; see the server's log)
//   3  no session, the server is gone, or the reply is malformed
#include <endian.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ubox.h"

namespace {

constexpr int client_failure = 3;

enum { ATTR_RESULT, ATTR_DATA, ATTR_MAX };
const blobmsg_policy reply_policy[ATTR_MAX] = {
    {"result", BLOBMSG_TYPE_INT32},
    {"data", BLOBMSG_TYPE_STRING},
};

int fail(const char *what)
{
    std::fprintf(stderr, "config-client: %s\n", what);
    return client_failure;
}

int fail_errno(const char *what)
{
    std::fprintf(stderr, "config-client: %s: %s\n", what, std::strerror(errno));
    return client_failure;
}

// The session's descriptor, or -1 when CONFIG_SOCKET names none.
int session_socket()
{
    const char *value = std::getenv("CONFIG_SOCKET");
    if (!value || !*value)
        return -1;
    char *end = nullptr;
    errno = 0;
    long fd = std::strtol(value, &end, 10);
    if (errno || *end || fd < 1 || fd > 0x7fffffff)
        return -1;
    return static_cast<int>(fd);
}

struct blob_owner {
    blob_buf buf{};
    ~blob_owner() { blob_buf_free(&buf); }
};

bool write_all(int fd, const void *data, size_t n)
{
    auto *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

// 1 read, 0 end of file, -1 error.
int read_all(int fd, void *data, size_t n)
{
    auto *p = static_cast<char *>(data);
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            return 0;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return 1;
}

void usage()
{
    std::fputs(
        "Usage: config-client <cmd> [arg...]\n"
        "Sends one command to the config server of the session that\n"
        "config-session started (CONFIG_SOCKET), prints the reply's text\n"
        "and exits with 0 (done/true), 1 (refused/false), 2 (store error)\n"
        "or 3 (no session, server gone, malformed reply).\n"
        "Commands: those under \"If started:\" in config's usage, ident <name>,\n"
        "problems, changes and describe <path>.\n",
        stderr);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
        return client_failure;
    }
    int fd = session_socket();
    if (fd < 0)
        return fail("CONFIG_SOCKET does not name a session; run this under config-session");
    // A server that has gone away is reported, not a silent death by signal.
    signal(SIGPIPE, SIG_IGN);

    blob_owner request;
    if (blob_buf_init(&request.buf, 0) != 0 ||
        blobmsg_add_string(&request.buf, "cmd", argv[1]) != 0)
        return fail("out of memory");
    void *args = blobmsg_open_array(&request.buf, "arg");
    if (!args)
        return fail("out of memory");
    for (int i = 2; i < argc; ++i)
        if (!blob_put_string(&request.buf, BLOB_ATTR_STRING, argv[i]))
            return fail("request too large");
    blobmsg_close_array(&request.buf, args);

    if (!write_all(fd, request.buf.head, blob_raw_len(request.buf.head)))
        return fail_errno("cannot send to the config server");

    uint32_t header;
    int got = read_all(fd, &header, sizeof header);
    if (got == 0)
        return fail("the config server closed the session without a reply");
    if (got < 0)
        return fail_errno("cannot read from the config server");
    uint32_t length = be32toh(header) & BLOB_ATTR_LEN_MASK;
    if (length < sizeof header)
        return fail("malformed reply from the config server");
    std::vector<char> frame(length);
    std::memcpy(frame.data(), &header, sizeof header);
    got = read_all(fd, frame.data() + sizeof header, length - sizeof header);
    if (got == 0)
        return fail("the config server closed the session in the middle of a reply");
    if (got < 0)
        return fail_errno("cannot read from the config server");

    blob_attr *tb[ATTR_MAX];
    blobmsg_parse(reply_policy, ATTR_MAX, tb, frame.data() + sizeof header, length - sizeof header);
    if (!tb[ATTR_RESULT])
        return fail("malformed reply from the config server: no result");

    if (tb[ATTR_DATA]) {
        std::printf("%s\n", blobmsg_get_string(tb[ATTR_DATA]));
        if (std::fflush(stdout) != 0)
            return fail_errno("cannot write standard output");
    }
    int32_t result = static_cast<int32_t>(blobmsg_get_u32(tb[ATTR_RESULT]));
    if (result == 0)
        return 0;
    return result == 2 ? 2 : 1;
}
