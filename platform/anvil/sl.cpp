// String lists: an ordered vector of owned texts behind an opaque handle.
#include "anvil.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

struct sl_list {
    std::vector<std::string> items;
};

namespace {

sl_list *append(sl_list *list, std::string text) noexcept
{
    try {
        std::unique_ptr<sl_list> fresh;
        if (!list) {
            fresh = std::make_unique<sl_list>();
            list = fresh.get();
        }
        list->items.push_back(std::move(text));
        fresh.release();
        return list;
    } catch (const std::bad_alloc &) {
        return list;
    }
}

}  // namespace

extern "C" {

sl_list *_sl_new(int, int)
{
    try {
        return std::make_unique<sl_list>().release();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

sl_list *_sl_append(sl_list *list, const char *text, int)
{
    return append(list, text ? std::string(text) : std::string());
}

sl_list *sl_append_printf(sl_list *list, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char *text = nullptr;
    int n = vasprintf(&text, fmt, ap);
    va_end(ap);
    if (n < 0)
        return list;
    unique_text owner(text);
    return append(list, std::string(text, static_cast<size_t>(n)));
}

sl_list *sl_split(const char *text, char sep)
{
    if (!text)
        return nullptr;
    sl_list *list = _sl_new(0, 0);
    if (!list)
        return nullptr;
    std::string_view rest(text);
    for (;;) {
        size_t at = rest.find(sep);
        list = append(list, std::string(rest.substr(0, at)));
        if (at == std::string_view::npos)
            break;
        rest.remove_prefix(at + 1);
    }
    return list;
}

size_t sl_len(const sl_list *list) { return list ? list->items.size() : 0; }

const char *sl_get(const sl_list *list, size_t i)
{
    if (!list || i >= list->items.size())
        return nullptr;
    return list->items[i].c_str();
}

int sl_find(const sl_list *list, const char *text)
{
    if (!list || !text)
        return 0;
    for (const auto &item : list->items)
        if (item == text)
            return 1;
    return 0;
}

char *sl_join(const sl_list *list, const char *sep)
{
    std::string out;
    try {
        if (list) {
            std::string_view s = sep ? sep : "";
            for (size_t i = 0; i < list->items.size(); ++i) {
                if (i)
                    out += s;
                out += list->items[i];
            }
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return strdup(out.c_str());
}

void sl_free(sl_list *list) { std::unique_ptr<sl_list> owner(list); }

}  // extern "C"
