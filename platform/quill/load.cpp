/* Openers: reading a configuration file into the node tree, the store's lock,
 * and the handle's life. */
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "json.h"
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include "store.h"

namespace quill {

/* Word-at-a-time tests over text.  A word is a size_t (4 bytes on the
 * device) copied out with memcpy, so no load is unaligned or type-punned. */
namespace text_words {
using word = size_t;
constexpr word ones = ~word(0) / 255; /* 0x01 in every byte */
constexpr word highs = ones * 0x80;   /* 0x80 in every byte */
/* Non-zero when a byte of w is zero (exact as a yes or no). */
inline word zero_byte(word w) { return (w - ones) & ~w & highs; }
/* Non-zero when a byte of w ends a run of plain string text: a quote, a
 * backslash or a control character. */
inline word string_stop(word w)
{
    return zero_byte(w ^ (ones * '"')) | zero_byte(w ^ (ones * '\\')) |
           ((w - ones * 0x20) & ~w & highs);
}
inline bool string_stop(char c) { return c == '"' || c == '\\' || (unsigned char)c < 0x20; }
/* Memory position of the first byte flagged in a test's result: the
 * lowest flag of the tests above is always a true one. */
inline size_t first_flagged(word flags)
{
    int bit = std::endian::native == std::endian::little ? std::countr_zero(flags)
                                                         : std::countl_zero(flags);
    return size_t(bit) / 8;
}
}  // namespace text_words

/* The reader's stream over the file text, which knows where the text ends:
 * the string scan below reads a word at a time and must not pass it.  The
 * scan also notes what the handler needs to know of a string: whether it
 * held a byte of 0x80 or above, and whether an escape was decoded in it
 * (which may have put any byte there, NUL included).  The handler reads
 * and clears both after each value. */
struct text_stream : rapidjson::InsituStringStream {
    text_stream(char *text, size_t size) : rapidjson::InsituStringStream(text), end(text + size) {}
    const char *end;
    text_words::word seen = 0; /* the scanned bytes or-ed together */
    bool escaped = false;
};

}  // namespace quill

/* The reader's hook for scanning the plain run of a string (the reader
 * handles what ends it: an escape, the closing quote or an error).  Its
 * own version goes a byte at a time unless the build enables SSE or NEON;
 * most of a configuration file is string text, so ours goes a word at a
 * time.  In place, the unescaped text lags behind the source once an escape
 * was decoded; until then nothing needs moving. */
template <>
template <>
inline void
rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator>::
    ScanCopyUnescapedString<quill::text_stream, quill::text_stream>(quill::text_stream &is,
                                                                    quill::text_stream &)
{
    using namespace quill::text_words;
    char *p = is.src_, *q = is.dst_;
    const char *end = is.end;
    word seen = 0;
    if (p == q) {
        while (size_t(end - p) >= sizeof(word)) {
            word w;
            memcpy(&w, p, sizeof w);
            if (word stop = string_stop(w)) {
                /* The bytes after the stop may add a false "high", which
                 * costs a needless check of the encoding, nothing more. */
                is.seen |= seen | w;
                is.src_ = is.dst_ = p + first_flagged(stop);
                return;
            }
            seen |= w;
            p += sizeof w;
        }
        while (p < end && !string_stop(*p))
            seen |= (unsigned char)*p++;
        is.seen |= seen;
        is.src_ = is.dst_ = p;
        return;
    }
    is.escaped = true;
    while (size_t(end - p) >= sizeof(word)) {
        word w;
        memcpy(&w, p, sizeof w);
        if (word stop = string_stop(w)) {
            size_t n = first_flagged(stop);
            memmove(q, p, n);
            is.src_ = p + n;
            is.dst_ = q + n;
            return;
        }
        memcpy(q, &w, sizeof w);
        p += sizeof w;
        q += sizeof w;
    }
    while (p < end && !string_stop(*p))
        *q++ = *p++;
    is.src_ = p;
    is.dst_ = q;
}

namespace quill {

const char *const active_file = "/etc/config/config.json";
const char *const import_file = "/var/run/config/import.json";

/* The lock beside a configuration file: config.json locks config.lock. */
std::string lock_path(const std::string &file)
{
    std::string_view f(file);
    if (f.size() > 5 && f.substr(f.size() - 5) == ".json")
        return std::string(f.substr(0, f.size() - 5)) + ".lock";
    return file + ".lock";
}

namespace {

/* Whether text holds a byte of 0x80 or above, and whether it holds a NUL
 * byte, tested a word at a time. */
void inspect(std::string_view text, bool &high, bool &nul)
{
    using namespace text_words;
    const char *p = text.data();
    size_t n = text.size(), i = 0;
    word any = 0, zero = 0;
    for (; n - i >= sizeof(word); i += sizeof(word)) {
        word w;
        memcpy(&w, p + i, sizeof w);
        any |= w;
        zero |= zero_byte(w);
    }
    for (; i < n; i++) {
        any |= (unsigned char)p[i];
        zero |= p[i] == 0;
    }
    high = (any & highs) != 0;
    nul = zero != 0;
}

std::string too_large()
{
    return "larger than " + std::to_string(CONFIG_FILE_SIZE_MAX >> 20) + " MiB, the store's limit";
}

/* Fills the tree from the reader's events, checking the shape against the
 * schema as it goes so that an unknown key is refused where it stands. */
struct tree_builder : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, tree_builder> {
    handle *h;
    text_stream *in = nullptr;
    std::vector<config_node *> stack;
    /* Keys of the file stay in the text, which the handle keeps. */
    std::string_view key;
    const schema_node *member = nullptr;
    bool skip_member = false;
    std::string error;
    /* A refusal is placed where the reader stopped, which is at the start of
     * a number: this is how much to add to stand after it. */
    size_t number_len = 0;

    explicit tree_builder(handle *hd) : h(hd) {}

    bool fail(const std::string &path, const std::string &reason)
    {
        error = (path.empty() ? std::string("(top)") : path) + ": " + reason;
        return false;
    }

    std::string child_path()
    {
        std::string p = node_path(stack.back());
        if (!p.empty())
            p += '.';
        p += key;
        return p;
    }

    /* Schema of the value that comes next; sets key for array elements. */
    const schema_node *next_schema()
    {
        config_node *parent = stack.back();
        if (parent->schema->type == SCHEMA_ARRAY) {
            key = h->index_key(parent->children.size());
            return parent->schema->item;
        }
        return member;
    }

    static const char *kind_name(const schema_node *s)
    {
        switch (s->type) {
        case SCHEMA_OBJECT:
        case SCHEMA_COLLECTION:
            return "an object";
        case SCHEMA_ARRAY:
            return "an array";
        default:
            return "a value";
        }
    }

    /* nul: the text holds a NUL byte (only a string can).  Runs for every
     * value of a file; left to itself the compiler calls it from String. */
    [[gnu::always_inline]] bool value(std::string_view text, bool lasting = false, bool nul = false)
    {
        if (stack.empty())
            return fail("", "the top level must be a JSON object");
        const schema_node *s = next_schema();
        if (schema_is_container(s))
            return fail(child_path(), std::string("expected ") + kind_name(s));
        if (nul)
            return fail(child_path(), "NUL character in a value");
        add_child(stack.back(), s, key, false, true)->text = lasting ? text.data() : h->keep(text);
        return true;
    }

    bool container(bool array)
    {
        if (stack.empty()) {
            if (array)
                return fail("", "the top level must be a JSON object");
            stack.push_back(&h->root);
            return true;
        }
        const schema_node *s = next_schema();
        bool ok = array ? s->type == SCHEMA_ARRAY
                        : (s->type == SCHEMA_OBJECT || s->type == SCHEMA_COLLECTION);
        if (!ok)
            return fail(child_path(), std::string("expected ") + kind_name(s));
        stack.push_back(add_child(stack.back(), s, key, false, true));
        return true;
    }

    /* Small containers are checked for a repeated key as each key comes;
     * large ones once at their end, so that the check stays cheap for big
     * files: a collection (hundreds of tunnels) by the index that finds its
     * members later, an object (never that large in practice) by sorting. */
    static constexpr size_t few = 16;
    bool duplicate_at_end(const config_node *n)
    {
        if (n->children.size() <= few || n->schema->type == SCHEMA_ARRAY)
            return false;
        if (n->schema->type == SCHEMA_COLLECTION) {
            const config_node *dup = index_collection(n);
            if (!dup)
                return false;
            key = dup->key; /* the file text outlives the builder */
        } else {
            std::vector<std::string_view> keys;
            keys.reserve(n->children.size());
            for (const config_node *c : n->children)
                keys.push_back(c->key);
            std::sort(keys.begin(), keys.end());
            auto dup = std::adjacent_find(keys.begin(), keys.end());
            if (dup == keys.end())
                return false;
            key = *dup;
        }
        stack.push_back(const_cast<config_node *>(n));
        return true;
    }

    bool Null()
    {
        /* null in an object means "not set", so a document may spell out
         * the members it leaves at their defaults. */
        if (!stack.empty() && stack.back()->schema->type != SCHEMA_ARRAY)
            return true;
        return fail(stack.empty() ? "" : child_path(), "null is not an element");
    }
    bool Bool(bool b) { return value(b ? "true" : "false", true); }
    /* A number is not terminated in the text (the byte after it is the
     * separator), so it gets its own copy.  The reader works on a copy of the
     * stream, so ours still stands at the number's first character. */
    bool RawNumber(const char *, rapidjson::SizeType len, bool)
    {
        const char *at = in->src_;
        if (*at != '-' && (*at < '0' || *at > '9')) /* the reader moved ours along */
            at -= len;
        number_len = len;
        bool ok = value({at, len});
        number_len = ok ? 0 : len;
        return ok;
    }
    /* Strings are unescaped and terminated in place in the file text, which
     * the handle keeps: no copy. */
    bool String(const char *str, rapidjson::SizeType len, bool)
    {
        std::string_view text(str, len);
        /* Plain text without escapes (most of a file) needs no second look:
         * the scan saw every byte. */
        bool high = in->seen & text_words::highs, nul = false;
        if (in->escaped)
            inspect(text, high, nul);
        in->seen = 0;
        in->escaped = false;
        if (high && !stack.empty() && !valid_utf8(text)) /* value() refuses a top-level text */
            return fail(child_path(), "invalid UTF-8 in a value");
        return value(text, true, nul);
    }
    bool StartObject() { return container(false); }
    bool StartArray() { return container(true); }
    bool EndObject(rapidjson::SizeType)
    {
        config_node *done = stack.back();
        stack.pop_back();
        if (duplicate_at_end(done))
            return fail(child_path(), "duplicate key");
        return true;
    }
    bool EndArray(rapidjson::SizeType)
    {
        stack.pop_back();
        return true;
    }
    bool Key(const char *str, rapidjson::SizeType len, bool)
    {
        /* Member names and collection keys are ASCII: the encoding of a key
         * matters only for saying why it is refused.  What the scan noted of
         * the key stays for the value that follows; a note too many costs a
         * needless check, nothing more. */
        key = std::string_view(str, len);
        config_node *parent = stack.back();
        if (parent->schema->type == SCHEMA_OBJECT) {
            /* Files keep the members in description order, mostly: look
             * after the member read last first. */
            const schema_node *object = parent->schema;
            uint32_t from = parent->children.empty()
                                ? 0
                                : uint32_t(parent->children.back()->schema - object->children) + 1;
            const schema_node *next = from < object->nchildren ? &object->children[from] : nullptr;
            member = next && next->key_len == len && memcmp(next->key, str, len) == 0
                         ? next
                         : schema_member(object, key, from);
            if (!member)
                return fail(child_path(),
                            valid_utf8(key) ? "unknown key" : "invalid UTF-8 in a key");
        } else {
            if (!valid_collection_key(key))
                return fail(child_path(), !valid_utf8(key)
                                              ? "invalid UTF-8 in a key"
                                              : "key with a forbidden character (letters, digits, "
                                                "'_' and '-' only, at most 64 bytes)");
            member = parent->schema->item;
        }
        if (parent->children.size() <= few && seen(parent))
            return fail(child_path(), "duplicate key");
        return true;
    }

    /* Members of an object are told apart by their description, which is
     * cheaper than comparing names. */
    bool seen(const config_node *parent) const
    {
        if (parent->schema->type != SCHEMA_OBJECT)
            return find_child(parent, key) != nullptr;
        return find_member(parent, member) != nullptr;
    }
};

/* Every file the store reads (configuration, import, factory defaults,
 * schema) goes through here: only a regular file (a symlink to one is fine)
 * of at most CONFIG_FILE_SIZE_MAX bytes.  The open never blocks, so a FIFO
 * in the file's place cannot hang a command, and a device such as /dev/zero
 * is refused before anything is read.  The identity comes from the same
 * descriptor so that it matches the text read.  On failure, reason says
 * why. */
enum read_result { READ_OK, READ_MISSING, READ_FAILED };
read_result open_source(const char *path, int &fd, struct stat &st, std::string &reason)
{
    fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        int e = errno;
        reason = strerror(e);
        return e == ENOENT ? READ_MISSING : READ_FAILED;
    }
    if (fstat(fd, &st) != 0)
        reason = strerror(errno);
    else if (S_ISDIR(st.st_mode))
        reason = strerror(EISDIR);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (st.st_size > off_t(CONFIG_FILE_SIZE_MAX))
        reason = too_large();
    else
        return READ_OK;
    close(fd);
    fd = -1;
    return READ_FAILED;
}

/* Line and column of a byte offset, counted by reading the file again
 * (only when there is an error to report). */
std::string position_in_file(int fd, size_t offset)
{
    size_t line = 1, col = 1, at = 0;
    char buf[8192];
    if (lseek(fd, 0, SEEK_SET) != 0)
        return "?:?";
    while (at < offset) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n && at < offset; i++, at++) {
            if (buf[i] == '\n') {
                line++;
                col = 1;
            } else
                col++;
        }
    }
    return std::to_string(line) + ":" + std::to_string(col);
}

/* Reads the whole file into a terminated buffer, in one piece when the
 * size is known; the reader then works in place on it.  A file that grew
 * past the limit since it was measured is refused all the same. */
std::unique_ptr<char[]> read_text(int fd, size_t size_hint, size_t &size, std::string &reason)
{
    size_t room = size_hint + 1;
    auto buf = std::make_unique_for_overwrite<char[]>(room + 1);
    size = 0;
    for (;;) {
        if (size == room) { /* the file grew since it was measured */
            if (room > CONFIG_FILE_SIZE_MAX) {
                reason = too_large();
                return nullptr;
            }
            size_t bigger = std::min(room * 2, size_t(CONFIG_FILE_SIZE_MAX) + 1);
            auto more = std::make_unique_for_overwrite<char[]>(bigger + 1);
            memcpy(more.get(), buf.get(), size);
            buf = std::move(more);
            room = bigger;
        }
        ssize_t n = read(fd, buf.get() + size, room - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = strerror(errno);
            return nullptr;
        }
        if (n == 0)
            break;
        size += size_t(n);
    }
    if (size > CONFIG_FILE_SIZE_MAX) {
        reason = too_large();
        return nullptr;
    }
    buf[size] = 0;
    return buf;
}

/* A whole file as a string (the schema file). */
bool read_file(const char *path, std::string &text, std::string &reason)
{
    int fd;
    struct stat st;
    if (open_source(path, fd, st, reason) != READ_OK)
        return false;
    size_t size;
    std::unique_ptr<char[]> buf = read_text(fd, size_t(st.st_size), size, reason);
    close(fd);
    if (!buf)
        return false;
    text.assign(buf.get(), size);
    return true;
}

bool parse_into(handle *h, const char *name, int fd, size_t size_hint)
{
    size_t size;
    std::string reason;
    std::unique_ptr<char[]> text = read_text(fd, size_hint, size, reason);
    if (!text) {
        log_error("%s: cannot read: %s", name, reason.c_str());
        return false;
    }
    tree_builder b(h);
    text_stream in(text.get(), size);
    b.in = &in;
    rapidjson::Reader reader;
    /* The encoding is checked per text in the handler: checking it in the
     * reader is its slowest step, and most files are plain ASCII.  Positions
     * of errors are counted on the file itself, as the text has been
     * rewritten in place behind the reader; a refusal by the handler is
     * placed by the reader (just after the key or value refused). */
    rapidjson::ParseResult r =
        reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseInsituFlag>(in, b);
    bool ok = false;
    if (!r && !b.error.empty())
        log_error("%s:%s: %s", name, position_in_file(fd, r.Offset() + b.number_len).c_str(),
                  b.error.c_str());
    else if (!r)
        log_error("%s:%s: malformed JSON: %s", name, position_in_file(fd, r.Offset()).c_str(),
                  rapidjson::GetParseError_En(r.Code()));
    else if (in.Tell() < size) /* a NUL byte ends the reader early */
        log_error("%s:%s: malformed JSON: NUL byte in the file", name,
                  position_in_file(fd, in.Tell()).c_str());
    else
        ok = true;
    if (!ok)
        h->root.children = {};
    else
        h->file_text = std::move(text); /* the tree's texts point into it */
    return ok;
}

struct open_spec {
    const char *file = nullptr;   /* bound file (commit target) */
    const char *source = nullptr; /* read from here; null: defaults */
    const char *schema_file = nullptr;
    const char *baked_file = nullptr; /* read when source is missing */
    bool lock = false;
    bool source_required = false; /* a missing source is an error */
};

config_t *open_copy(const open_spec &spec)
{
    auto h = std::make_unique<handle>();
    h->root.h = h.get();
    h->file = spec.file;
    if (spec.schema_file && *spec.schema_file) {
        std::string text, error;
        if (!read_file(spec.schema_file, text, error)) {
            log_error("%s: cannot read schema: %s", spec.schema_file, error.c_str());
            return nullptr;
        }
        h->own_schema = schema_build({{spec.schema_file, std::move(text)}}, error);
        if (!h->own_schema) {
            log_error("%s", error.c_str());
            return nullptr;
        }
        h->root.schema = h->own_schema->root;
    } else
        h->root.schema = builtin_schema();

    if (spec.lock) {
        h->lock_file = lock_path(h->file);
        h->lock_fd = open(h->lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (h->lock_fd < 0) {
            log_error("%s: cannot open the lock file: %s", h->lock_file.c_str(), strerror(errno));
            return nullptr;
        }
        int r;
        while ((r = flock(h->lock_fd, LOCK_EX)) != 0 && errno == EINTR)
            ;
        if (r != 0) {
            log_error("%s: cannot lock: %s", h->lock_file.c_str(), strerror(errno));
            return nullptr;
        }
    }

    bool same = spec.source && h->file == spec.source;
    if (!same)
        h->base = file_identity(h->file.c_str());
    if (spec.source) {
        const char *name = spec.source;
        int fd = -1;
        struct stat st;
        std::string reason;
        read_result r = open_source(name, fd, st, reason);
        if (r == READ_MISSING && !spec.source_required && spec.baked_file && *spec.baked_file) {
            name = spec.baked_file;
            r = open_source(name, fd, st, reason);
            same = false;
        }
        if (r == READ_FAILED || (r == READ_MISSING && spec.source_required)) {
            log_error("%s: cannot read: %s", name, reason.c_str());
            return nullptr;
        }
        if (r == READ_OK) {
            if (same) {
                h->base.exists = true;
                h->base.dev = st.st_dev;
                h->base.ino = st.st_ino;
                h->base.size = st.st_size;
                h->base.mtime = st.st_mtim;
            }
            bool ok = parse_into(h.get(), name, fd, size_t(st.st_size));
            close(fd);
            if (!ok)
                return nullptr;
        }
    }
    return &h.release()->root;
}

/* What the openers hand to C callers: running out of memory on a large
 * file is a refused load like any other, never an exception. */
config_t *open_guarded(const open_spec &spec)
{
    const char *name = spec.source ? spec.source : spec.file;
    try {
        return open_copy(spec);
    } catch (const std::bad_alloc &) {
        log_error("%s: cannot load: out of memory", name);
    } catch (const std::exception &e) {
        log_error("%s: cannot load: %s", name, e.what());
    }
    return nullptr;
}

}  // namespace

}  // namespace quill

using namespace quill;

extern "C" {

config_t *config_load(void)
{
    open_spec s;
    s.file = s.source = active_file;
    return open_guarded(s);
}

config_t *config_update(void)
{
    open_spec s;
    s.file = s.source = active_file;
    s.lock = true;
    return open_guarded(s);
}

config_t *config_load_json(void)
{
    open_spec s;
    s.file = active_file;
    s.source = import_file;
    s.source_required = true;
    return open_guarded(s);
}

config_t *config_load_baked(void)
{
    open_spec s;
    s.file = active_file;
    return open_guarded(s);
}

static config_t *open_record(const config_file_record *files, bool lock)
{
    if (!files || !files->config_file || !*files->config_file) {
        log_error("config: no configuration file given");
        return nullptr;
    }
    open_spec s;
    s.file = s.source = files->config_file;
    s.schema_file = files->schema_file;
    s.baked_file = files->baked_file;
    s.lock = lock;
    return open_guarded(s);
}

config_t *config_load_file(const config_file_record *files) { return open_record(files, false); }

config_t *config_update_file(const config_file_record *files) { return open_record(files, true); }

config_t *config_create(const char *file)
{
    if (!file || !*file) {
        log_error("config: no configuration file given");
        return nullptr;
    }
    open_spec s;
    s.file = file;
    return open_guarded(s);
}

config_t *config_try_create(const char *file)
{
    if (file && file_identity(file).exists) {
        log_error("%s: already exists", file);
        return nullptr;
    }
    return config_create(file);
}

void config_free(config_t *c)
{
    if (c && c->h)
        std::unique_ptr<handle> owner(c->h);
}

int config_error_check(config_t *c) { return c && c->h && c->h->error ? 1 : 0; }

void config_error_clear(config_t *c)
{
    if (c && c->h)
        c->h->error = false;
}

}  // extern "C"
