#include "base/collation.h"

#include <array>
#include <string>
#include <cstdint>
#include <vector>

namespace tde {

namespace {

// How the system's case-insensitive comparison weighs the characters of Latin-1,
// as measured on CompareStringW: each entry is one primary weight, in rising
// order; within it, the strings are the secondary (diacritic) weights in rising
// order, each listing the characters that weigh exactly the same.
const std::vector<std::vector<std::u16string>>& CollationOrder() {
    static const std::vector<std::vector<std::u16string>> order = {
        {u" "},
        {u"\u00a0"},
        {u"!"},
        {u"\""},
        {u"#"},
        {u"$"},
        {u"%"},
        {u"&"},
        {u"("},
        {u")"},
        {u"*"},
        {u","},
        {u"."},
        {u"/"},
        {u":"},
        {u";"},
        {u"?"},
        {u"@"},
        {u"["},
        {u"\\"},
        {u"]"},
        {u"^"},
        {u"_"},
        {u"`"},
        {u"{"},
        {u"|"},
        {u"}"},
        {u"~"},
        {u"\u00a1"},
        {u"\u00a6"},
        {u"\u00a8"},
        {u"\u00af"},
        {u"\u00b4"},
        {u"\u00b8"},
        {u"\u00bf"},
        {u"\u00a2"},
        {u"\u00a3"},
        {u"\u00a4"},
        {u"\u00a5"},
        {u"+"},
        {u"<"},
        {u"="},
        {u">"},
        {u"\u00b1"},
        {u"\u00ab"},
        {u"\u00bb"},
        {u"\u00d7"},
        {u"\u00f7"},
        {u"\u00a7"},
        {u"\u00a9"},
        {u"\u00ac"},
        {u"\u00ae"},
        {u"\u00b0"},
        {u"\u00b5"},
        {u"\u00b6"},
        {u"\u00b7"},
        {u"0"},
        {u"\u00bc"},
        {u"\u00bd"},
        {u"\u00be"},
        {u"1", u"\u00b9"},
        {u"2", u"\u00b2"},
        {u"3", u"\u00b3"},
        {u"4"},
        {u"5"},
        {u"6"},
        {u"7"},
        {u"8"},
        {u"9"},
        {u"aA", u"\u00aa", u"\u00e1\u00c1", u"\u00e0\u00c0", u"\u00e2\u00c2", u"\u00e4\u00c4",
         u"\u00e3\u00c3", u"\u00e5\u00c5"},
        {u"bB"},
        {u"cC", u"\u00e7\u00c7"},
        {u"dD", u"\u00f0\u00d0"},
        {u"eE", u"\u00e9\u00c9", u"\u00e8\u00c8", u"\u00ea\u00ca", u"\u00eb\u00cb"},
        {u"fF"},
        {u"gG"},
        {u"hH"},
        {u"iI", u"\u00ed\u00cd", u"\u00ec\u00cc", u"\u00ee\u00ce", u"\u00ef\u00cf"},
        {u"jJ"},
        {u"kK"},
        {u"lL"},
        {u"mM"},
        {u"nN", u"\u00f1\u00d1"},
        {u"oO", u"\u00ba", u"\u00f3\u00d3", u"\u00f2\u00d2", u"\u00f4\u00d4", u"\u00f6\u00d6",
         u"\u00f5\u00d5", u"\u00f8\u00d8"},
        {u"pP"},
        {u"qQ"},
        {u"rR"},
        {u"sS"},
        {u"tT"},
        {u"\u00fe\u00de"},
        {u"uU", u"\u00fa\u00da", u"\u00f9\u00d9", u"\u00fb\u00db", u"\u00fc\u00dc"},
        {u"vV"},
        {u"wW"},
        {u"xX"},
        {u"yY", u"\u00fd\u00dd", u"\u00ff"},
        {u"zZ"}};
    return order;
}

enum class Kind : uint8_t {
    Unknown,   // beyond Latin-1: weighed by code unit after everything here
    Weighed,   // primary and secondary weights
    Special,   // apostrophe, hyphen, control characters: only when all else is equal
    Ignored,   // the soft hyphen: never
    Expanded,  // a ligature that weighs as two letters
};

struct Weight {
    Kind kind = Kind::Unknown;
    uint32_t primary = 0;
    uint32_t secondary = 0;
    char16_t first = 0;  // for Expanded: the two letters
    char16_t second = 0;
};

const std::array<Weight, 256>& Latin1Weights() {
    static const std::array<Weight, 256> table = [] {
        std::array<Weight, 256> weights{};
        for (uint32_t c = 0; c < 0x20; ++c) {
            weights[c] = {Kind::Special, 0, 0};
        }
        for (uint32_t c = 0x7F; c < 0xA0; ++c) {
            weights[c] = {Kind::Special, 0, 0};
        }
        weights[u'\''] = {Kind::Special, 1, 0};
        weights[u'-'] = {Kind::Special, 2, 0};
        weights[0xAD] = {Kind::Ignored};
        weights[0xE6] = weights[0xC6] = {Kind::Expanded, 0, 0, u'a', u'e'};
        weights[0xDF] = {Kind::Expanded, 0, 0, u's', u's'};
        const auto& order = CollationOrder();
        for (uint32_t p = 0; p < order.size(); ++p) {
            for (uint32_t s = 0; s < order[p].size(); ++s) {
                for (char16_t c : order[p][s]) {
                    weights[c] = {Kind::Weighed, p + 1, s};
                }
            }
        }
        return weights;
    }();
    return table;
}

struct Keys {
    std::vector<std::pair<uint32_t, uint32_t>> weights;  // primary, secondary
    std::vector<std::pair<size_t, uint32_t>> specials;   // position, weight
};

Keys KeysOf(std::u16string_view text) {
    const std::array<Weight, 256>& table = Latin1Weights();
    Keys keys;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0x100) {
            keys.weights.emplace_back(0x10000u + c, 0);
            continue;
        }
        const Weight& w = table[c];
        switch (w.kind) {
            case Kind::Weighed:
                keys.weights.emplace_back(w.primary, w.secondary);
                break;
            case Kind::Special:
                keys.specials.emplace_back(i, w.primary);
                break;
            case Kind::Expanded:
                keys.weights.emplace_back(table[w.first].primary, 0);
                keys.weights.emplace_back(table[w.second].primary, 0);
                break;
            case Kind::Ignored:
            case Kind::Unknown:
                break;
        }
    }
    return keys;
}

}  // namespace

int CompareNamesIgnoreCase(std::u16string_view a, std::u16string_view b) {
    Keys ka = KeysOf(a);
    Keys kb = KeysOf(b);
    // Letters, digits and symbols first; a text that is a prefix of the other is less.
    for (size_t i = 0; i < ka.weights.size() && i < kb.weights.size(); ++i) {
        if (ka.weights[i].first != kb.weights[i].first) {
            return ka.weights[i].first < kb.weights[i].first ? -1 : 1;
        }
    }
    if (ka.weights.size() != kb.weights.size()) {
        return ka.weights.size() < kb.weights.size() ? -1 : 1;
    }
    // Then the diacritics, from the left.
    for (size_t i = 0; i < ka.weights.size(); ++i) {
        if (ka.weights[i].second != kb.weights[i].second) {
            return ka.weights[i].second < kb.weights[i].second ? -1 : 1;
        }
    }
    // Equal but for the special characters: an earlier one, a heavier one, or
    // one more of them makes the greater text.
    for (size_t k = 0; k < ka.specials.size() && k < kb.specials.size(); ++k) {
        if (ka.specials[k].first != kb.specials[k].first) {
            return ka.specials[k].first < kb.specials[k].first ? 1 : -1;
        }
        if (ka.specials[k].second != kb.specials[k].second) {
            return ka.specials[k].second > kb.specials[k].second ? 1 : -1;
        }
    }
    if (ka.specials.size() != kb.specials.size()) {
        return ka.specials.size() > kb.specials.size() ? 1 : -1;
    }
    return 0;
}

}  // namespace tde
