#include "frames.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

namespace frames {

bytes be32(uint32_t v)
{
    bytes out(4, '\0');
    out[0] = char(v >> 24);
    out[1] = char(v >> 16);
    out[2] = char(v >> 8);
    out[3] = char(v);
    return out;
}

static bytes pad4(bytes b)
{
    while (b.size() % 4)
        b.push_back('\0');
    return b;
}

bytes str(const std::string &text) { return text + std::string(1, '\0'); }

bytes named(unsigned type, const std::string &name, const bytes &value)
{
    // Name header: 16-bit length, name, zero, padded to 4 from its start.
    bytes name_header;
    name_header.push_back(char(name.size() >> 8));
    name_header.push_back(char(name.size()));
    name_header += name;
    name_header.push_back('\0');
    name_header = pad4(name_header);
    uint32_t length = 4 + uint32_t(name_header.size() + value.size());
    return pad4(be32(0x80000000u | (type << 24) | length) + name_header + value);
}

bytes element(const std::string &text)
{
    return pad4(be32((3u << 24) | uint32_t(4 + text.size() + 1)) + str(text));
}

bytes frame(const bytes &members) { return be32(uint32_t(4 + members.size())) + members; }

bytes request(const std::string &cmd, const std::vector<std::string> &args)
{
    bytes elements;
    for (const auto &a : args)
        elements += element(a);
    return frame(named(3, "cmd", str(cmd)) + named(1, "arg", elements));
}

static uint32_t get32(const bytes &b, size_t at)
{
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
           uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}

reply decode(const bytes &raw)
{
    reply r;
    r.raw = raw;
    EXPECT_GE(raw.size(), 4u);
    if (raw.size() < 4)
        return r;
    EXPECT_EQ(get32(raw, 0), raw.size()) << "outer header is type 0 and the frame's size";
    size_t at = 4;
    while (at + 4 <= raw.size()) {
        uint32_t word = get32(raw, at);
        uint32_t length = word & 0xffffff;
        unsigned type = (word >> 24) & 0x7f;
        EXPECT_TRUE(word & 0x80000000u) << "reply members are named";
        EXPECT_GE(length, 8u);
        if (length < 8 || at + length > raw.size()) {
            ADD_FAILURE() << "member runs past the frame";
            return r;
        }
        size_t name_length = size_t(uint8_t(raw[at + 4])) << 8 | uint8_t(raw[at + 5]);
        std::string name = raw.substr(at + 6, name_length);
        size_t value_at = at + 4 + ((2 + name_length + 1 + 3) & ~size_t(3));
        size_t value_length = at + length - value_at;
        r.order.push_back(name);
        if (name == "data") {
            EXPECT_EQ(type, 3u);
            EXPECT_GE(value_length, 1u);
            EXPECT_EQ(raw[value_at + value_length - 1], '\0') << "data keeps its terminating zero";
            r.data = raw.substr(value_at, value_length - 1);
        } else if (name == "result") {
            EXPECT_EQ(type, 5u);
            EXPECT_EQ(value_length, 4u);
            r.result = int32_t(get32(raw, value_at));
        } else {
            ADD_FAILURE() << "unexpected reply member " << name;
        }
        at += (length + 3) & ~size_t(3);
    }
    EXPECT_EQ(at, raw.size());
    return r;
}

server::server()
{
    // `config start` forks and its parent ends at once; as subreaper this
    // process inherits the server and can collect its exit status.  An
    // emulator refuses the call: there the build starts the tests through a
    // helper that made it for them (subreaper.c).
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::runtime_error("socketpair");
    char err_template[] = "/tmp/config-server-err-XXXXXX";
    err_fd_ = mkstemp(err_template);
    if (err_fd_ < 0)
        throw std::runtime_error("mkstemp");
    unlink(err_template);

    pid_t starter = fork();
    if (starter == 0) {
        dup2(err_fd_, 2);
        int server_end = dup(ends[1]);  // without close-on-exec
        std::string number = std::to_string(server_end);
        setenv("CONFIG_SOCKET", number.c_str(), 1);
        execl(CONFIG_BINARY, "config", "start", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    fd_ = ends[0];
    int status = 0;
    waitpid(starter, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "config start ends at once with 0";
}

server::~server()
{
    if (!waited_)
        wait();
    if (err_fd_ >= 0)
        close(err_fd_);
}

void server::send(const bytes &data)
{
    ASSERT_EQ(write(fd_, data.data(), data.size()), ssize_t(data.size()));
}

static bool read_exactly(int fd, char *buf, size_t n)
{
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) {
            ADD_FAILURE() << "no reply within 10 s";
            return false;
        }
        ssize_t got = read(fd, buf, n);
        if (got <= 0)
            return false;
        buf += got;
        n -= size_t(got);
    }
    return true;
}

std::optional<bytes> server::read_frame()
{
    bytes header(4, '\0');
    if (!read_exactly(fd_, header.data(), 4))
        return std::nullopt;
    uint32_t length = get32(header, 0) & 0xffffff;
    if (length < 4) {
        ADD_FAILURE() << "reply length below 4";
        return std::nullopt;
    }
    bytes rest(length - 4, '\0');
    if (!read_exactly(fd_, rest.data(), rest.size()))
        return std::nullopt;
    return header + rest;
}

reply server::call(const std::string &cmd, const std::vector<std::string> &args)
{
    send(request(cmd, args));
    auto raw = read_frame();
    if (!raw) {
        ADD_FAILURE() << "no reply to " << cmd << "; server said: " << errors();
        return {};
    }
    return decode(*raw);
}

void server::shutdown_write() { ::shutdown(fd_, SHUT_WR); }

void server::shutdown_read() { ::shutdown(fd_, SHUT_RD); }

void server::close_socket()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

int server::wait(bool keep_open)
{
    if (waited_)
        return status_;
    if (!keep_open)
        close_socket();
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, 0)) < 0 && errno == EINTR) {
    }
    waited_ = true;
    if (pid < 0)
        status_ = -1;
    else if (WIFEXITED(status))
        status_ = WEXITSTATUS(status);
    else
        status_ = 128 + WTERMSIG(status);
    return status_;
}

std::string server::errors() const
{
    std::string out;
    char buf[4096];
    ssize_t got;
    off_t at = 0;
    while ((got = pread(err_fd_, buf, sizeof buf, at)) > 0) {
        out.append(buf, size_t(got));
        at += got;
    }
    return out;
}

}  // namespace frames
