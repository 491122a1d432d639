// How the program compares names: the order of the system's case-insensitive
// comparison, and ordinal matching with letter case ignored.
#pragma once

#include <string_view>

namespace tde {

// Compares two names the way Windows' case-insensitive text comparison of the
// user's locale does (lstrcmpiW, and the order of a sorted list or combo box):
// letter case ignored; punctuation before digits before letters; accented
// letters after their plain letter; apostrophe, hyphen and control characters
// weigh only when all else is equal. Modelled for Latin-1; other characters
// order by code unit after it. Answers <0, 0 or >0.
int CompareNamesIgnoreCase(std::u16string_view a, std::u16string_view b);

// How IsDriverInstalled compares driver names: lstrcmpiW in the Windows
// program, CompareNamesIgnoreCase elsewhere. Answers <0, 0 or >0.
int CompareDriverNames(std::u16string_view a, std::u16string_view b);

// Whether a name someone typed is a name the spooler lists: ordinal, letter case
// ignored (CompareStringOrdinal in the Windows program; a word sort of the
// user's locale is no way to match a name), CompareNamesIgnoreCase elsewhere.
bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace tde
