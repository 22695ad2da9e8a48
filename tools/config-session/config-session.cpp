// config-session: runs a command (by default a shell) with a config server
// of its own.  It creates a connected socket pair, starts `config start`
// with CONFIG_SOCKET naming one end, and then runs the command with
// CONFIG_SOCKET naming the other end, so that config-client (and anything
// else speaking the frames) reaches that server.  The server ends when the
// command and everything it started have closed their end.
//
//   config-session [-p PROGRAM] [COMMAND [ARG...]]
//
// PROGRAM is the config program to start (default /bin/config).  The exit
// status is the command's; 127 when it cannot be run, 3 when the server
// could not be started.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int launch_failure = 3;

void usage()
{
    std::fputs(
        "Usage: config-session [-p PROGRAM] [COMMAND [ARG...]]\n"
        "Starts a config server (PROGRAM start, default /bin/config) on a\n"
        "socket pair and runs COMMAND (default $SHELL or /bin/sh) with\n"
        "CONFIG_SOCKET naming its end; use config-client in it.\n",
        stderr);
}

bool set_inherited(int fd, bool inherited)
{
    return fcntl(fd, F_SETFD, inherited ? 0 : FD_CLOEXEC) == 0;
}

// Runs `program start` with CONFIG_SOCKET=fd and waits for it: its parent
// side ends at once, leaving the server running in the background.
bool start_server(const char *program, int fd)
{
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "config-session: fork: %s\n", std::strerror(errno));
        return false;
    }
    if (pid == 0) {
        std::string number = std::to_string(fd);
        if (!set_inherited(fd, true) || setenv("CONFIG_SOCKET", number.c_str(), 1) != 0)
            _exit(launch_failure);
        execl(program, program, "start", static_cast<char *>(nullptr));
        std::fprintf(stderr, "config-session: cannot run %s: %s\n", program, std::strerror(errno));
        _exit(launch_failure);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "config-session: waitpid: %s\n", std::strerror(errno));
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFEXITED(status))
        std::fprintf(stderr, "config-session: %s start failed with status %d\n", program,
                     WEXITSTATUS(status));
    else
        std::fprintf(stderr, "config-session: %s start was killed by signal %d\n", program,
                     WTERMSIG(status));
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *program = "/bin/config";
    int first = 1;
    while (first < argc && argv[first][0] == '-') {
        std::string_view option = argv[first];
        if (option == "--") {
            ++first;
            break;
        }
        if (option == "-p" && first + 1 < argc) {
            program = argv[first + 1];
            first += 2;
            continue;
        }
        if (option == "-h" || option == "--help") {
            usage();
            return 0;
        }
        std::fprintf(stderr, "config-session: unknown option %s\n", argv[first]);
        usage();
        return launch_failure;
    }

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::fprintf(stderr, "config-session: socketpair: %s\n", std::strerror(errno));
        return launch_failure;
    }
    // The server's end goes only to the server; the command's end is still
    // close-on-exec here so the server never holds it (it would then never
    // see the session end).
    if (!start_server(program, ends[0]))
        return launch_failure;
    close(ends[0]);

    std::string number = std::to_string(ends[1]);
    if (!set_inherited(ends[1], true) || setenv("CONFIG_SOCKET", number.c_str(), 1) != 0) {
        std::fprintf(stderr, "config-session: cannot pass the socket: %s\n", std::strerror(errno));
        return launch_failure;
    }

    if (first < argc) {
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "config-session: cannot run %s: %s\n", argv[first],
                     std::strerror(errno));
        return 127;
    }
    const char *shell = std::getenv("SHELL");
    if (!shell || !*shell)
        shell = "/bin/sh";
    execl(shell, shell, static_cast<char *>(nullptr));
    std::fprintf(stderr, "config-session: cannot run %s: %s\n", shell, std::strerror(errno));
    return 127;
}
