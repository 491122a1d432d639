#include "base/win32.h"

#include <windows.h>

namespace tde {

std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string ansi(static_cast<size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr, nullptr);
    ansi.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return ansi;
}

std::string ToAnsi(std::u16string_view text) {
    return ToAnsi(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

std::u16string FromAnsi(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return FromWide(wide);
}

void* FunctionAddress(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void* FunctionAddress(const wchar_t* loadedModule, const char* name) {
    return FunctionAddress(static_cast<ModuleHandle>(GetModuleHandleW(loadedModule)), name);
}

std::wstring SystemFolderPath() {
    wchar_t path[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return std::wstring();
    }
    std::wstring folder(path, length);
    while (!folder.empty() && folder.back() == L'\\') {
        folder.pop_back();
    }
    return folder;
}

ModuleHandle LoadLibraryFromSystemFolder(const wchar_t* fileName) {
    std::wstring folder = SystemFolderPath();
    if (folder.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    std::wstring path = folder + L"\\" + fileName;
    // A full path: the loader searches nowhere, and the library's own
    // dependencies are searched from its folder first.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

ModuleHandle LoadSystemLibrary(const wchar_t* fileName) {
    HMODULE module = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // Windows before the search flags (XP, Vista, 7 without KB2533623) rejects them.
    return LoadLibraryFromSystemFolder(fileName);
}

bool RestrictDllSearchToSystemFolder() {
    auto setDefaultDirectories =
        SystemFunction<BOOL(WINAPI*)(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
    // User folders join only through AddDllDirectory; the one added later is
    // the spooler's own driver folder (see AddDriverFolderToDllSearch).
    if (setDefaultDirectories != nullptr &&
        setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS)) {
        return true;
    }
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryW(L"");
    return false;
}

}  // namespace tde
