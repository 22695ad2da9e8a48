// Round trips per second of "get" against the config server over a socket
// pair, beside a minimal echo server that reads the same request frames and
// answers each with the same reply bytes (the ceiling for this transport).
// Built with the tree, run by server-rtt.sh.
//
//   server-rtt CONFIG_PROGRAM CONFIG_FILE PATH [ROUNDS]
//   server-rtt --count GETS CONFIG_PROGRAM CONFIG_FILE PATH
//
// With --count it only loads and sends GETS gets, then waits until the
// server has ended: the server's instruction count per request is then the
// difference of two runs under callgrind (figures.sh does that).
#include <endian.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ubox.h"

namespace {

enum { ATTR_RESULT, ATTR_DATA, ATTR_MAX };
const blobmsg_policy reply_policy[ATTR_MAX] = {
    {"result", BLOBMSG_TYPE_INT32},
    {"data", BLOBMSG_TYPE_STRING},
};

bool read_full(int fd, char *buf, size_t n)
{
    while (n) {
        ssize_t got = read(fd, buf, n);
        if (got <= 0)
            return false;
        buf += got;
        n -= size_t(got);
    }
    return true;
}

bool write_full(int fd, const char *buf, size_t n)
{
    while (n) {
        ssize_t put = write(fd, buf, n);
        if (put <= 0)
            return false;
        buf += put;
        n -= size_t(put);
    }
    return true;
}

bool read_frame(int fd, std::vector<char> &frame)
{
    uint32_t header;
    if (!read_full(fd, reinterpret_cast<char *>(&header), 4))
        return false;
    uint32_t length = be32toh(header) & BLOB_ATTR_LEN_MASK;
    if (length < 4)
        return false;
    frame.resize(length);
    std::memcpy(frame.data(), &header, 4);
    return read_full(fd, frame.data() + 4, length - 4);
}

// One request the way a client builds it, sent and answered; the reply is
// parsed as a client would.  Returns the result, or -100 on failure.
int call(int fd, const char *cmd, const std::vector<const char *> &args, std::string *data)
{
    blob_buf b{};
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "cmd", cmd);
    void *cookie = blobmsg_open_array(&b, "arg");
    for (const char *a : args)
        blob_put_string(&b, BLOB_ATTR_STRING, a);
    blobmsg_close_array(&b, cookie);
    bool sent = write_full(fd, reinterpret_cast<char *>(b.head), blob_raw_len(b.head));
    blob_buf_free(&b);
    static std::vector<char> frame;
    if (!sent || !read_frame(fd, frame))
        return -100;
    blob_attr *tb[ATTR_MAX];
    blobmsg_parse(reply_policy, ATTR_MAX, tb, frame.data() + 4, unsigned(frame.size() - 4));
    if (!tb[ATTR_RESULT])
        return -100;
    if (data && tb[ATTR_DATA])
        *data = blobmsg_get_string(tb[ATTR_DATA]);
    return int32_t(blobmsg_get_u32(tb[ATTR_RESULT]));
}

double rate(int fd, const char *path, long rounds)
{
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < rounds; ++i)
        if (call(fd, "get", {path}, nullptr) == -100) {
            std::fprintf(stderr, "server-rtt: round %ld failed\n", i);
            std::exit(1);
        }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return double(rounds) / took.count();
}

// The echo peer: frames in, the given reply bytes out, until end of file.
void echo(int fd, const std::vector<char> &reply)
{
    std::vector<char> frame;
    while (read_frame(fd, frame))
        if (!write_full(fd, reply.data(), reply.size()))
            break;
    _exit(0);
}

}  // namespace

// Loads, sends gets, then closes its side and reads until the server's side
// closes too: the server (and a profiler around it) has then ended.
int count_only(int fd, const char *file, const char *path, long gets)
{
    if (call(fd, "load", {file, "", ""}, nullptr) != 0) {
        std::fprintf(stderr, "server-rtt: the server could not load %s\n", file);
        return 1;
    }
    for (long i = 0; i < gets; ++i)
        if (call(fd, "get", {path}, nullptr) != 0) {
            std::fprintf(stderr, "server-rtt: get %s failed\n", path);
            return 1;
        }
    shutdown(fd, SHUT_WR);
    char sink[256];
    while (read(fd, sink, sizeof sink) > 0)
        ;
    return 0;
}

int main(int argc, char **argv)
{
    long count = -1;
    if (argc > 2 && std::strcmp(argv[1], "--count") == 0) {
        count = std::atol(argv[2]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: server-rtt [--count GETS] CONFIG_PROGRAM CONFIG_FILE PATH [ROUNDS]\n");
        return 2;
    }
    const char *program = argv[1], *file = argv[2], *path = argv[3];
    long rounds = argc > 4 ? std::atol(argv[4]) : 50000;
    signal(SIGPIPE, SIG_IGN);

    // The config server, started as a session starts it.
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    pid_t starter = fork();
    if (starter == 0) {
        int server_end = dup(ends[1]);
        setenv("CONFIG_SOCKET", std::to_string(server_end).c_str(), 1);
        execl(program, program, "start", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(starter, &status, 0);
    close(ends[1]);
    int fd = ends[0];
    if (count >= 0)
        return count_only(fd, file, path, count);
    if (call(fd, "load", {file, "", ""}, nullptr) != 0) {
        std::fprintf(stderr, "server-rtt: the server could not load %s\n", file);
        return 1;
    }
    std::string value;
    if (call(fd, "get", {path}, &value) != 0) {
        std::fprintf(stderr, "server-rtt: get %s failed\n", path);
        return 1;
    }

    // The reply the echo sends: what the server answers to this get.
    blob_buf b{};
    blob_buf_init(&b, 0);
    blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "data", value.c_str(), unsigned(value.size() + 1));
    uint32_t zero = 0;
    blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "result", &zero, 4);
    std::vector<char> reply(reinterpret_cast<char *>(b.head),
                            reinterpret_cast<char *>(b.head) + blob_raw_len(b.head));
    blob_buf_free(&b);

    int echo_ends[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, echo_ends);
    pid_t echo_pid = fork();
    if (echo_pid == 0) {
        close(echo_ends[0]);
        echo(echo_ends[1], reply);
    }
    close(echo_ends[1]);

    // Warm both up, then alternate short passes so that both see the same
    // machine state, and take the median of each: a shared machine's load
    // comes and goes.
    rate(fd, path, rounds / 10);
    rate(echo_ends[0], path, rounds / 10);
    constexpr int passes = 21;
    std::vector<double> server_rates, echo_rates;
    for (int pass = 0; pass < passes; ++pass) {
        server_rates.push_back(rate(fd, path, rounds / passes + 1));
        echo_rates.push_back(rate(echo_ends[0], path, rounds / passes + 1));
    }
    std::sort(server_rates.begin(), server_rates.end());
    std::sort(echo_rates.begin(), echo_rates.end());
    double server = server_rates[passes / 2], limit = echo_rates[passes / 2];
    std::printf("get %s -> %s\n", path, value.c_str());
    std::printf("config server: %.0f round trips/s (median of %d passes)\n", server, passes);
    std::printf("echo (limit):  %.0f round trips/s\n", limit);
    std::printf("server / echo: %.1f %%\n", 100.0 * server / limit);

    close(fd);
    close(echo_ends[0]);
    waitpid(echo_pid, &status, 0);
    return 0;
}
