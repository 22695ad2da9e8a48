/* Starts a command as a child subreaper: processes that its descendants
 * leave behind (a config server, whose starter exits at once) become its
 * children, and it can wait for them.  The setting survives exec, so a test
 * that runs under an emulator which refuses the call itself gets it from
 * here.  Usage: subreaper COMMAND [ARG...] */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: subreaper COMMAND [ARG...]\n", stderr);
        return 2;
    }
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        fprintf(stderr, "subreaper: %s\n", strerror(errno));
        return 127;
    }
    execvp(argv[1], argv + 1);
    fprintf(stderr, "subreaper: %s: %s\n", argv[1], strerror(errno));
    return 127;
}
