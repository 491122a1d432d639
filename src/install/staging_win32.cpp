#include "install/staging_win32.h"

#include "archive/archive.h"
#include "archive/names.h"

#include <windows.h>
#include <aclapi.h>

namespace tde {

namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

// True when the SID is the Administrators group, SYSTEM or the user this
// process runs as: none of them is another user.
bool IsTrustedOwner(PSID owner) {
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(owner, WinLocalSystemSid)) {
        return true;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    bool same = false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size > 0 && size < 4096) {
        std::string buffer(size, '\0');
        if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            same = EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, owner) != FALSE;
        }
    }
    CloseHandle(token);
    return same;
}

}  // namespace

std::string Win32StagingFiles::ToNarrow(std::u16string_view text) {
    if (text.empty()) {
        return std::string();
    }
    const std::wstring wide = Wide(text);
    int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                            size, nullptr, nullptr);
    }
    return narrow;
}

bool Win32StagingFiles::GetCurrentDirectoryA(std::string& path) {
    char buffer[MAX_PATH] = {};
    DWORD length = ::GetCurrentDirectoryA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    path.assign(buffer, length);
    return true;
}

bool Win32StagingFiles::PathExistsA(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32StagingFiles::CreateDirectoryA(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

FolderTrust Win32StagingFiles::CheckFolder(std::u16string_view path) {
    // Opened as the thing at the path itself: a link is not followed.
    HANDLE handle =
        CreateFileW(Wide(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FolderTrust::Absent
                   : FolderTrust::Unknown;
    }
    FolderTrust trust = FolderTrust::Unknown;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(handle, &info)) {
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            trust = FolderTrust::Link;
        } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            trust = FolderTrust::NotAFolder;
        } else {
            PSID owner = nullptr;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            DWORD result = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                           &owner, nullptr, nullptr, nullptr, &descriptor);
            if (result == ERROR_SUCCESS && owner != nullptr) {
                trust = IsTrustedOwner(owner) ? FolderTrust::Trusted : FolderTrust::ForeignOwner;
            } else {
                SetLastError(result);
            }
            if (descriptor != nullptr) {
                LocalFree(descriptor);
            }
        }
    }
    DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return trust;
}

bool Win32StagingFiles::IsLink(std::u16string_view path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Win32StagingFiles::IsDirectory(std::u16string_view path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((Wide(path) + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return true;
}

bool Win32StagingFiles::FindEntries(std::u16string_view pattern,
                                    std::vector<FolderEntry>& entries) {
    entries.clear();
    // The pattern is formatted into a buffer of 260 wide characters.
    if (pattern.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        FolderEntry entry;
        entry.name.assign(data.cFileName, data.cFileName + wcslen(data.cFileName));
        entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

bool Win32StagingFiles::DeleteFileW(std::u16string_view path) {
    return ::DeleteFileW(Wide(path).c_str()) != FALSE;
}

bool Win32StagingFiles::RemoveDirectoryW(std::u16string_view path) {
    return ::RemoveDirectoryW(Wide(path).c_str()) != FALSE;
}

bool Win32StagingFiles::ExtractArchiveItem(std::u16string_view archivePath,
                                           std::u16string_view destinationFolder,
                                           std::u16string& dependentFiles) {
    SetLastError(ERROR_SUCCESS);
    if (tde::ExtractArchiveItem(archivePath, destinationFolder, dependentFiles)) {
        return true;
    }
    // Only the file's creation and write set an error; a failure inside the
    // archive would otherwise read as the previous error, or as success.
    if (GetLastError() == ERROR_SUCCESS) {
        int32_t index = -1;
        ArchiveReader* reader = CUiResources::GetArchiveHandle();
        bool found =
            archivePath.find(u'\\') != std::u16string_view::npos && reader != nullptr &&
            FindItem(reader, ToItemName(archivePath), true, index, nullptr) == ArchiveStatus::Ok;
        SetLastError(found ? ERROR_INVALID_DATA : ERROR_FILE_NOT_FOUND);
    }
    return false;
}

uint32_t Win32StagingFiles::LastError() const {
    return GetLastError();
}

}  // namespace tde
