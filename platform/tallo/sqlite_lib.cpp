// Loads SQLite on first use (see sqlite_lib.h).  The library stays loaded
// until the process ends: the store's connection may outlive any caller.
#include "sqlite_lib.h"

#include <dlfcn.h>

namespace tallo {

namespace {

// Set by the build to the name the dynamic loader knows the library by.
#ifndef TALLO_SQLITE_LIBRARY
#define TALLO_SQLITE_LIBRARY "libsqlite3.so.0"
#endif

template <class F>
bool bind(void *lib, const char *name, F &fn, std::string &why)
{
    // POSIX defines conversion of dlsym's result to a function pointer.
    fn = reinterpret_cast<F>(dlsym(lib, name));
    if (!fn)
        why = std::string(TALLO_SQLITE_LIBRARY ": no function ") + name;
    return fn != nullptr;
}

}  // namespace

const sqlite_api *sqlite_library(std::string &why)
{
    static sqlite_api api;
    static bool loaded = false;
    if (loaded)
        return &api;
    // Lazy binding: the store calls a dozen of the library's functions.
    void *lib = dlopen(TALLO_SQLITE_LIBRARY, RTLD_LAZY | RTLD_LOCAL);
    if (!lib) {
        const char *e = dlerror();
        why = std::string("cannot load " TALLO_SQLITE_LIBRARY ": ") + (e ? e : "unknown error");
        return nullptr;
    }
    sqlite_api found;
    if (!bind(lib, "sqlite3_open_v2", found.open_v2, why) ||
        !bind(lib, "sqlite3_close", found.close, why) ||
        !bind(lib, "sqlite3_close_v2", found.close_v2, why) ||
        !bind(lib, "sqlite3_busy_timeout", found.busy_timeout, why) ||
        !bind(lib, "sqlite3_errmsg", found.errmsg, why) ||
        !bind(lib, "sqlite3_errcode", found.errcode, why) ||
        !bind(lib, "sqlite3_exec", found.exec, why) ||
        !bind(lib, "sqlite3_free", found.free, why) ||
        !bind(lib, "sqlite3_prepare_v2", found.prepare_v2, why) ||
        !bind(lib, "sqlite3_finalize", found.finalize, why) ||
        !bind(lib, "sqlite3_reset", found.reset, why) ||
        !bind(lib, "sqlite3_bind_text", found.bind_text, why) ||
        !bind(lib, "sqlite3_step", found.step, why) ||
        !bind(lib, "sqlite3_column_text", found.column_text, why)) {
        dlclose(lib);
        return nullptr;
    }
    api = found;
    loaded = true;
    return &api;
}

}  // namespace tallo
