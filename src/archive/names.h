// Text helpers of the archive subsystem: UTF-8 <-> UTF-16 for item names and
// the sanitising of stored names into safe relative paths.
#pragma once

#include <string>
#include <string_view>

namespace tde {

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);

// Removes a leading drive prefix (a character and a colon), leading "/" and
// "\", and everything up to and including the last ".." part, so the result
// names a path below whatever folder it is joined to.
std::u16string SanitizeItemName(std::u16string_view name);

// Every "\" replaced by "/": how items named with Windows separators are found.
std::u16string ToItemName(std::u16string_view path);

}  // namespace tde
