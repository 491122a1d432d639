#include "support/test_support_win32.h"

#include "support/fixture_paths.h"

namespace tde::test {

std::wstring FromUnixPath(const char* path) {
    std::wstring result = L"Z:";
    for (const char* p = path; *p != 0; ++p) {
        result.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return result;
}

std::wstring TestDriverModule() {
    return FromUnixPath(TDE_TEST_DRIVER_MODULE);
}
std::wstring PlantedProgram() {
    return FromUnixPath(TDE_TEST_PLANTED_PROGRAM);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ThisProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return FolderOf(path);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TemporaryFolder::TemporaryFolder() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::wstring candidate = std::wstring(base) + L"tde-test-" +
                                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(attempt);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
        }
    }
}

TemporaryFolder::~TemporaryFolder() {
    if (path_.empty()) {
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
}

CurrentFolder::CurrentFolder(const std::wstring& folder) {
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    SetCurrentDirectoryW(folder.c_str());
}

CurrentFolder::~CurrentFolder() {
    SetCurrentDirectoryW(previous_.c_str());
}

PlantedFile::PlantedFile(const std::wstring& source, const std::wstring& destination)
    : destination_(destination),
      placed_(CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE) {}

PlantedFile::~PlantedFile() {
    DeleteFileW(destination_.c_str());
    DeleteFileW((destination_ + L".calls").c_str());
}

}  // namespace tde::test
