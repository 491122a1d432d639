// Helpers every Win32 implementation shares: the text conversions at the
// system's edge, the run-time lookup of functions a Windows version may lack,
// and loading libraries from the system folder only.
#pragma once

#include "base/handles.h"

#include <string>
#include <string_view>

namespace tde {

// --- Text ------------------------------------------------------------------------------------
// UTF-16 as the wide API takes it; char16_t and wchar_t are both UTF-16 code
// units there.
inline const wchar_t* AsWide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline const wchar_t* AsWide(const std::u16string& text) {
    return AsWide(text.c_str());
}
// For the API fields typed as writable that the call only reads.
inline wchar_t* AsMutableWide(const char16_t* text) {
    return const_cast<wchar_t*>(AsWide(text));
}
inline std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}
// The text in the system's ANSI code page; characters it lacks become its
// default character. Empty when the text is empty or cannot be converted.
std::string ToAnsi(std::u16string_view text);
std::string ToAnsi(std::wstring_view text);
// Text in the system's ANSI code page as UTF-16; empty when it cannot be converted.
std::u16string FromAnsi(std::string_view text);

// --- Functions looked up at run time ---------------------------------------------------------
// The address of an export of a loaded module, by name or by an ordinal made
// with MAKEINTRESOURCEA; null when the module is null or has no such export.
void* FunctionAddress(ModuleHandle module, const char* name);
// The same in a module the process has loaded already (kernel32.dll, ntdll.dll).
void* FunctionAddress(const wchar_t* loadedModule, const char* name);

// A function of the system's that a Windows version may lack, typed as `Fn`
// (a pointer to a WINAPI function); null where it is missing.
template <typename Fn, typename Module>
Fn SystemFunction(Module module, const char* name) {
    return reinterpret_cast<Fn>(FunctionAddress(module, name));
}

// --- Libraries of the system folder ----------------------------------------------------------
// Loads a library of the system folder and from nowhere else: by the
// LOAD_LIBRARY_SEARCH_SYSTEM32 search where the system knows it, else by the
// full path in the system folder. The result is an HMODULE, or null with the
// last error set.
ModuleHandle LoadSystemLibrary(const wchar_t* fileName);
// Loads `fileName` by its full path in the system folder.
ModuleHandle LoadLibraryFromSystemFolder(const wchar_t* fileName);
// The system folder (GetSystemDirectoryW) without a trailing backslash; empty
// when it cannot be determined.
std::wstring SystemFolderPath();

// Restricts the process's DLL search to the system folder and to folders added
// with AddDllDirectory (SetDefaultDllDirectories); where that function does not
// exist, at least takes the current folder out of the search. True when fully
// restricted.
bool RestrictDllSearchToSystemFolder();

}  // namespace tde
