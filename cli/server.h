/* The config server: serves one peer over an inherited stream socket,
 * one request frame in, one reply frame out, until the peer closes it. */
#ifndef CLI_SERVER_H
#define CLI_SERVER_H
#include <stddef.h>

/* Serves requests read from and answered on fd.  Returns the exit status of
 * the server: 0 when the peer closed or a read failed, 255 on a malformed
 * request or a failed write. */
int config_server(int fd);

/* The same loop with requests read from in_fd and replies written to
 * out_fd (one socket in service; two descriptors under test). */
int config_server_loop(int in_fd, int out_fd);

#endif
