// The Windows program reads names as the platform classifies characters: the
// iswalnum of the C runtime it links (msvcrt.dll), so a language file parses
// the same as other programs on that system would classify its names.
#include "text/name_chars.h"

#include <wctype.h>

namespace tde {

bool IsNameCharacter(char16_t c) {
    return c == u'_' || c == u':' || iswalnum(static_cast<wint_t>(c)) != 0;
}

}  // namespace tde
