#include "install/staging_win32.h"

#include "archive/archive.h"
#include "archive/names.h"
#include "base/win32.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstring>

namespace tde {

namespace {

std::string Hex(const BYTE* bytes, DWORD size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

}  // namespace

std::string Win32StagingFiles::ToNarrow(std::u16string_view text) {
    return ToAnsi(text);
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
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl = Wide(kStagingFolderSddl);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const BOOL made = ::CreateDirectoryA(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return made != FALSE;
}

FolderTrust Win32StagingFiles::CheckFolder(std::u16string_view path) {
    return JudgeFolderAt(path);
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

std::string FileSha256(std::u16string_view path) {
    HANDLE file =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string digest;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        BYTE buffer[16384];
        DWORD read = 0;
        bool ok = true;
        while (ok && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            ok = CryptHashData(hash, buffer, read, 0) != FALSE;
        }
        BYTE value[32];
        DWORD size = sizeof value;
        if (ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) && size == sizeof value) {
            digest = Hex(value, size);
        }
    }
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    CloseHandle(file);
    return digest;
}

bool Win32StagingFiles::MayTrustCertificate(std::u16string_view path) {
#ifdef TDE_REFUSED_CERTIFICATE_SHA256
    // Compiled into a release build from the repository's test certificate: a
    // payload mixed up at build time must still not make it a trusted publisher.
    if (FileSha256(path) == TDE_REFUSED_CERTIFICATE_SHA256) {
        SetLastError(static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT));
        return false;
    }
#else
    (void)path;
#endif
    return true;
}

uint32_t Win32StagingFiles::LastError() const {
    return GetLastError();
}

}  // namespace tde
