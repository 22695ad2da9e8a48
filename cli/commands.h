/* Commands of the config server, run on the process-wide working copy. */
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

/* Runs one command with argc arguments (argv null-terminated).  Returns the
 * result sent to the peer: 0 done / true, -1 refused / false, 2 the store
 * flagged an error on the working copy (the flag is cleared).  *text
 * receives a new text for the reply, or null. */
int server_command(const char *cmd, int argc, char **argv, char **text);

/* Drops the working copy without committing (tests and fuzzing start each
 * run from a clean state with it). */
void server_reset(void);

#endif
