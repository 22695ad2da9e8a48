/* Schema fragments: parsing, deep merge, flattening, and the value rules. */
#include "schema.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "json.h"
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>

namespace quill {

namespace {

const char *const type_names[SCHEMA_TYPE_COUNT] = {
    "object", "collection",  "array",       "string",    "boolean", "integer",
    "number", "duration",    "enum",        "reference", "ipv4",    "ipv6",
    "ip",     "ipv4-prefix", "ipv6-prefix", "ip-prefix", "mac",     "hostname",
};

/* Description as parsed, before it is flattened. */
struct draft {
    uint8_t type = SCHEMA_STRING;
    uint8_t flags = 0;
    std::string key;
    std::optional<std::string> def;
    std::string target;
    std::vector<std::string> values;
    double min = 0, max = 0;
    std::vector<std::unique_ptr<draft>> children;
    std::unique_ptr<draft> item;
};

using json = rapidjson::Value;

std::string join_path(const std::string &path, std::string_view key)
{
    if (path.empty())
        return std::string(key);
    std::string p = path;
    p += '.';
    p += key;
    return p;
}

struct parser {
    std::string fragment;
    std::string &error;

    bool fail(const std::string &path, const std::string &what)
    {
        error = fragment + ": " + (path.empty() ? std::string("(top)") : path) + ": " + what;
        return false;
    }

    bool scalar_text(const json &v, std::string &out)
    {
        if (v.IsString())
            out.assign(v.GetString(), v.GetStringLength());
        else if (v.IsBool())
            out = v.GetBool() ? "true" : "false";
        else if (v.IsInt64())
            out = std::to_string(v.GetInt64());
        else if (v.IsNumber()) {
            char buf[40];
            snprintf(buf, sizeof buf, "%.17g", v.GetDouble());
            out = buf;
        } else
            return false;
        return true;
    }

    /* Member names become keys of the configuration file, so they must be
     * text its reader accepts. */
    static bool member_name(const std::string &key)
    {
        return !key.empty() && key.find('.') == std::string::npos &&
               key.find('\0') == std::string::npos && valid_utf8(key);
    }

    /* Real schemas nest a handful of levels; a limit keeps a hostile schema
     * file from exhausting the stack (the path also grows with the depth). */
    static constexpr size_t max_depth = 64;

    std::unique_ptr<draft> parse(const json &v, const std::string &path)
    {
        if (size_t(std::count(path.begin(), path.end(), '.')) >= max_depth) {
            fail(path.substr(0, 64) + "...", "nested too deeply");
            return nullptr;
        }
        auto d = std::make_unique<draft>();
        const json *type = nullptr;
        if (v.IsString())
            type = &v;
        else if (v.IsObject()) {
            auto it = v.FindMember("type");
            if (it == v.MemberEnd() || !it->value.IsString()) {
                fail(path, "description without a \"type\"");
                return nullptr;
            }
            type = &it->value;
        } else {
            fail(path, "a description is a type name or an object");
            return nullptr;
        }
        std::string_view tname(type->GetString(), type->GetStringLength());
        unsigned t = 0;
        while (t < SCHEMA_TYPE_COUNT && tname != type_names[t])
            t++;
        if (t == SCHEMA_TYPE_COUNT) {
            fail(path, "unknown type \"" + std::string(tname) + "\"");
            return nullptr;
        }
        d->type = uint8_t(t);
        if (!v.IsObject()) {
            if (t == SCHEMA_OBJECT || t == SCHEMA_COLLECTION || t == SCHEMA_ARRAY ||
                t == SCHEMA_ENUM || t == SCHEMA_REFERENCE) {
                fail(path, "type \"" + std::string(tname) + "\" needs a full description");
                return nullptr;
            }
            return d;
        }
        for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
            std::string_view name(m->name.GetString(), m->name.GetStringLength());
            const json &val = m->value;
            bool ok = true;
            if (name == "type" || name == "doc")
                continue;
            if (name == "private") {
                ok = val.IsBool();
                if (ok && val.GetBool())
                    d->flags |= SCHEMA_PRIVATE;
            } else if (name == "multiline" && t == SCHEMA_STRING) {
                ok = val.IsBool();
                if (ok && val.GetBool())
                    d->flags |= SCHEMA_MULTILINE;
            } else if (name == "default" && !schema_is_container_type(t)) {
                std::string text;
                ok = scalar_text(val, text);
                d->def = text;
            } else if ((name == "min" || name == "max") &&
                       (t == SCHEMA_INTEGER || t == SCHEMA_NUMBER ||
                        ((t == SCHEMA_STRING || t == SCHEMA_HOSTNAME) && name == "max"))) {
                ok = val.IsNumber();
                if (ok) {
                    if (name == "min") {
                        d->min = val.GetDouble();
                        d->flags |= SCHEMA_HAS_MIN;
                    } else {
                        d->max = val.GetDouble();
                        d->flags |= SCHEMA_HAS_MAX;
                    }
                }
            } else if (name == "values" && t == SCHEMA_ENUM) {
                ok = val.IsArray() && !val.Empty();
                for (auto e = val.Begin(); ok && e != val.End(); ++e) {
                    ok = e->IsString() && valid_utf8({e->GetString(), e->GetStringLength()});
                    if (ok)
                        d->values.emplace_back(e->GetString(), e->GetStringLength());
                }
            } else if (name == "target" && t == SCHEMA_REFERENCE) {
                ok = val.IsString() && val.GetStringLength() > 0;
                if (ok)
                    d->target.assign(val.GetString(), val.GetStringLength());
            } else if (name == "members" && t == SCHEMA_OBJECT) {
                ok = val.IsObject();
                for (auto c = val.MemberBegin(); ok && c != val.MemberEnd(); ++c) {
                    std::string key(c->name.GetString(), c->name.GetStringLength());
                    if (!member_name(key))
                        return fail(path, "bad member name \"" + key + "\""), nullptr;
                    auto child = parse(c->value, join_path(path, key));
                    if (!child)
                        return nullptr;
                    child->key = key;
                    d->children.push_back(std::move(child));
                }
            } else if ((name == "member" && t == SCHEMA_COLLECTION) ||
                       (name == "items" && t == SCHEMA_ARRAY)) {
                d->item = parse(val, join_path(path, "*"));
                if (!d->item)
                    return nullptr;
            } else {
                fail(path, "\"" + std::string(name) + "\" is not allowed for type \"" +
                               std::string(tname) + "\"");
                return nullptr;
            }
            if (!ok) {
                fail(path, "bad value of \"" + std::string(name) + "\"");
                return nullptr;
            }
        }
        if ((t == SCHEMA_COLLECTION || t == SCHEMA_ARRAY) && !d->item)
            return fail(path, std::string("type \"") + type_names[t] + "\" needs \"" +
                                  (t == SCHEMA_ARRAY ? "items" : "member") + "\""),
                   nullptr;
        if (t == SCHEMA_ENUM && d->values.empty())
            return fail(path, "enum needs \"values\""), nullptr;
        if (t == SCHEMA_REFERENCE && d->target.empty())
            return fail(path, "reference needs \"target\""), nullptr;
        return d;
    }

    static bool schema_is_container_type(unsigned t)
    {
        return t == SCHEMA_OBJECT || t == SCHEMA_COLLECTION || t == SCHEMA_ARRAY;
    }
};

bool merge(draft &into, std::unique_ptr<draft> from, const std::string &path, std::string &error)
{
    if (into.type == SCHEMA_OBJECT && from->type == SCHEMA_OBJECT) {
        into.flags |= from->flags;
        for (auto &child : from->children) {
            draft *same = nullptr;
            for (auto &c : into.children)
                if (c->key == child->key)
                    same = c.get();
            if (!same)
                into.children.push_back(std::move(child));
            else if (!merge(*same, std::move(child), join_path(path, same->key), error))
                return false;
        }
        return true;
    }
    if (into.type == SCHEMA_COLLECTION && from->type == SCHEMA_COLLECTION)
        return merge(*into.item, std::move(from->item), join_path(path, "*"), error);
    error = path + ": described twice";
    return false;
}

/* Checks defaults and reference targets once the whole schema is known. */
bool check(const schema_node *root, const schema_node *s, const std::string &path,
           std::string &error)
{
    if (s->type == SCHEMA_OBJECT) {
        for (uint32_t i = 0; i < s->nchildren; i++)
            if (!check(root, &s->children[i], join_path(path, s->children[i].key), error))
                return false;
        return true;
    }
    if (s->type == SCHEMA_COLLECTION || s->type == SCHEMA_ARRAY)
        return check(root, s->item, join_path(path, "*"), error);
    if (s->type == SCHEMA_REFERENCE) {
        const schema_node *t = root;
        std::string_view rest = s->target;
        while (t && !rest.empty()) {
            size_t dot = rest.find('.');
            std::string_view seg = rest.substr(0, dot);
            rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
            t = t->type == SCHEMA_OBJECT ? schema_member(t, seg) : nullptr;
        }
        if (!t || t->type != SCHEMA_COLLECTION) {
            error = path + ": reference target \"" + s->target + "\" is not a collection";
            return false;
        }
    }
    std::string reason;
    if (s->def && !value_check(s, s->def, reason)) {
        error = path + ": default \"" + s->def + "\": " + reason;
        return false;
    }
    return true;
}

}  // namespace

const char *schema_type_name(unsigned type)
{
    return type < SCHEMA_TYPE_COUNT ? type_names[type] : "unknown";
}

std::unique_ptr<schema_set> schema_build(const std::vector<schema_fragment> &fragments,
                                         std::string &error)
{
    draft root;
    root.type = SCHEMA_OBJECT;
    for (const auto &f : fragments) {
        rapidjson::Document doc;
        /* Iterative: a deeply nested file must not exhaust the stack. */
        doc.Parse<rapidjson::kParseIterativeFlag>(f.text.c_str(), f.text.size());
        if (doc.HasParseError()) {
            size_t off = doc.GetErrorOffset(), line = 1, col = 1;
            for (size_t i = 0; i < off && i < f.text.size(); i++) {
                if (f.text[i] == '\n') {
                    line++;
                    col = 1;
                } else
                    col++;
            }
            error = f.name + ":" + std::to_string(line) + ":" + std::to_string(col) +
                    ": malformed JSON: " + rapidjson::GetParseError_En(doc.GetParseError());
            return nullptr;
        }
        if (!doc.IsObject()) {
            error = f.name + ": a fragment is a JSON object of top-level keys";
            return nullptr;
        }
        parser p{f.name, error};
        const json &top = doc;
        for (auto m = top.MemberBegin(); m != top.MemberEnd(); ++m) {
            std::string key(m->name.GetString(), m->name.GetStringLength());
            if (!parser::member_name(key)) {
                error = f.name + ": bad member name \"" + key + "\"";
                return nullptr;
            }
            auto d = p.parse(m->value, key);
            if (!d)
                return nullptr;
            d->key = key;
            auto top = std::make_unique<draft>();
            top->type = SCHEMA_OBJECT;
            top->children.push_back(std::move(d));
            if (!merge(root, std::move(top), "", error)) {
                error = f.name + ": " + error;
                return nullptr;
            }
        }
    }

    /* Breadth first, so that the members of each object are contiguous and
     * the item of a collection or array follows them. */
    std::vector<const draft *> order{&root};
    std::vector<size_t> first;
    for (size_t i = 0; i < order.size(); i++) {
        first.push_back(order.size());
        for (auto &c : order[i]->children)
            order.push_back(c.get());
        if (order[i]->item)
            order.push_back(order[i]->item.get());
    }
    auto set = std::make_unique<schema_set>();
    set->nodes.resize(order.size());
    for (size_t i = 0; i < order.size(); i++) {
        const draft &d = *order[i];
        schema_node &n = set->nodes[i];
        if (d.children.size() > UINT16_MAX || d.key.size() > UINT16_MAX) {
            error = "\"" + d.key.substr(0, 64) + "\": too many members or too long a name";
            return nullptr;
        }
        n.type = d.type;
        n.flags = d.flags;
        n.min = d.min;
        n.max = d.max;
        auto text = [&](const std::string &t) { return set->texts.emplace_back(t).c_str(); };
        n.key = order[i] != &root && !d.key.empty() ? text(d.key) : nullptr;
        n.key_len = n.key ? uint16_t(d.key.size()) : 0;
        n.def = d.def ? text(*d.def) : nullptr;
        n.target = d.target.empty() ? nullptr : text(d.target);
        n.nchildren = uint16_t(d.children.size());
        n.children = d.children.empty() ? nullptr : &set->nodes[first[i]];
        n.item = d.item ? &set->nodes[first[i] + d.children.size()] : nullptr;
        if (!d.values.empty()) {
            auto &list = set->value_lists.emplace_back();
            for (auto &v : d.values)
                list.push_back(text(v));
            n.values = list.data();
            n.nvalues = uint16_t(list.size());
        }
    }
    set->root = &set->nodes[0];
    if (!check(set->root, set->root, "", error))
        return nullptr;
    return set;
}

/* ---- value rules ----------------------------------------------------------- */

bool parse_bool(std::string_view text, bool &value)
{
    if (text == "true" || text == "1") {
        value = true;
        return true;
    }
    if (text == "false" || text == "0") {
        value = false;
        return true;
    }
    return false;
}

bool parse_int(std::string_view text, int64_t &value)
{
    size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        neg = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18)
        return false;
    int64_t v = 0;
    for (; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    value = neg ? -v : v;
    return true;
}

bool parse_number(std::string_view text, double &value)
{
    if (text.empty() || text.size() > 64 || isspace((unsigned char)text[0]))
        return false;
    char buf[80];
    memcpy(buf, text.data(), text.size());
    buf[text.size()] = 0;
    char *end;
    errno = 0;
    double v = strtod(buf, &end);
    if (*end || errno == ERANGE || !std::isfinite(v))
        return false;
    /* Only plain decimal notation: no hexadecimal, infinity or nan words. */
    for (const char *p = buf; *p; p++)
        if (!strchr("0123456789+-.eE", *p))
            return false;
    value = v;
    return true;
}

bool parse_duration_ms(std::string_view text, int64_t &ms)
{
    size_t i = 0;
    while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'))
        i++;
    std::string_view num = text.substr(0, i), unit = text.substr(i);
    double v;
    if (num.empty() || num[0] == '.' || !parse_number(num, v))
        return false;
    double scale;
    if (unit.empty() || unit == "s")
        scale = 1000;
    else if (unit == "ms")
        scale = 1;
    else if (unit == "m")
        scale = 60e3;
    else if (unit == "h")
        scale = 3600e3;
    else if (unit == "d")
        scale = 86400e3;
    else
        return false;
    /* Whole seconds must fit a signed 32-bit count.  Rounded half up by
     * hand (v is never negative): the program needs nothing else of the
     * maths library, whose loading would cost every run. */
    constexpr double limit = double(INT32_MAX) * 1000.0;
    double x = v * scale;
    if (!(x <= limit + 1.0))
        return false;
    int64_t whole = int64_t(x);
    if (x - double(whole) >= 0.5)
        whole++;
    if (double(whole) > limit)
        return false;
    ms = whole;
    return true;
}

bool valid_utf8(std::string_view text)
{
    /* Called for every text of a file being read, and nearly all of them are
     * ASCII: eight bytes at a time up to the first byte that is not (memcpy
     * keeps the loads alignment-safe), then the full check from there. */
    const char *p = text.data();
    size_t n = text.size(), i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080u)
            break;
    }
    while (i < n && (unsigned char)p[i] < 0x80)
        i++;
    if (i == n)
        return true;
    rapidjson::MemoryStream ms(p + i, n - i);
    struct {
        void Put(char) {}
    } sink;
    while (ms.Tell() < n - i)
        if (!rapidjson::UTF8<>::Validate(ms, sink))
            return false;
    return true;
}

bool valid_collection_key(std::string_view key)
{
    if (key.empty() || key.size() > 64)
        return false;
    for (char c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    return true;
}

namespace {

bool address(int family, std::string_view text)
{
    char buf[INET6_ADDRSTRLEN + 1];
    unsigned char out[16];
    if (text.size() >= sizeof buf)
        return false;
    memcpy(buf, text.data(), text.size());
    buf[text.size()] = 0;
    return inet_pton(family, buf, out) == 1;
}

bool prefix(int family, std::string_view text)
{
    size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return false;
    int64_t len;
    std::string_view digits = text.substr(slash + 1);
    if (digits.empty() || digits[0] == '+' || digits[0] == '-' || !parse_int(digits, len))
        return false;
    return len >= 0 && len <= (family == AF_INET ? 32 : 128) &&
           address(family, text.substr(0, slash));
}

std::string limits_text(const schema_node *s)
{
    char buf[80];
    if ((s->flags & SCHEMA_HAS_MIN) && (s->flags & SCHEMA_HAS_MAX))
        snprintf(buf, sizeof buf, "%g..%g", s->min, s->max);
    else if (s->flags & SCHEMA_HAS_MIN)
        snprintf(buf, sizeof buf, "at least %g", s->min);
    else
        snprintf(buf, sizeof buf, "at most %g", s->max);
    return buf;
}

bool in_limits(const schema_node *s, double v)
{
    return !((s->flags & SCHEMA_HAS_MIN) && v < s->min) &&
           !((s->flags & SCHEMA_HAS_MAX) && v > s->max);
}

}  // namespace

bool value_check(const schema_node *s, std::string_view text, std::string &reason)
{
    switch (s->type) {
    case SCHEMA_STRING:
        /* Anything else would be committed but then refused by the reader,
         * which would lock every later command out of the configuration. */
        if (!valid_utf8(text)) {
            reason = "invalid UTF-8 in a value";
            return false;
        }
        if (!(s->flags & SCHEMA_MULTILINE) &&
            text.find_first_of("\r\n") != std::string_view::npos) {
            reason = "line break in a one-line string";
            return false;
        }
        if ((s->flags & SCHEMA_HAS_MAX) && double(text.size()) > s->max) {
            reason = "longer than " + std::to_string(int64_t(s->max)) + " bytes";
            return false;
        }
        return true;
    case SCHEMA_BOOLEAN: {
        bool b;
        if (!parse_bool(text, b)) {
            reason = "bad boolean (true or false)";
            return false;
        }
        return true;
    }
    case SCHEMA_INTEGER: {
        int64_t v;
        if (!parse_int(text, v)) {
            reason = "not an integer";
            return false;
        }
        if (v < INT32_MIN || v > INT32_MAX) {
            reason = "integer out of range (32-bit)";
            return false;
        }
        if (!in_limits(s, double(v))) {
            reason = "integer out of range (" + limits_text(s) + ")";
            return false;
        }
        return true;
    }
    case SCHEMA_NUMBER: {
        double v;
        if (!parse_number(text, v)) {
            reason = "not a number";
            return false;
        }
        if (!in_limits(s, v)) {
            reason = "number out of range (" + limits_text(s) + ")";
            return false;
        }
        return true;
    }
    case SCHEMA_DURATION: {
        int64_t ms;
        if (!parse_duration_ms(text, ms)) {
            reason = "bad duration (seconds, or a number with ms, s, m, h or d)";
            return false;
        }
        return true;
    }
    case SCHEMA_ENUM:
        for (uint16_t i = 0; i < s->nvalues; i++)
            if (text == s->values[i])
                return true;
        reason = "unknown enumeration value (allowed:";
        for (uint16_t i = 0; i < s->nvalues; i++)
            reason += std::string(" ") + s->values[i];
        reason += ")";
        return false;
    case SCHEMA_REFERENCE: {
        std::string prefix = "/";
        for (const char *p = s->target; *p; p++)
            prefix += *p == '.' ? '/' : *p;
        prefix += '/';
        if (text.empty() || (text.substr(0, prefix.size()) == prefix &&
                             valid_collection_key(text.substr(prefix.size()))))
            return true;
        reason =
            "not a reference to a member of " + std::string(s->target) + " (" + prefix + "<key>)";
        return false;
    }
    case SCHEMA_IPV4:
    case SCHEMA_IPV6:
    case SCHEMA_IP: {
        bool ok = text.empty() || (s->type != SCHEMA_IPV6 && address(AF_INET, text)) ||
                  (s->type != SCHEMA_IPV4 && address(AF_INET6, text));
        if (!ok)
            reason = s->type == SCHEMA_IPV4   ? "malformed IPv4 address"
                     : s->type == SCHEMA_IPV6 ? "malformed IPv6 address"
                                              : "malformed IP address";
        return ok;
    }
    case SCHEMA_IPV4_PREFIX:
    case SCHEMA_IPV6_PREFIX:
    case SCHEMA_IP_PREFIX: {
        bool ok = text.empty() || (s->type != SCHEMA_IPV6_PREFIX && prefix(AF_INET, text)) ||
                  (s->type != SCHEMA_IPV4_PREFIX && prefix(AF_INET6, text));
        if (!ok)
            reason = s->type == SCHEMA_IPV4_PREFIX   ? "malformed IPv4 prefix (address/length)"
                     : s->type == SCHEMA_IPV6_PREFIX ? "malformed IPv6 prefix (address/length)"
                                                     : "malformed IP prefix (address/length)";
        return ok;
    }
    case SCHEMA_MAC: {
        bool ok = text.empty() || text.size() == 17;
        for (size_t i = 0; ok && i < text.size(); i++)
            ok = i % 3 == 2 ? text[i] == ':' : isxdigit((unsigned char)text[i]) != 0;
        if (!ok)
            reason = "malformed MAC address (aa:bb:cc:dd:ee:ff)";
        return ok;
    }
    case SCHEMA_HOSTNAME: {
        bool ok = text.size() <= 253;
        if (ok && (s->flags & SCHEMA_HAS_MAX) && double(text.size()) > s->max) {
            reason = "longer than " + std::to_string(int64_t(s->max)) + " bytes";
            return false;
        }
        for (size_t i = 0; ok && i < text.size(); i++) {
            char c = text[i];
            ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_';
        }
        if (!ok)
            reason = "malformed host name (letters, digits, '-', '.', '_')";
        return ok;
    }
    default:
        reason = "not a value";
        return false;
    }
}

bool value_equal(const schema_node *s, std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    switch (s->type) {
    case SCHEMA_BOOLEAN: {
        bool x, y;
        return parse_bool(a, x) && parse_bool(b, y) && x == y;
    }
    case SCHEMA_INTEGER: {
        int64_t x, y;
        return parse_int(a, x) && parse_int(b, y) && x == y;
    }
    case SCHEMA_NUMBER: {
        double x, y;
        return parse_number(a, x) && parse_number(b, y) && x == y;
    }
    case SCHEMA_DURATION: {
        int64_t x, y;
        return parse_duration_ms(a, x) && parse_duration_ms(b, y) && x == y;
    }
    default:
        return false;
    }
}

}  // namespace quill
