#include "archive/names.h"

#include <cstdint>

namespace tde {

namespace {

bool IsSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

}  // namespace

std::u16string SanitizeItemName(std::u16string_view name) {
    if (name.size() >= 2 && name[1] == u':') {
        name.remove_prefix(2);
    }
    // Everything up to and including the last ".." part goes, whether it
    // stands first, between separators or last.
    size_t keepFrom = 0;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        if (name.substr(start, end - start) == u"..") {
            keepFrom = end < name.size() ? end + 1 : end;
        }
        start = end + 1;
    }
    name.remove_prefix(keepFrom);
    while (!name.empty() && IsSeparator(name.front())) {
        name.remove_prefix(1);
    }
    return std::u16string(name);
}

std::u16string ToItemName(std::u16string_view path) {
    std::u16string name(path);
    for (char16_t& c : name) {
        if (c == u'\\') {
            c = u'/';
        }
    }
    return name;
}

}  // namespace tde
