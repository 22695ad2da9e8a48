#include "keys.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "schema.h"

namespace payload {

namespace {

bool is_key_type(unsigned type)
{
    switch (type) {
    case SCHEMA_BOOLEAN:
    case SCHEMA_INTEGER:
    case SCHEMA_NUMBER:
    case SCHEMA_DURATION:
        return false;
    default:
        return true;
    }
}

const char *pem_begin = "-----BEGIN CERTIFICATE-----\n";
const char *pem_end = "\n-----END CERTIFICATE-----";

struct walker {
    std::vector<key> out;
    size_t first = 0;

    void add(const schema_node *s, const std::string &path)
    {
        key k;
        k.path = path;
        k.type = s->type;
        k.multiline = s->type == SCHEMA_STRING && (s->flags & SCHEMA_MULTILINE);
        k.tag = "qzx" + std::to_string(first + out.size()) + "q";
        k.marker = k.multiline ? pem_begin + k.tag + "x" + pem_end : k.tag + "x";
        out.push_back(std::move(k));
    }

    static std::string join(const std::string &path, const std::string &segment)
    {
        return path.empty() ? segment : path + "." + segment;
    }

    void walk(const schema_node *s, const rapidjson::Value *v, const std::string &path)
    {
        switch (s->type) {
        case SCHEMA_OBJECT:
            for (uint32_t i = 0; i < s->nchildren; i++) {
                const schema_node *m = &s->children[i];
                const rapidjson::Value *mv = nullptr;
                if (v && v->IsObject()) {
                    auto it = v->FindMember(m->key);
                    if (it != v->MemberEnd())
                        mv = &it->value;
                }
                walk(m, mv, join(path, m->key));
            }
            return;
        case SCHEMA_COLLECTION:
            if (v && v->IsObject() && v->MemberCount() > 0) {
                for (auto it = v->MemberBegin(); it != v->MemberEnd(); ++it)
                    walk(s->item, &it->value, join(path, it->name.GetString()));
            } else {
                walk(s->item, nullptr, join(path, "payload"));
            }
            return;
        case SCHEMA_ARRAY:
            if (v && v->IsArray() && !v->Empty()) {
                for (rapidjson::SizeType i = 0; i < v->Size(); i++)
                    walk(s->item, &(*v)[i], join(path, std::to_string(i)));
            } else {
                walk(s->item, nullptr, join(path, "0"));
            }
            return;
        default:
            if (is_key_type(s->type))
                add(s, path);
        }
    }
};

std::vector<std::string> segments(const std::string &path)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t dot; (dot = path.find('.', start)) != std::string::npos; start = dot + 1)
        out.push_back(path.substr(start, dot - start));
    out.push_back(path.substr(start));
    return out;
}

bool all_digits(const std::string &s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Sets the value at path, creating members and elements on the way.
void set_path(rapidjson::Document &doc, const std::string &path, rapidjson::Value &value)
{
    auto &a = doc.GetAllocator();
    const schema_node *s = quill::builtin_schema();
    rapidjson::Value *v = &doc;
    auto segs = segments(path);
    for (size_t i = 0; i < segs.size(); i++) {
        const std::string &seg = segs[i];
        const schema_node *next = s->type == SCHEMA_OBJECT ? quill::schema_member(s, seg) : s->item;
        if (!next)
            return;
        bool last = i + 1 == segs.size();
        rapidjson::Value fresh;
        if (last)
            fresh = value;
        else if (next->type == SCHEMA_ARRAY)
            fresh.SetArray();
        else
            fresh.SetObject();
        rapidjson::Value *child = nullptr;
        if (s->type == SCHEMA_ARRAY) {
            if (!v->IsArray())
                v->SetArray();
            rapidjson::SizeType index = rapidjson::SizeType(std::stoul(seg));
            while (v->Size() <= index) {
                rapidjson::Value filler;
                if (next->type == SCHEMA_OBJECT)
                    filler.SetObject();
                else if (next->type == SCHEMA_ARRAY)
                    filler.SetArray();
                else
                    filler.SetString("", a);
                v->PushBack(filler, a);
            }
            child = &(*v)[index];
            if (last)
                *child = fresh;
        } else {
            if (!v->IsObject())
                v->SetObject();
            if (!v->HasMember(seg.c_str())) {
                v->AddMember(rapidjson::Value(seg.c_str(), a), fresh, a);
                child = &(v->MemberEnd() - 1)->value;
            } else {
                child = &(*v)[seg.c_str()];
                if (last)
                    *child = fresh;
            }
        }
        v = child;
        s = next;
    }
}

std::string json_text(const rapidjson::Document &doc)
{
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    doc.Accept(w);
    return std::string(buf.GetString(), buf.GetSize());
}

}  // namespace

std::string key::with(const std::string &payload) const
{
    std::string out = marker;
    size_t at = out.find(tag) + tag.size();
    out.insert(at, payload);
    return out;
}

std::vector<key> keys_of(const std::string &base_json, std::string &error, size_t first)
{
    rapidjson::Document doc;
    doc.Parse(base_json.c_str());
    if (doc.HasParseError() || !doc.IsObject()) {
        error = "the base configuration is not a JSON object";
        return {};
    }
    walker w;
    w.first = first;
    w.walk(quill::builtin_schema(), &doc, "");
    return std::move(w.out);
}

std::string without_indexes(const std::string &path)
{
    std::string out;
    for (const auto &seg : segments(path))
        if (!all_digits(seg))
            out += (out.empty() ? "" : ".") + seg;
    return out;
}

std::string with_values(const std::string &base_json,
                        const std::vector<std::pair<std::string, std::string>> &values)
{
    rapidjson::Document doc;
    doc.Parse(base_json.c_str());
    for (const auto &[path, value] : values) {
        rapidjson::Value v(value.data(), rapidjson::SizeType(value.size()), doc.GetAllocator());
        set_path(doc, path, v);
    }
    return json_text(doc);
}

std::string with_json(const std::string &base_json,
                      const std::vector<std::pair<std::string, std::string>> &values)
{
    rapidjson::Document doc;
    doc.Parse(base_json.c_str());
    for (const auto &[path, json] : values) {
        rapidjson::Document v(&doc.GetAllocator());
        v.Parse(json.c_str());
        set_path(doc, path, v);
    }
    return json_text(doc);
}

std::string base64(const std::string &bytes)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                     (unsigned char)bytes[i + 2];
        out += {table[n >> 18], table[(n >> 12) & 63], table[(n >> 6) & 63], table[n & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned n = (unsigned char)bytes[i] << 16;
        out += {table[n >> 18], table[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += {table[n >> 18], table[(n >> 12) & 63], table[(n >> 6) & 63], '='};
    }
    return out;
}

}  // namespace payload
