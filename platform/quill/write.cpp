/* Text forms (JSON, dump), validation, and the atomic commit. */
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "json.h"
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "store.h"

namespace quill {

std::string lock_path(const std::string &file);

namespace {

/* A text that is a JSON number as written (so it can go out unchanged). */
bool json_number(std::string_view t)
{
    size_t i = 0, n = t.size();
    if (i < n && t[i] == '-')
        i++;
    if (i == n)
        return false;
    if (t[i] == '0')
        i++;
    else if (t[i] >= '1' && t[i] <= '9')
        while (i < n && t[i] >= '0' && t[i] <= '9')
            i++;
    else
        return false;
    if (i < n && t[i] == '.') {
        size_t d = ++i;
        while (i < n && t[i] >= '0' && t[i] <= '9')
            i++;
        if (i == d)
            return false;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        i++;
        if (i < n && (t[i] == '+' || t[i] == '-'))
            i++;
        size_t d = i;
        while (i < n && t[i] >= '0' && t[i] <= '9')
            i++;
        if (i == d)
            return false;
    }
    return i == n;
}

template <class W>
void write_scalar(W &w, const config_node *n)
{
    std::string_view t = scalar_text(n);
    switch (n->schema->type) {
    case SCHEMA_BOOLEAN: {
        bool b;
        if (parse_bool(t, b)) {
            w.Bool(b);
            return;
        }
        break;
    }
    case SCHEMA_INTEGER:
    case SCHEMA_NUMBER:
    case SCHEMA_DURATION: {
        if (json_number(t)) {
            w.RawValue(t.data(), t.size(), rapidjson::kNumberType);
            return;
        }
        int64_t i;
        double d;
        if (n->schema->type == SCHEMA_INTEGER && parse_int(t, i)) {
            w.Int64(i);
            return;
        }
        if (n->schema->type == SCHEMA_NUMBER && parse_number(t, d)) {
            w.Double(d);
            return;
        }
        break;
    }
    default:
        break;
    }
    w.String(t.data(), rapidjson::SizeType(t.size()));
}

template <class W>
void write_node(W &w, const config_node *n)
{
    switch (n->schema->type) {
    case SCHEMA_OBJECT:
    case SCHEMA_COLLECTION:
        w.StartObject();
        for (auto &c : n->children) {
            if (!written(c))
                continue;
            w.Key(c->key, rapidjson::SizeType(strlen(c->key)));
            write_node(w, c);
        }
        w.EndObject();
        break;
    case SCHEMA_ARRAY:
        w.StartArray();
        for (auto &c : n->children)
            if (!c->implicit)
                write_node(w, c);
        w.EndArray();
        break;
    default:
        write_scalar(w, n);
    }
}

const escape_pair dump_escapes[] = {
    {"\\", "\\\\"}, {"\n", "\\n"}, {"\r", "\\r"}, {"\t", "\\t"}, {nullptr, nullptr},
};

}  // namespace

void dump_line(std::string &out, const std::string &path, std::string_view value)
{
    out += path;
    out += '=';
    if (value.find_first_of("\\\n\r\t") != std::string_view::npos) {
        std::string copy(value);
        unique_text escaped(escape(copy.c_str(), dump_escapes));
        if (escaped)
            out += escaped.get();
    } else
        out += value;
    out += '\n';
}

namespace {

void dump_node(std::string &out, const config_node *n, const std::string &path, bool masked,
               bool is_public)
{
    masked = masked || (n->schema->flags & SCHEMA_PRIVATE);
    if (!is_container(n)) {
        dump_line(out, path, masked && is_public ? "***" : scalar_text(n));
        return;
    }
    bool any = false;
    for (auto &c : n->children) {
        if (!written(c))
            continue;
        any = true;
        std::string p = path.empty() ? c->key : path + "." + c->key;
        dump_node(out, c, p, masked, is_public);
    }
    if (!any && !path.empty())
        dump_line(out, path, n->schema->type == SCHEMA_ARRAY ? "[]" : "{}");
}

}  // namespace

bool written(const config_node *n)
{
    if (n->implicit)
        return false;
    const config_node *p = n->parent;
    if (!p || p->schema->type != SCHEMA_OBJECT)
        return true; /* the root, collection members and array elements */
    switch (n->schema->type) {
    case SCHEMA_OBJECT:
        for (auto &c : n->children)
            if (written(c))
                return true;
        return false;
    case SCHEMA_COLLECTION:
    case SCHEMA_ARRAY:
        for (auto &c : n->children)
            if (!c->implicit)
                return true;
        return false;
    default:
        return !value_equal(n->schema, n->text, schema_default(n->schema));
    }
}

std::string to_json(const config_node *n, bool pretty)
{
    rapidjson::StringBuffer buf;
    if (pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buf);
        w.SetIndent(' ', 2);
        write_node(w, n);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> w(buf);
        write_node(w, n);
    }
    return std::string(buf.GetString(), buf.GetSize());
}

bool validate_node(const config_node *n,
                   void (*report)(void *, const std::string &, const std::string &), void *ctx)
{
    if (n->implicit)
        return true;
    if (is_container(n)) {
        bool ok = true;
        for (auto &c : n->children)
            ok = validate_node(c, report, ctx) && ok;
        return ok;
    }
    std::string reason;
    if (!value_check(n->schema, n->text, reason)) {
        report(ctx, node_path(n), reason);
        return false;
    }
    if (n->schema->type == SCHEMA_REFERENCE && *n->text && !resolve_reference(n, n->text)) {
        /* A report may reach a log or a peer: a private value stays out. */
        report(ctx, node_path(n),
               is_private(n) ? std::string("reference to a missing member of ") + n->schema->target
                             : std::string("reference to a missing member ") + n->text);
        return false;
    }
    return true;
}

namespace {

int take_lock(const std::string &file)
{
    std::string path = lock_path(file);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        log_error("%s: cannot open the lock file: %s", path.c_str(), strerror(errno));
        return -1;
    }
    int r;
    while ((r = flock(fd, LOCK_EX)) != 0 && errno == EINTR)
        ;
    if (r != 0) {
        log_error("%s: cannot lock: %s", path.c_str(), strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

/* Temporary files of commits that were killed half way.  Called with the
 * lock held, so no other commit of this file is writing one now. */
void remove_stale(const std::string &dir, const std::string &base)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    std::string prefix = "." + base + ".";
    while (struct dirent *e = readdir(d)) {
        std::string_view name = e->d_name;
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
            unlinkat(dirfd(d), e->d_name, 0);
    }
    closedir(d);
}

/* Writes text to a temporary file beside file, flushes it, renames it over
 * file and flushes the directory.  On any failure the temporary file is
 * removed and file is left exactly as it was. */
bool replace_file(const std::string &file, const std::string &text, const struct stat *old)
{
    size_t slash = file.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    remove_stale(dir, base);
    std::string tmp = dir + "/." + base + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        log_error("%s: cannot create a temporary file in %s: %s", file.c_str(), dir.c_str(),
                  strerror(errno));
        return false;
    }
    const char *step = nullptr;
    /* The new file keeps the owner and mode of the one it replaces, so that
     * whoever could read the configuration still can. */
    if (old && geteuid() == 0 && fchown(fd, old->st_uid, old->st_gid) != 0)
        step = "set the owner of";
    else if (fchmod(fd, old ? old->st_mode & 07777 : 0600) != 0)
        step = "set the mode of";
    else if (!fd_write_all(fd, text.data(), text.size()))
        step = "write";
    else if (fsync(fd) != 0)
        step = "flush";
    if (close(fd) != 0 && !step)
        step = "close";
    if (!step && rename(tmp.c_str(), file.c_str()) != 0)
        step = "rename";
    if (step) {
        int e = errno;
        unlink(tmp.c_str());
        log_error("%s: cannot %s the new file: %s", file.c_str(), step, strerror(e));
        return false;
    }
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

void log_problem(void *ctx, const std::string &path, const std::string &message)
{
    log_error("%s: %s: %s", static_cast<const char *>(ctx), path.c_str(), message.c_str());
}

int commit(config_t *c, bool force)
{
    if (!c || !c->h)
        return 0;
    handle *h = c->h;
    config_node *root = &h->root;
    h->refusal.clear();
    if (!force && !validate_node(root, log_problem, const_cast<char *>("commit refused")))
        return 0;
    /* A copy without the lock takes it for the write, so that the check
     * below and the rename are one step for every other writer. */
    int own_lock = -1;
    if (h->lock_fd < 0 && (own_lock = take_lock(h->file)) < 0) {
        h->refusal = h->file + ": cannot take the lock; commit refused";
        return 0;
    }
    bool ok = true;
    file_id now = file_identity(h->file.c_str());
    if (!force && h->lock_fd < 0 && !(now == h->base)) {
        h->refusal = h->file + ": changed since it was loaded; commit refused";
        log_error("%s", h->refusal.c_str());
        ok = false;
    }
    if (ok) {
        struct stat st;
        bool existed = now.exists && stat(h->file.c_str(), &st) == 0;
        ok = replace_file(h->file, to_json(root, true) + "\n", existed ? &st : nullptr);
        if (!ok)
            h->refusal = h->file + ": cannot write the new file; commit refused";
    }
    if (ok) {
        h->base = file_identity(h->file.c_str());
        for (config_node *n : h->snapshot)
            h->release(n);
        h->snapshot = {};
        h->have_snapshot = false;
    }
    if (own_lock >= 0)
        close(own_lock);
    return ok ? 1 : 0;
}

struct report_ctx {
    config_report_fn fn;
    void *ctx;
};

void report_c(void *ctx, const std::string &path, const std::string &message)
{
    auto *r = static_cast<report_ctx *>(ctx);
    if (r->fn)
        r->fn(r->ctx, path.c_str(), message.c_str());
}

char *new_text(const std::string &s) { return strdup(s.c_str()); }

char *dump(config_node *node, bool is_public)
{
    if (!node)
        return nullptr;
    bool masked = false;
    for (const config_node *p = node->parent; p; p = p->parent)
        masked = masked || (p->schema->flags & SCHEMA_PRIVATE);
    std::string out;
    dump_node(out, node, node_path(node), masked, is_public);
    if (!out.empty())
        out.pop_back(); /* the caller ends the last line */
    return new_text(out);
}

}  // namespace

}  // namespace quill

using namespace quill;

extern "C" {

int config_validate(config_t *c, config_report_fn report, void *ctx)
{
    if (!c || !c->h)
        return 0;
    report_ctx r{report, ctx};
    return validate_node(&c->h->root, report_c, &r) ? 1 : 0;
}

int config_commit(config_t *c) { return commit(c, false); }

int config_commit_force(config_t *c) { return commit(c, true); }

char *config_commit_refusal(config_t *c)
{
    if (!c || !c->h || c->h->refusal.empty())
        return nullptr;
    return new_text(c->h->refusal);
}

void config_cancel(config_t *c)
{
    if (!c || !c->h || !c->h->have_snapshot)
        return;
    handle *h = c->h;
    for (config_node *n : h->root.children)
        h->release(n);
    h->root.children = h->snapshot;
    h->root.implicit = false;
    h->snapshot = {};
    h->have_snapshot = false;
}

char *config_json(config_node *node) { return node ? new_text(to_json(node, true)) : nullptr; }

char *config_dump(config_node *node) { return dump(node, false); }

char *config_dump_public(config_node *node) { return dump(node, true); }

}  // extern "C"
