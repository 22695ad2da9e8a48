// Fuzz target: arbitrary bytes as the stream a peer writes to the config
// server, through the frame reader and the command dispatch.  The store is
// an in-memory stand-in, so no input can reach a file.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "commands.h"
#include "server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int in = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (in < 0 || sink < 0)
        std::abort();
    size_t done = 0;
    while (done < size) {
        ssize_t put = write(in, data + done, size - done);
        if (put <= 0)
            std::abort();
        done += static_cast<size_t>(put);
    }
    lseek(in, 0, SEEK_SET);
    config_server_loop(in, sink);
    close(in);
    // Every input starts without a working copy, as a new server does.
    server_reset();
    return 0;
}
