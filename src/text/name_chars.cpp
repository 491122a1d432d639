// The portable classification of name characters. It cannot be the platform's:
// the native build has no Windows C runtime, and its own iswalnum depends on
// the locale. So it is a table of blocks: outside ASCII, the blocks of
// punctuation, symbols, surrogates, private use and specials are not letters,
// everything else is.
//
// Where it may differ from the Windows program's iswalnum: characters that
// stand inside a block of the other kind. Measured against Wine's msvcrt (a
// Windows test prints the list; Windows itself may answer otherwise), about
// 4,500 of the 65,536 code units differ:
// - the runtime takes, the table does not: superscript digits (U+00B2, U+00B3,
//   U+00B9), letterlike symbols and Roman numerals (U+2071..U+2188), U+3005..
//   U+3007, the Hangzhou numerals and the kana repeat marks (U+3021..U+303C);
// - the table takes, the runtime does not: U+00AA, U+00B5, U+00BA, modifier
//   symbols, combining marks (U+0300..U+036F and the vowel signs of Indic and
//   other scripts), punctuation inside script blocks (Greek, Armenian, Hebrew,
//   Arabic, Devanagari danda...), unassigned code points inside script blocks,
//   and some half-width forms.
// ASCII is the same for both. Only names with characters outside ASCII are
// affected, which is why the translators' checker warns about them.
#include "text/name_chars.h"

namespace tde {

bool IsPortableNameCharacter(char16_t c) {
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u':';
    }
    if (c < 0xC0) {
        return c == 0xAA || c == 0xB5 || c == 0xBA;
    }
    if (c < 0x100) {
        return c != 0xD7 && c != 0xF7;
    }
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) ||
        (c >= 0xD800 && c <= 0xF8FF) || (c >= 0xFE30 && c <= 0xFE6F) || c == 0xFEFF ||
        (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
        (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) || c >= 0xFFF0) {
        return false;
    }
    return true;
}

}  // namespace tde
