// Test-side encoding of request frames and decoding of replies, written
// from the wire format itself (not with the blob layer under test), plus a
// running server started the way a session starts it: `config start` with
// CONFIG_SOCKET naming one end of a socket pair.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace frames {

using bytes = std::string;

bytes be32(uint32_t v);
// A named attribute: header with the extended flag, name header, value.
bytes named(unsigned type, const std::string &name, const bytes &value);
// An unnamed string element of "arg": header, text, terminating zero.
bytes element(const std::string &text);
// The outer frame around a sequence of attributes (type id 0).
bytes frame(const bytes &members);
// {cmd, arg [...]} as a client builds it.
bytes request(const std::string &cmd, const std::vector<std::string> &args);
// A string value with its terminating zero.
bytes str(const std::string &text);

struct reply {
    bytes raw;                        // the whole frame
    std::optional<std::string> data;  // "data" without its terminating zero
    std::optional<int32_t> result;
    std::vector<std::string> order;  // names of the members in frame order
};
// Decodes a reply frame; fails the current test on malformed input.
reply decode(const bytes &raw);

class server {
public:
    // Starts the built program with `start`; extra environment as NAME=VALUE.
    server();
    ~server();
    server(const server &) = delete;
    server &operator=(const server &) = delete;

    void send(const bytes &data);
    // Reads one reply frame; nullopt when the server closed the socket.
    std::optional<bytes> read_frame();
    // One request, one decoded reply (fails the test when none comes).
    reply call(const std::string &cmd, const std::vector<std::string> &args = {});
    // Closes the client end for writing only (the server then sees end of file).
    void shutdown_write();
    // Stops reading: the server's next reply fails with a broken pipe.
    void shutdown_read();
    void close_socket();
    // Waits for the server to end; returns its exit status (128+signal when
    // killed).  Closes the client end first unless keep_open.
    int wait(bool keep_open = false);
    // What the server wrote to standard error so far.
    std::string errors() const;

private:
    int fd_ = -1;
    int err_fd_ = -1;
    bool waited_ = false;
    int status_ = -1;
};

}  // namespace frames
