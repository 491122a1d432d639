// Builds without a Windows C runtime classify name characters by the table.
#include "text/name_chars.h"

namespace tde {

bool IsNameCharacter(char16_t c) {
    return IsPortableNameCharacter(c);
}

}  // namespace tde
