// Logging to syslog under the identity given to log_init, and optionally to
// standard error as well.
#include "anvil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <syslog.h>

namespace {

// openlog keeps the pointer it is given, so the identity lives here.
char ident_buf[64] = "anvil";
bool to_stderr = false;
bool opened = false;

// syslog understands %m itself; stderr needs it expanded by hand.
std::string expand_m(const char *fmt, int err)
{
    std::string out;
    for (const char *p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += "%%";
            ++p;
        } else if (p[0] == '%' && p[1] == 'm') {
            for (const char *e = strerror(err); *e; ++e) {
                if (*e == '%')
                    out += '%';
                out += *e;
            }
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void emit(int priority, bool stderr_too, const char *fmt, va_list ap)
{
    int saved = errno;
    if (!opened) {
        openlog(ident_buf, LOG_PID, LOG_USER);
        opened = true;
    }
    if (stderr_too) {
        va_list copy;
        va_copy(copy, ap);
        try {
            std::string f = expand_m(fmt, saved);
            if (f.empty() || f.back() != '\n')
                f += '\n';
            fprintf(stderr, "%s: ", ident_buf);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
            vfprintf(stderr, f.c_str(), copy);
#pragma GCC diagnostic pop
        } catch (...) {
        }
        va_end(copy);
    }
    errno = saved;
    vsyslog(priority, fmt, ap);
    errno = saved;
}

}  // namespace

extern "C" {

void log_init(const char *ident, int facility, int stderr_flag)
{
    snprintf(ident_buf, sizeof ident_buf, "%s", ident ? ident : "");
    to_stderr = stderr_flag != 0;
    closelog();
    openlog(ident_buf, LOG_PID, facility ? facility : LOG_USER);
    opened = true;
}

void log_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    emit(LOG_ERR, to_stderr, fmt, ap);
    va_end(ap);
}

// Debug messages reach standard error only when ANVIL_DEBUG is set, so a
// command's error output stays what its callers parse.
void log_debug(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    emit(LOG_DEBUG, to_stderr && getenv("ANVIL_DEBUG"), fmt, ap);
    va_end(ap);
}

}  // extern "C"
