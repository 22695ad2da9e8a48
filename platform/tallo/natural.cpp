#include "natural.h"

namespace tallo {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int natural_compare(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t si = i, sj = j;
            while (si < a.size() && a[si] == '0')
                ++si;
            while (sj < b.size() && b[sj] == '0')
                ++sj;
            size_t ei = si, ej = sj;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            // Without leading zeros, the longer run is the larger number.
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj));
            if (c)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Equal as numbers ("01" and "1"): keep the order total.
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool key_less(std::string_view a, std::string_view b)
{
    for (;;) {
        size_t da = a.find('.'), db = b.find('.');
        int c = natural_compare(a.substr(0, da), b.substr(0, db));
        if (c)
            return c < 0;
        if (da == std::string_view::npos || db == std::string_view::npos)
            return da == std::string_view::npos && db != std::string_view::npos;
        a.remove_prefix(da + 1);
        b.remove_prefix(db + 1);
    }
}

}  // namespace tallo
