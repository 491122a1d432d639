#include "spooler/spooler.h"

#include <new>

namespace tde {

SpoolerBuffer FetchTwice(Spooler& spooler,
                         const std::function<bool(uint8_t*, uint32_t, uint32_t*, uint32_t*)>& call,
                         bool zeroFill) {
    SpoolerBuffer result;
    uint32_t needed = 0;
    uint32_t returned = 0;
    call(nullptr, 0, &needed, &returned);
    if (needed == 0) {
        result.outcome = SpoolerFetch::NothingNeeded;
        return result;
    }
    if (needed > kMaxSpoolerBufferBytes) {
        result.outcome = SpoolerFetch::AllocationFailed;
        return result;
    }
    result.bytes.reset(zeroFill ? new (std::nothrow) uint8_t[needed]()
                                : new (std::nothrow) uint8_t[needed]);
    if (!result.bytes) {
        result.outcome = SpoolerFetch::AllocationFailed;
        return result;
    }
    result.size = needed;
    returned = 0;
    uint32_t stillNeeded = 0;
    if (call(result.bytes.get(), result.size, &stillNeeded, &returned)) {
        result.outcome = SpoolerFetch::Filled;
        result.count = returned;
    } else {
        result.outcome = SpoolerFetch::FillFailed;
        result.error = spooler.LastError();
    }
    return result;
}

namespace {

// Punctuation and symbols of printable ASCII in the order Windows sorts them,
// all before the digits, which come before the letters.
constexpr char16_t kSymbolOrder[] = u" !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";

struct Weight {
    bool special;  // weighs only when everything else is equal
    uint32_t value;
};

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {  // Latin-1 capitals, not the multiplication sign
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

Weight WeightOf(char16_t c) {
    if (c < 0x20 || c == 0x7F) {
        return {true, 0};
    }
    if (c == u'\'') {
        return {true, 1};
    }
    if (c == u'-') {
        return {true, 2};
    }
    if (c >= u'0' && c <= u'9') {
        return {false, 0x200u + (c - u'0')};
    }
    char16_t folded = FoldCase(c);
    if (folded >= u'a' && folded <= u'z') {
        return {false, 0x300u + (folded - u'a')};
    }
    for (uint32_t i = 0; kSymbolOrder[i] != 0; ++i) {
        if (kSymbolOrder[i] == c) {
            return {false, 0x100u + i};
        }
    }
    return {false, 0x10000u + folded};
}

struct SpecialMark {
    size_t position;
    uint32_t weight;
};

std::vector<SpecialMark> SpecialMarks(std::u16string_view text) {
    std::vector<SpecialMark> marks;
    for (size_t i = 0; i < text.size(); ++i) {
        Weight w = WeightOf(text[i]);
        if (w.special) {
            marks.push_back({i, w.value});
        }
    }
    return marks;
}

}  // namespace

int CompareNamesIgnoreCase(std::u16string_view a, std::u16string_view b) {
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        while (i < a.size() && WeightOf(a[i]).special) {
            ++i;
        }
        while (j < b.size() && WeightOf(b[j]).special) {
            ++j;
        }
        if (i == a.size() || j == b.size()) {
            break;
        }
        uint32_t wa = WeightOf(a[i]).value;
        uint32_t wb = WeightOf(b[j]).value;
        if (wa != wb) {
            return wa < wb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    // Equal but for the special characters: an earlier one, a heavier one, or
    // one more of them makes the greater text.
    std::vector<SpecialMark> ma = SpecialMarks(a);
    std::vector<SpecialMark> mb = SpecialMarks(b);
    for (size_t k = 0; k < ma.size() && k < mb.size(); ++k) {
        if (ma[k].position != mb[k].position) {
            return ma[k].position < mb[k].position ? 1 : -1;
        }
        if (ma[k].weight != mb[k].weight) {
            return ma[k].weight > mb[k].weight ? 1 : -1;
        }
    }
    if (ma.size() != mb.size()) {
        return ma.size() > mb.size() ? 1 : -1;
    }
    return 0;
}

}  // namespace tde
