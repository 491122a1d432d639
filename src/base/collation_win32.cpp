// The Windows program compares names as the system does, for every letter the
// system knows, not only those of the portable model.
#include "base/collation.h"

#include "base/win32.h"

#include <windows.h>

namespace tde {

int CompareDriverNames(std::u16string_view a, std::u16string_view b) {
    return lstrcmpiW(Wide(a).c_str(), Wide(b).c_str());
}

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    // Vista and later; looked up so the exe still starts without it.
    static const auto compareOrdinal =
        SystemFunction<int(WINAPI*)(LPCWSTR, int, LPCWSTR, int, BOOL)>(L"kernel32.dll",
                                                                       "CompareStringOrdinal");
    const std::wstring wa = Wide(a);
    const std::wstring wb = Wide(b);
    if (compareOrdinal != nullptr) {
        return compareOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                              static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
    }
    // What CompareStringOrdinal does with the ignore-case flag: both upper-cased
    // by the system's table, then compared unit by unit.
    std::wstring ua = wa;
    std::wstring ub = wb;
    CharUpperBuffW(ua.data(), static_cast<DWORD>(ua.size()));
    CharUpperBuffW(ub.data(), static_cast<DWORD>(ub.size()));
    return ua == ub;
}

}  // namespace tde
