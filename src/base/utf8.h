// UTF-8 <-> UTF-16: language files, archive item names, the log and the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tde {

// Appends the UTF-16 form of UTF-8 bytes to out. Each byte that does not start
// or continue a well-formed sequence becomes U+FFFD. Answers whether the input
// was well-formed.
bool DecodeUtf8(const uint8_t* bytes, size_t count, std::u16string& out);
// The same as a function of the text alone.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tde
