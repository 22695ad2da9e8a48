/* Openers: reading a configuration file into the node tree, the store's lock,
 * and the handle's life. */
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "store.h"

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

std::string position(std::string_view text, size_t offset)
{
    size_t line = 1, col = 1;
    for (size_t i = 0; i < offset && i < text.size(); i++) {
        if (text[i] == '\n') {
            line++;
            col = 1;
        } else
            col++;
    }
    return std::to_string(line) + ":" + std::to_string(col);
}

/* Fills the tree from the reader's events, checking the shape against the
 * schema as it goes so that an unknown key is refused where it stands. */
struct tree_builder : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, tree_builder> {
    handle *h;
    rapidjson::StringStream *in = nullptr;
    std::vector<config_node *> stack;
    std::string key;
    const schema_node *member = nullptr;
    bool skip_member = false;
    std::string error;
    size_t error_offset = 0;

    explicit tree_builder(handle *hd) : h(hd) {}

    bool fail(const std::string &path, const std::string &reason)
    {
        error = (path.empty() ? std::string("(top)") : path) + ": " + reason;
        error_offset = in->Tell();
        return false;
    }

    std::string child_path()
    {
        std::string p = node_path(stack.back());
        if (!p.empty())
            p += '.';
        return p + key;
    }

    /* Schema of the value that comes next; sets key for array elements. */
    const schema_node *next_schema()
    {
        config_node *parent = stack.back();
        if (parent->schema->type == SCHEMA_ARRAY) {
            key = std::to_string(parent->children.size());
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

    bool value(std::string text)
    {
        if (stack.empty())
            return fail("", "the top level must be a JSON object");
        const schema_node *s = next_schema();
        if (schema_is_container(s))
            return fail(child_path(), std::string("expected ") + kind_name(s));
        add_child(stack.back(), s, key, false)->text = std::move(text);
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
        stack.push_back(add_child(stack.back(), s, key, false));
        return true;
    }

    /* Small containers are checked for a repeated key as each key comes;
     * large ones (a collection of hundreds of members) once, sorted, at
     * their end, so that the check stays cheap for big files. */
    static constexpr size_t few = 16;
    bool duplicate_at_end(const config_node *n)
    {
        if (n->children.size() <= few || n->schema->type == SCHEMA_ARRAY)
            return false;
        std::vector<std::string_view> keys;
        keys.reserve(n->children.size());
        for (const config_node *c : n->children)
            keys.push_back(c->key);
        std::sort(keys.begin(), keys.end());
        auto dup = std::adjacent_find(keys.begin(), keys.end());
        if (dup == keys.end())
            return false;
        key = *dup;
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
    bool Bool(bool b) { return value(b ? "true" : "false"); }
    bool RawNumber(const char *str, rapidjson::SizeType len, bool) { return value(std::string(str, len)); }
    bool String(const char *str, rapidjson::SizeType len, bool) { return value(std::string(str, len)); }
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
        key.assign(str, len);
        config_node *parent = stack.back();
        if (parent->schema->type == SCHEMA_OBJECT) {
            member = schema_member(parent->schema, key);
            if (!member)
                return fail(child_path(), "unknown key");
        } else {
            if (!valid_collection_key(key))
                return fail(child_path(), "key with a forbidden character (letters, digits, "
                                          "'_' and '-' only, at most 64 bytes)");
            member = parent->schema->item;
        }
        if (parent->children.size() <= few && find_child(parent, key))
            return fail(child_path(), "duplicate key");
        return true;
    }
};

/* Reads the whole file through one descriptor; the identity comes from the
 * same descriptor so that it matches the text read. */
enum read_result { READ_OK, READ_MISSING, READ_FAILED };
read_result read_file(const char *path, std::string &text, file_id *id)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? READ_MISSING : READ_FAILED;
    struct stat st;
    bool stat_ok = fstat(fd, &st) == 0;
    if (!stat_ok || S_ISDIR(st.st_mode)) {
        int e = stat_ok ? EISDIR : errno;
        close(fd);
        errno = e;
        return READ_FAILED;
    }
    if (id) {
        id->exists = true;
        id->dev = st.st_dev;
        id->ino = st.st_ino;
        id->size = st.st_size;
        id->mtime = st.st_mtim;
    }
    text.clear();
    text.reserve(size_t(st.st_size) + 1);
    char buf[16384];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int e = errno;
            close(fd);
            errno = e;
            return READ_FAILED;
        }
        if (n == 0)
            break;
        text.append(buf, size_t(n));
    }
    close(fd);
    return READ_OK;
}

bool is_ascii(std::string_view text)
{
    uint64_t high = 0;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        memcpy(&word, text.data() + i, 8);
        high |= word;
    }
    for (; i < text.size(); i++)
        high |= (unsigned char)text[i];
    return (high & 0x8080808080808080ull) == 0;
}

bool parse_into(handle *h, const char *name, const std::string &text)
{
    tree_builder b(h);
    rapidjson::StringStream in(text.c_str());
    b.in = &in;
    rapidjson::Reader reader;
    /* Checking the encoding is the reader's slowest step; a plain ASCII
     * file (the usual case) cannot hold a bad sequence. */
    bool ascii = is_ascii(text);
    constexpr unsigned flags = rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::ParseResult r =
        ascii ? reader.Parse<flags>(in, b)
              : reader.Parse<flags | rapidjson::kParseValidateEncodingFlag>(in, b);
    if (r) {
        /* A NUL inside the text ends the reader early. */
        if (in.Tell() != text.size()) {
            log_error("%s:%s: malformed JSON: NUL byte in the file", name,
                      position(text, in.Tell()).c_str());
            h->root.children.clear();
            return false;
        }
        return true;
    }
    if (!b.error.empty())
        log_error("%s:%s: %s", name, position(text, b.error_offset).c_str(), b.error.c_str());
    else
        log_error("%s:%s: malformed JSON: %s", name, position(text, r.Offset()).c_str(),
                  rapidjson::GetParseError_En(r.Code()));
    h->root.children.clear();
    return false;
}

struct open_spec {
    const char *file = nullptr;       /* bound file (commit target) */
    const char *source = nullptr;     /* read from here; null: defaults */
    const char *schema_file = nullptr;
    const char *baked_file = nullptr; /* read when source is missing */
    bool lock = false;
    bool source_required = false;     /* a missing source is an error */
};

config_t *open_copy(const open_spec &spec)
{
    auto h = std::make_unique<handle>();
    h->root.h = h.get();
    h->file = spec.file;
    if (spec.schema_file && *spec.schema_file) {
        std::string text, error;
        if (read_file(spec.schema_file, text, nullptr) != READ_OK) {
            log_error("%s: cannot read schema: %s", spec.schema_file, strerror(errno));
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
        std::string text;
        const char *name = spec.source;
        read_result r = read_file(spec.source, text, same ? &h->base : nullptr);
        if (r == READ_MISSING && !spec.source_required && spec.baked_file && *spec.baked_file) {
            name = spec.baked_file;
            r = read_file(name, text, nullptr);
        }
        if (r == READ_FAILED || (r == READ_MISSING && spec.source_required)) {
            log_error("%s: cannot read: %s", name, strerror(errno));
            return nullptr;
        }
        if (r == READ_OK && !parse_into(h.get(), name, text))
            return nullptr;
    }
    return &h.release()->root;
}

}  // namespace

}  // namespace quill

using namespace quill;

extern "C" {

config_t *config_load(void)
{
    open_spec s;
    s.file = s.source = active_file;
    return open_copy(s);
}

config_t *config_update(void)
{
    open_spec s;
    s.file = s.source = active_file;
    s.lock = true;
    return open_copy(s);
}

config_t *config_load_json(void)
{
    open_spec s;
    s.file = active_file;
    s.source = import_file;
    s.source_required = true;
    return open_copy(s);
}

config_t *config_load_baked(void)
{
    open_spec s;
    s.file = active_file;
    return open_copy(s);
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
    return open_copy(s);
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
    return open_copy(s);
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
