// Escaping, formatting and address parsing.
#include "anvil.h"

#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

extern "C" {

char *escape(const char *text, const escape_pair *table)
{
    if (!text)
        return nullptr;
    if (!table)
        return strdup(text);
    try {
        std::string out;
        std::string_view in(text);
        size_t i = 0;
        while (i < in.size()) {
            const escape_pair *hit = nullptr;
            for (const escape_pair *row = table; row->find; ++row) {
                size_t n = strlen(row->find);
                // An empty pattern would match everywhere and never advance.
                if (n && in.compare(i, n, row->find) == 0) {
                    hit = row;
                    break;
                }
            }
            if (hit) {
                out += hit->replace ? hit->replace : "";
                i += strlen(hit->find);
            } else {
                out += in[i++];
            }
        }
        return strdup(out.c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int xasprintf(char **result, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vasprintf(result, fmt, ap);
    va_end(ap);
    if (n < 0)
        *result = nullptr;
    return n;
}

int xip4_parse_network(const char *text, unsigned int *address, int *prefix)
{
    if (!text)
        return 0;
    std::string_view in(text);
    size_t slash = in.find('/');
    std::string addr(in.substr(0, slash));
    int bits = 32;
    if (slash != std::string_view::npos) {
        std::string_view p = in.substr(slash + 1);
        if (p.empty() || p.size() > 2)
            return 0;
        bits = 0;
        for (char c : p) {
            if (c < '0' || c > '9')
                return 0;
            bits = bits * 10 + (c - '0');
        }
        if (bits > 32)
            return 0;
    }
    in_addr a{};
    // inet_pton takes exactly four decimal parts, unlike inet_aton, which
    // would read "10" or "010.1" in surprising ways.
    if (inet_pton(AF_INET, addr.c_str(), &a) != 1)
        return 0;
    if (address)
        *address = a.s_addr;
    if (prefix)
        *prefix = bits;
    return 1;
}

}  // extern "C"
