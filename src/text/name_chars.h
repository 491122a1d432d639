// Which characters the XML reader takes into element and attribute names: "_",
// ":", and letters and digits. What counts as a letter or digit outside ASCII
// depends on the build; see name_chars.cpp.
#pragma once

namespace tde {

// The classification the reader uses: the C runtime's iswalnum in the Windows
// program, the portable table below everywhere else.
bool IsNameCharacter(char16_t c);

// The portable table: the native build, the tools and the fuzzers read names
// with it, and Windows tests compare the runtime's answer against it.
bool IsPortableNameCharacter(char16_t c);

}  // namespace tde
