/* The command-line side of `config`: usage text, direct-mode commands and
 * generator dispatch.  Each function returns the program's exit status. */
#ifndef CLI_FRONTEND_H
#define CLI_FRONTEND_H

/* Writes the usage text to standard error; the caller exits with 1. */
void print_usage(void);

/* argv is the program's whole argument vector (argv[0] "/bin/config",
 * argv[1] the command word); argc counts it. */
int run_direct(int argc, char **argv);

#endif
