// Runtime state store over one SQLite database.  Only keys that hold a value
// are stored; a key's children are found by a range scan over the primary
// key, so intermediate keys need no rows of their own.
#include "tallo.h"

#include "natural.h"
#include "sqlite_lib.h"
#include "store.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *default_path = "/var/run/tallo/tallo.db";
// Writers from other processes are waited for instead of failing.
constexpr int busy_timeout_ms = 30000;

// Set together by open_db: the library's functions and the connection.
const tallo::sqlite_api *sq = nullptr;
sqlite3 *db = nullptr;
int edit_depth = 0;

std::string &error_text()
{
    static std::string text;
    return text;
}

void set_error(std::string_view what)
{
    error_text() = std::string(what);
    if (db) {
        error_text() += ": ";
        error_text() += sq->errmsg(db);
    }
}

// Each statement is prepared once per connection: a generator that
// publishes thousands of keys would otherwise compile the same SQL for
// every one of them.
enum query { Q_GET, Q_SET, Q_DELETE, Q_SCAN, Q_COUNT };
const char *const query_sql[Q_COUNT] = {
    "SELECT value FROM kv WHERE key = ?1",
    "INSERT OR REPLACE INTO kv(key, value) VALUES(?1, ?2)",
    "DELETE FROM kv WHERE key = ?1 OR (key >= ?2 AND key < ?3)",
    "SELECT key, value FROM kv WHERE key >= ?1 AND key < ?2",
};
sqlite3_stmt *prepared[Q_COUNT];

void finalize_all()
{
    for (sqlite3_stmt *&s : prepared) {
        if (s)
            sq->finalize(s);
        s = nullptr;
    }
}

// A prepared statement in use; reset when done, so that a finished read
// holds no snapshot of the database and the next use starts afresh.
class statement {
public:
    explicit statement(query q)
    {
        if (!prepared[q] &&
            sq->prepare_v2(db, query_sql[q], -1, &prepared[q], nullptr) != SQLITE_OK) {
            set_error("prepare");
            prepared[q] = nullptr;
        }
        s = prepared[q];
    }
    ~statement()
    {
        if (s)
            sq->reset(s);
    }
    statement(const statement &) = delete;
    statement &operator=(const statement &) = delete;
    explicit operator bool() const { return s != nullptr; }
    sqlite3_stmt *get() const { return s; }

private:
    sqlite3_stmt *s = nullptr;
};

bool exec(const char *sql)
{
    char *msg = nullptr;
    if (sq->exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        error_text() = msg ? msg : sq->errmsg(db);
        sq->free(msg);
        return false;
    }
    return true;
}

// Creates every missing directory above path.
void make_parents(const std::string &path)
{
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        std::string dir = path.substr(0, at);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return;
    }
}

// Switches a new database to WAL and creates the table.  When several
// processes open a store that does not exist yet, switching the journal mode
// can report "database is locked" at once, without waiting in the busy
// handler, while another process is doing the same; such a set-up is
// retried until the busy timeout has passed.
bool set_up_db()
{
    for (int waited_ms = 0;; waited_ms += 10) {
        if (exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=NORMAL") &&
            exec("CREATE TABLE IF NOT EXISTS kv(key TEXT PRIMARY KEY NOT NULL,"
                 " value TEXT NOT NULL) WITHOUT ROWID"))
            return true;
        int code = sq->errcode(db) & 0xff;
        if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || waited_ms >= busy_timeout_ms)
            return false;
        usleep(10 * 1000);
    }
}

bool open_db()
{
    if (db)
        return true;
    std::string why;
    if (!sq && !(sq = tallo::sqlite_library(why))) {
        error_text() = why;
        return false;
    }
    const char *env = getenv("TALLO_DB");
    std::string path = env && *env ? env : default_path;
    make_parents(path);
    if (sq->open_v2(path.c_str(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                    nullptr) != SQLITE_OK) {
        set_error(path);
        sq->close(db);
        db = nullptr;
        return false;
    }
    sq->busy_timeout(db, busy_timeout_ms);
    // The store lives on a RAM file system and is rebuilt by its producers
    // after a reboot, so NORMAL synchronisation is enough under WAL.
    if (!set_up_db()) {
        std::string failed = path + ": " + error_text();
        sq->close(db);
        db = nullptr;
        error_text() = failed;
        return false;
    }
    return true;
}

bool valid_key(std::string_view key)
{
    if (key.empty())
        return false;
    // Empty parts ("a..b", ".a", "a.") come from formatting with an empty
    // name; such a key could never be listed, so it is refused.
    size_t start = 0;
    for (;;) {
        size_t dot = key.find('.', start);
        if (dot == start || start == key.size())
            return false;
        if (dot == std::string_view::npos)
            return true;
        start = dot + 1;
    }
}

// A key that can be written (with a value, where one is given): otherwise
// refused with the key named in the error.
bool writable_key(const char *key, bool has_value = true)
{
    if (key && has_value && valid_key(key))
        return true;
    error_text() = std::string("invalid key \"") + (key ? key : "") + "\"";
    return false;
}

// Binds the half-open range of keys strictly below prefix: "p." .. "p/"
// ('/' follows '.').  An empty prefix covers every key.
void bind_below(sqlite3_stmt *s, int first, const std::string &prefix, std::string &lo,
                std::string &hi)
{
    if (prefix.empty()) {
        lo = "";
        hi = "\xff\xff\xff\xff";
    } else {
        lo = prefix + ".";
        hi = prefix + "/";
    }
    sq->bind_text(s, first, lo.c_str(), -1, SQLITE_STATIC);
    sq->bind_text(s, first + 1, hi.c_str(), -1, SQLITE_STATIC);
}

char *vformat(const char *fmt, va_list ap)
{
    char *key = nullptr;
    if (vasprintf(&key, fmt, ap) < 0)
        return nullptr;
    return key;
}

bool parse_int(const char *text, long long lo, long long hi, long long &out)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    while (end && (*end == ' ' || *end == '\n' || *end == '\t'))
        ++end;
    if (errno || !end || *end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// Keys (and values) strictly below prefix, unordered.
bool scan_below(const std::string &prefix, tallo::entry_list &out)
{
    statement s(Q_SCAN);
    if (!s)
        return false;
    std::string lo, hi;
    bind_below(s.get(), 1, prefix, lo, hi);
    int rc;
    while ((rc = sq->step(s.get())) == SQLITE_ROW) {
        out.emplace_back(reinterpret_cast<const char *>(sq->column_text(s.get(), 0)),
                         reinterpret_cast<const char *>(sq->column_text(s.get(), 1)));
    }
    if (rc != SQLITE_DONE) {
        set_error("read");
        return false;
    }
    return true;
}

std::string child_name(const std::string &prefix, const std::string &key)
{
    std::string_view rest(key);
    if (!prefix.empty())
        rest.remove_prefix(prefix.size() + 1);
    return std::string(rest.substr(0, rest.find('.')));
}

}  // namespace

namespace tallo {

bool dump(const std::string &prefix, entry_list &out)
{
    if (!open_db())
        return false;
    try {
        if (!prefix.empty()) {
            unique_text v(tallo_get_string(prefix.c_str()));
            if (v)
                out.emplace_back(prefix, v.get());
        }
        if (!scan_below(prefix, out))
            return false;
        std::sort(out.begin(), out.end(),
                  [](const auto &a, const auto &b) { return key_less(a.first, b.first); });
    } catch (...) {
        return false;
    }
    return true;
}

std::string last_error() { return error_text(); }

}  // namespace tallo

extern "C" {

int tallo_init(void) { return open_db() ? 0 : -1; }

void tallo_deinit(void)
{
    // An edit group left open is abandoned: closing rolls it back.
    if (db) {
        finalize_all();
        sq->close_v2(db);
    }
    db = nullptr;
    edit_depth = 0;
}

char *tallo_get_string(const char *key)
{
    if (!key || !open_db())
        return nullptr;
    statement s(Q_GET);
    if (!s)
        return nullptr;
    sq->bind_text(s.get(), 1, key, -1, SQLITE_STATIC);
    if (sq->step(s.get()) != SQLITE_ROW)
        return nullptr;
    return strdup(reinterpret_cast<const char *>(sq->column_text(s.get(), 0)));
}

char *tallo_get_string_pathf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    unique_text key(vformat(fmt, ap));
    va_end(ap);
    return key ? tallo_get_string(key.get()) : nullptr;
}

int tallo_get_int_pathf(int def, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    unique_text key(vformat(fmt, ap));
    va_end(ap);
    if (!key)
        return def;
    unique_text v(tallo_get_string(key.get()));
    long long n;
    return parse_int(v.get(), INT32_MIN, INT32_MAX, n) ? static_cast<int>(n) : def;
}

int32_t tallo_get_int32(const char *key, int32_t def)
{
    unique_text v(tallo_get_string(key));
    long long n;
    return parse_int(v.get(), INT32_MIN, INT32_MAX, n) ? static_cast<int32_t>(n) : def;
}

sl_list *tallo_keys(const char *key)
{
    if (!open_db())
        return nullptr;
    try {
        std::string prefix = key ? key : "";
        tallo::entry_list rows;
        if (!scan_below(prefix, rows))
            return nullptr;
        std::vector<std::string> names;
        for (const auto &r : rows)
            names.push_back(child_name(prefix, r.first));
        std::sort(names.begin(), names.end(),
                  [](const auto &a, const auto &b) { return tallo::natural_compare(a, b) < 0; });
        names.erase(std::unique(names.begin(), names.end()), names.end());
        sl_list *list = nullptr;
        for (const auto &n : names)
            list = sl_append(list, n.c_str());
        return list;
    } catch (...) {
        return nullptr;
    }
}

sl_list *tallo_keys_pathf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    unique_text key(vformat(fmt, ap));
    va_end(ap);
    return key ? tallo_keys(key.get()) : nullptr;
}

tallo_entry **tallo_get_entries(const char *key, int, int, int)
{
    if (!open_db())
        return nullptr;
    try {
        std::string prefix = key ? key : "";
        tallo::entry_list rows;
        if (!scan_below(prefix, rows))
            return nullptr;
        std::erase_if(rows, [&](const auto &r) {
            return r.first.find('.', prefix.empty() ? 0 : prefix.size() + 1) != std::string::npos;
        });
        if (rows.empty())
            return nullptr;
        std::sort(rows.begin(), rows.end(),
                  [](const auto &a, const auto &b) { return tallo::key_less(a.first, b.first); });
        auto **list = static_cast<tallo_entry **>(calloc(rows.size() + 1, sizeof(tallo_entry *)));
        if (!list)
            return nullptr;
        for (size_t i = 0; i < rows.size(); ++i) {
            auto *e = static_cast<tallo_entry *>(calloc(1, sizeof(tallo_entry)));
            if (!e) {
                tallo_entries_free(list);
                return nullptr;
            }
            list[i] = e;
            e->key = strdup(rows[i].first.c_str());
            e->name = strdup(child_name(prefix, rows[i].first).c_str());
            e->value = strdup(rows[i].second.c_str());
            if (!e->key || !e->name || !e->value) {
                tallo_entries_free(list);
                return nullptr;
            }
        }
        return list;
    } catch (...) {
        return nullptr;
    }
}

void tallo_entries_free(tallo_entry **entries)
{
    if (!entries)
        return;
    for (tallo_entry **e = entries; *e; ++e) {
        free((*e)->key);
        free((*e)->name);
        free((*e)->value);
        free(*e);
    }
    free(entries);
}

int tallo_edit_start(void)
{
    if (!open_db())
        return -1;
    if (edit_depth > 0) {
        ++edit_depth;
        return 0;
    }
    // IMMEDIATE takes the write lock now; a deferred transaction that later
    // upgrades could fail with a busy error that waiting cannot resolve.
    if (!exec("BEGIN IMMEDIATE"))
        return -1;
    edit_depth = 1;
    return 0;
}

int tallo_edit_commit(void)
{
    if (!db || edit_depth == 0)
        return -1;
    if (--edit_depth > 0)
        return 0;
    if (!exec("COMMIT")) {
        exec("ROLLBACK");
        return -1;
    }
    return 0;
}

int tallo_set_string(const char *key, const char *value)
{
    if (!writable_key(key, value != nullptr) || !open_db())
        return -1;
    statement s(Q_SET);
    if (!s)
        return -1;
    sq->bind_text(s.get(), 1, key, -1, SQLITE_STATIC);
    sq->bind_text(s.get(), 2, value, -1, SQLITE_STATIC);
    if (sq->step(s.get()) != SQLITE_DONE) {
        set_error("write");
        return -1;
    }
    return 0;
}

int tallo_set_string_pathf(const char *value, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    unique_text key(vformat(fmt, ap));
    va_end(ap);
    return key ? tallo_set_string(key.get(), value) : -1;
}

int tallo_delete(const char *key)
{
    if (!writable_key(key) || !open_db())
        return -1;
    statement s(Q_DELETE);
    if (!s)
        return -1;
    sq->bind_text(s.get(), 1, key, -1, SQLITE_STATIC);
    std::string lo, hi;
    bind_below(s.get(), 2, key, lo, hi);
    if (sq->step(s.get()) != SQLITE_DONE) {
        set_error("delete");
        return -1;
    }
    return 0;
}

}  // extern "C"
