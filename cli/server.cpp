#include "server.h"

#include <endian.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "anvil.h"
#include "commands.h"
#include "ubox.h"

namespace {

enum { ATTR_CMD, ATTR_ARG, ATTR_RESULT, ATTR_DATA, ATTR_MAX };

// One policy for both directions: a request may carry "result" and "data";
// they are parsed and ignored.
const blobmsg_policy message_policy[ATTR_MAX] = {
    {"cmd", BLOBMSG_TYPE_STRING},
    {"arg", BLOBMSG_TYPE_ARRAY},
    {"result", BLOBMSG_TYPE_INT32},
    {"data", BLOBMSG_TYPE_STRING},
};

constexpr size_t header_size = sizeof(blob_attr);

// Sentinel for "go on serving" in the per-frame step.
constexpr int keep_serving = -1;

using frame_buffer = std::unique_ptr<uint8_t, anvil_free_deleter>;

// Reads exactly n bytes.  False on end of file or a read error.
bool read_full(int fd, uint8_t *buf, size_t n)
{
    while (n > 0) {
        ssize_t got = read(fd, buf, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

uint32_t raw_length(const blob_attr *attr)
{
    uint32_t word;
    std::memcpy(&word, attr, sizeof word);
    return be32toh(word) & BLOB_ATTR_LEN_MASK;
}

// Pointers to each "arg" element's text, in place in the frame, then a null
// entry.  False when an element is not a zero-terminated string.
bool collect_arguments(blob_attr *arg, std::vector<char *> &argv)
{
    auto *pos = static_cast<uint8_t *>(blobmsg_data(arg));
    size_t remaining = blobmsg_data_len(arg);
    while (remaining >= header_size) {
        auto *element = reinterpret_cast<blob_attr *>(pos);
        uint32_t raw = raw_length(element);
        size_t padded = (raw + BLOB_ATTR_ALIGN - 1) & ~size_t(BLOB_ATTR_ALIGN - 1);
        if (padded > remaining || padded < header_size)
            break;
        // A length field below the header's own size leaves no value at all.
        if (raw < header_size ||
            !blob_check_type(blob_data(element), raw - header_size, BLOB_ATTR_STRING))
            return false;
        argv.push_back(static_cast<char *>(blob_data(element)));
        pos += padded;
        remaining -= padded;
    }
    argv.push_back(nullptr);
    return true;
}

// Owner of the reply buffer, released on every way out.
struct reply_buffer {
    blob_buf buf{};
    ~reply_buffer() { blob_buf_free(&buf); }
};

// Handles one complete frame of length bytes: runs its command and writes
// the reply.  Returns keep_serving, or the server's exit status.
int serve_frame(uint8_t *frame, size_t length, int out_fd)
{
    blob_attr *tb[ATTR_MAX];
    blobmsg_parse(message_policy, ATTR_MAX, tb, frame + header_size,
                  static_cast<unsigned>(length - header_size));
    if (!tb[ATTR_CMD] || !tb[ATTR_ARG]) {
        std::fputs("config server: missing cmd/arg\n", stderr);
        return 255;
    }

    std::vector<char *> argv;
    if (!collect_arguments(tb[ATTR_ARG], argv)) {
        std::fputs("config server: invalid arg\n", stderr);
        return 255;
    }

    reply_buffer reply;
    if (blob_buf_init(&reply.buf, 0) != 0) {
        std::fputs("config server: out of memory\n", stderr);
        return 255;
    }

    char *raw_text = nullptr;
    int result = server_command(blobmsg_get_string(tb[ATTR_CMD]), static_cast<int>(argv.size() - 1),
                                argv.data(), &raw_text);
    unique_text text(raw_text);
    if (text && blobmsg_add_field(&reply.buf, BLOBMSG_TYPE_STRING, "data", text.get(),
                                  static_cast<unsigned>(std::strlen(text.get()) + 1)) != 0) {
        // Better a refusal the peer sees than a success without its text.
        std::fputs("config server: reply too large\n", stderr);
        result = -1;
    }
    uint32_t wire_result = htobe32(static_cast<uint32_t>(result));
    if (blobmsg_add_field(&reply.buf, BLOBMSG_TYPE_INT32, "result", &wire_result,
                          sizeof wire_result) != 0) {
        std::fputs("config server: out of memory\n", stderr);
        return 255;
    }

    if (!fd_write_all(out_fd, reply.buf.head, blob_raw_len(reply.buf.head))) {
        std::fprintf(stderr, "config server: write failed: %s\n", std::strerror(errno));
        return 255;
    }
    return keep_serving;
}

}  // namespace

int config_server_loop(int in_fd, int out_fd)
{
    for (;;) {
        uint8_t header[header_size];
        if (!read_full(in_fd, header, sizeof header))
            return 0;
        uint32_t length = raw_length(reinterpret_cast<blob_attr *>(header));
        // The length counts the header itself; anything shorter cannot be a
        // frame, and the stream can no longer be trusted to be in step.
        if (length < header_size) {
            std::fprintf(stderr, "config server: invalid frame length %u\n", length);
            return 255;
        }
        frame_buffer frame(static_cast<uint8_t *>(std::malloc(length)));
        if (!frame) {
            std::fputs("config server: out of memory\n", stderr);
            return 255;
        }
        std::memcpy(frame.get(), header, sizeof header);
        if (!read_full(in_fd, frame.get() + header_size, length - header_size))
            return 0;
        int status = serve_frame(frame.get(), length, out_fd);
        if (status != keep_serving)
            return status;
    }
}

int config_server(int fd)
{
    log_init("config", 0, 1);
    // A peer that hangs up before its reply is a failed write to report,
    // not a reason to die silently.
    signal(SIGPIPE, SIG_IGN);
    return config_server_loop(fd, fd);
}
