#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "frontend.h"
#include "marlo.h"
#include "server.h"

namespace {

// The descriptor named by CONFIG_SOCKET, or 0 when no server is started.
// Plain decimal conversion: text that is not a number reads as 0.
long config_socket()
{
    const char *value = std::getenv("CONFIG_SOCKET");
    if (!value)
        return 0;
    return std::strtol(value, nullptr, 10);
}

int start_server(long fd)
{
    pid_t pid = fork();
    if (pid < 0)
        return 255;
    if (pid > 0)
        return 0;
    // The server never writes to standard output.  Letting go of it means a
    // caller that reads our output (eval $(config start)) sees its end when
    // this parent exits, instead of waiting for the whole session.
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        if (null_fd != STDOUT_FILENO) {
            dup2(null_fd, STDOUT_FILENO);
            close(null_fd);
        }
    }
    // A number beyond any descriptor reads as a closed socket.
    return config_server(fd <= INT_MAX ? static_cast<int>(fd) : -1);
}

}  // namespace

int main(int argc, char **argv)
{
    // The permission policy grants commands to "/bin/config" whatever name
    // this program was started under.
    static char program_path[] = "/bin/config";
    argv[0] = program_path;

    if (getuid() != 0 && !marlo_command_allowed(argv)) {
        std::fputs("config-server: command not permitted for user\n", stderr);
        return 1;
    }
    if (argc < 2) {
        print_usage();
        return 1;
    }

    std::string_view cmd = argv[1];
    long socket_fd = config_socket();
    bool started = socket_fd >= 1;
    if (cmd == "start") {
        if (!started) {
            std::fputs("config-server: not started yet\n", stderr);
            return 1;
        }
        return start_server(socket_fd);
    }
    if (cmd == "stop")
        return 1;
    if (started) {
        std::fputs("config-server: client-mode commands not supported\n", stderr);
        return 1;
    }
    return run_direct(argc, argv);
}
