// The SQLite functions the runtime store calls, reached through the library
// loaded on the first use of the store.  Most runs of `config` (get, set,
// dump) never touch the runtime store; linking SQLite would make every one
// of them map the library and bind its symbols at start-up.
#pragma once
#include <sqlite3.h>

#include <string>

namespace tallo {

// Types come from sqlite3.h, so a call with the wrong arguments does not
// compile.
struct sqlite_api {
    decltype(&sqlite3_open_v2) open_v2;
    decltype(&sqlite3_close) close;
    decltype(&sqlite3_close_v2) close_v2;
    decltype(&sqlite3_busy_timeout) busy_timeout;
    decltype(&sqlite3_errmsg) errmsg;
    decltype(&sqlite3_errcode) errcode;
    decltype(&sqlite3_exec) exec;
    decltype(&sqlite3_free) free;
    decltype(&sqlite3_prepare_v2) prepare_v2;
    decltype(&sqlite3_finalize) finalize;
    decltype(&sqlite3_reset) reset;
    decltype(&sqlite3_bind_text) bind_text;
    decltype(&sqlite3_step) step;
    decltype(&sqlite3_column_text) column_text;
};

// The library's functions, loaded once; null when the library or one of
// the functions is missing, with the reason in why.
const sqlite_api *sqlite_library(std::string &why);

}  // namespace tallo
