// Conversions between the kinds of text the tests hold: the program's UTF-16
// (char16_t), UTF-8 for messages and literals, and on Windows wchar_t.
#pragma once

#include "base/utf8.h"

#include <string>
#include <string_view>

namespace tde::test {

// UTF-8 (or ASCII) text as UTF-16.
inline std::u16string U16(std::string_view text) {
    return Utf8ToUtf16(text);
}

// UTF-16 text as UTF-8, for messages and byte contents.
inline std::string Narrow(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

#ifdef _WIN32
// wchar_t is UTF-16 on Windows: the same code units under the other type.
inline std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string Utf16(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
inline std::string Narrow(std::wstring_view text) {
    return Narrow(Utf16(text));
}
inline std::wstring WideFromUtf8(std::string_view text) {
    return Wide(Utf8ToUtf16(text));
}
#endif

}  // namespace tde::test
