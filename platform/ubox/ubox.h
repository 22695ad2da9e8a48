/* The blob/blobmsg layer for C++ code.  libubox's headers declare plain C
 * functions and carry no extern "C" of their own, and neither do ours in
 * include/: included straight into C++ they would name functions the
 * library does not have.  C++ code includes them only through here. */
#ifndef UBOX_H
#define UBOX_H

extern "C" {
#include <libubox/blobmsg.h>
}

#endif
