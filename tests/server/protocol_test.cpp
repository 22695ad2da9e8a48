// The config server's frames and loop, driven over a socket pair against
// the real program.  None of these requests needs the store.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "frames.h"

using namespace frames;

namespace {

bytes hex(std::initializer_list<int> values)
{
    bytes out;
    for (int v : values)
        out.push_back(char(v));
    return out;
}

// The reply a command without text sends: {result r}.
bytes bare_reply(int32_t r)
{
    return hex({0, 0, 0, 0x18, 0x85, 0, 0, 0x14, 0, 6}) + "result" + hex({0, 0, 0, 0}) +
           be32(uint32_t(r));
}

TEST(ServerFrames, RequestEncodingMatchesTheWireExample)
{
    // Guards the test encoder itself against the documented 48 bytes.
    bytes expected = hex({0, 0, 0, 0x30, 0x83, 0, 0, 0x10, 0, 3}) + "cmd" + hex({0, 0, 0}) + "get" +
                     hex({0}) + hex({0x81, 0, 0, 0x1c, 0, 3}) + "arg" + hex({0, 0, 0}) +
                     hex({3, 0, 0, 0x10}) + "auth.method" + hex({0});
    EXPECT_EQ(request("get", {"auth.method"}), expected);
    EXPECT_EQ(expected.size(), 48u);
}

TEST(ServerFrames, ExampleRequestsGetExactReplies)
{
    server s;
    // No working copy yet: refused, 24 bytes ending in -1.
    s.send(request("get", {"auth.method"}));
    EXPECT_EQ(s.read_frame(), bare_reply(-1));
    // "ident" needs no working copy and produces no text: the 24-byte 0.
    s.send(request("ident", {"session-test"}));
    EXPECT_EQ(s.read_frame(), bare_reply(0));
    EXPECT_EQ(s.wait(), 0);
    EXPECT_EQ(s.errors(), "");
}

TEST(ServerFrames, BackToBackRequestsAreAnsweredInOrder)
{
    server s;
    // One write holding three frames: replies 0, -1 (argument count), 0.
    s.send(request("ident", {"a"}) + request("ident", {"a", "b"}) + request("ident", {"c"}));
    EXPECT_EQ(s.read_frame(), bare_reply(0));
    EXPECT_EQ(s.read_frame(), bare_reply(-1));
    EXPECT_EQ(s.read_frame(), bare_reply(0));
    EXPECT_EQ(s.wait(), 0);
}

TEST(ServerFrames, FrameSplitAcrossWritesIsReassembled)
{
    server s;
    bytes req = request("ident", {"split"});
    for (char c : req)
        s.send(bytes(1, c));
    EXPECT_EQ(s.read_frame(), bare_reply(0));
}

TEST(ServerFrames, EmptyArgArrayMeansNoArguments)
{
    server s;
    // "ident" takes exactly one argument: with none it is refused, and the
    // server carries on.
    s.send(frame(named(3, "cmd", str("ident")) + named(1, "arg", "")));
    EXPECT_EQ(s.read_frame(), bare_reply(-1));
    EXPECT_EQ(s.call("ident", {"x"}).result, 0);
}

TEST(ServerFrames, ExtraResultAndDataInRequestAreIgnored)
{
    server s;
    s.send(frame(named(5, "result", be32(7)) + named(3, "data", str("ignored")) +
                 named(3, "cmd", str("ident")) + named(1, "arg", element("x"))));
    EXPECT_EQ(s.read_frame(), bare_reply(0));
}

TEST(ServerFrames, UnknownCommandIsRefusedAndServingGoesOn)
{
    server s;
    EXPECT_EQ(s.call("frobnicate").result, -1);
    EXPECT_EQ(s.call("GET", {"x"}).result, -1) << "command words are case-sensitive";
    EXPECT_EQ(s.call("ident", {"x"}).result, 0);
}

struct malformed_case {
    const char *what;
    bytes request;
    const char *message;
};

void PrintTo(const malformed_case &c, std::ostream *os) { *os << c.what; }

class ServerMalformed : public ::testing::TestWithParam<malformed_case> {};

TEST_P(ServerMalformed, EndsWith255AndNoReply)
{
    server s;
    s.send(GetParam().request);
    EXPECT_EQ(s.read_frame(), std::nullopt) << "no reply";
    EXPECT_EQ(s.wait(true), 255);
    EXPECT_EQ(s.errors(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ServerMalformed,
    ::testing::Values(
        malformed_case{"no arg", frame(named(3, "cmd", str("get"))),
                       "config server: missing cmd/arg\n"},
        malformed_case{"no cmd", frame(named(1, "arg", element("x"))),
                       "config server: missing cmd/arg\n"},
        malformed_case{"cmd as integer",
                       frame(named(5, "cmd", be32(1)) + named(1, "arg", element("x"))),
                       "config server: missing cmd/arg\n"},
        malformed_case{"arg as string",
                       frame(named(3, "cmd", str("get")) + named(3, "arg", str("x"))),
                       "config server: missing cmd/arg\n"},
        malformed_case{"cmd without terminating zero",
                       frame(named(3, "cmd", "gets") + named(1, "arg", "")),
                       "config server: missing cmd/arg\n"},
        malformed_case{"empty frame", frame(""), "config server: missing cmd/arg\n"},
        // The element's length covers "abc" but no terminating zero.
        malformed_case{"arg without terminating zero",
                       frame(named(3, "cmd", str("get")) +
                             named(1, "arg", be32((3u << 24) | 7) + "abc" + bytes(1, '\0'))),
                       "config server: invalid arg\n"},
        // A second element whose length field is below its own header.
        malformed_case{"arg element shorter than its header",
                       frame(named(3, "cmd", str("get")) +
                             named(1, "arg", element("ok") + be32((3u << 24) | 2))),
                       "config server: invalid arg\n"},
        malformed_case{"arg element without value",
                       frame(named(3, "cmd", str("get")) + named(1, "arg", be32(3u << 24 | 4))),
                       "config server: invalid arg\n"},
        malformed_case{"frame length below its header", be32(2) + bytes(12, 'x'),
                       "config server: invalid frame length 2\n"}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(ServerEnd, PeerClosingEndsWithZero)
{
    {
        server s;  // between frames
        EXPECT_EQ(s.wait(), 0);
        EXPECT_EQ(s.errors(), "");
    }
    {
        server s;  // in the middle of a header
        s.send(bytes(2, '\0'));
        EXPECT_EQ(s.wait(), 0);
        EXPECT_EQ(s.errors(), "");
    }
    {
        server s;  // in the middle of a frame
        s.send(request("ident", {"x"}).substr(0, 20));
        EXPECT_EQ(s.wait(), 0);
        EXPECT_EQ(s.errors(), "");
    }
}

TEST(ServerEnd, ArgumentsBeyondTheArrayAreNotRead)
{
    server s;
    // The element claims more bytes than "arg" holds: the walk stops there
    // and the command sees no arguments.
    s.send(frame(named(3, "cmd", str("ident")) + named(1, "arg", be32((3u << 24) | 64) + "abc") +
                 named(3, "data", str("padding so the frame goes on"))));
    EXPECT_EQ(s.read_frame(), bare_reply(-1));
}

TEST(ServerEnd, WriteFailureEndsWith255)
{
    server s;
    // The peer stops reading before its request arrives: the reply cannot
    // be delivered.
    s.shutdown_read();
    s.send(request("ident", {"x"}));
    EXPECT_EQ(s.wait(true), 255);
    EXPECT_EQ(s.errors(), "config server: write failed: Broken pipe\n");
}

}  // namespace

namespace {

// `eval $(config start)` reads the program's output to its end: that end
// must come when `start` returns, not when the session is over.
TEST(ServerStart, StandardOutputIsReleasedWhenStartReturns)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int ends[2], out[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    pid_t starter = fork();
    if (starter == 0) {
        dup2(out[1], 1);
        int server_end = dup(ends[1]);
        setenv("CONFIG_SOCKET", std::to_string(server_end).c_str(), 1);
        execl(CONFIG_BINARY, "config", "start", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(ends[1]);
    int status = 0;
    waitpid(starter, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    pollfd p{out[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1) << "output still held open";
    char c;
    EXPECT_EQ(read(out[0], &c, 1), 0) << "nothing printed, and the end comes at once";
    close(out[0]);

    // The server itself is still there.
    bytes req = request("ident", {"x"});
    ASSERT_EQ(write(ends[0], req.data(), req.size()), ssize_t(req.size()));
    char reply[24];
    size_t got = 0;
    while (got < sizeof reply) {
        ssize_t n = read(ends[0], reply + got, sizeof reply - got);
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    EXPECT_EQ(bytes(reply, sizeof reply), bare_reply(0));
    close(ends[0]);
    ASSERT_GT(waitpid(-1, &status, 0), 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
