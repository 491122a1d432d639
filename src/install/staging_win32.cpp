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

// Wine gives every file the prefix's user as owner, with SYSTEM and that user
// in the DACL, whatever descriptor the creator passed. A test build run under
// Wine counts that user as Administrators, or no run could pass there; a
// release build, and any build on Windows, never trusts the user's own SID.
bool IsWineTestUser(PSID sid) {
#ifdef TDE_TEST_BUILD
    static const bool underWine = [] {
        return FunctionAddress(L"ntdll.dll", "wine_get_version") != nullptr;
    }();
    if (!underWine) {
        return false;
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
            same = EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid) != FALSE;
        }
    }
    CloseHandle(token);
    return same;
#else
    (void)sid;
    return false;
#endif
}

Principal PrincipalOf(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) {
        return Principal::Other;
    }
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
        return Principal::Administrators;
    }
    if (IsWellKnownSid(sid, WinLocalSystemSid)) {
        return Principal::System;
    }
    if (IsWellKnownSid(sid, WinCreatorOwnerSid)) {
        return Principal::CreatorOwner;
    }
    // NT SERVICE\TrustedInstaller, the owner of Program Files.
    static const DWORD kTrustedInstaller[] = {956008885, 3418522649, 1831038044, 1853292631,
                                              2271478464};
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PUCHAR count = GetSidSubAuthorityCount(sid);
    PSID_IDENTIFIER_AUTHORITY authority = GetSidIdentifierAuthority(sid);
    if (*count == 6 && memcmp(authority, &nt, sizeof nt) == 0 &&
        *GetSidSubAuthority(sid, 0) == 80) {
        bool same = true;
        for (DWORD i = 0; i < 5; ++i) {
            same = same && *GetSidSubAuthority(sid, i + 1) == kTrustedInstaller[i];
        }
        if (same) {
            return Principal::TrustedInstaller;
        }
    }
    return IsWineTestUser(sid) ? Principal::Administrators : Principal::Other;
}

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

bool ReadFolderSecurity(void* descriptor, FolderFacts& facts) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return false;
    }
    facts.owner = PrincipalOf(owner);
    facts.hasDacl = present && dacl != nullptr;
    facts.dacl.clear();
    for (DWORD i = 0; facts.hasDacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Allowed and denied entries, with or without a callback, share this layout.
        const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
                facts.dacl.push_back(
                    {PrincipalOf(const_cast<DWORD*>(&plain->SidStart)), true, plain->Mask});
                break;
            case ACCESS_DENIED_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_ACE_TYPE:
                facts.dacl.push_back(
                    {PrincipalOf(const_cast<DWORD*>(&plain->SidStart)), false, plain->Mask});
                break;
            default:
                // An entry this judgment cannot read may grant anything.
                facts.dacl.push_back({Principal::Other, true, GENERIC_ALL});
                break;
        }
    }
    return true;
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
    FolderFacts facts;
    facts.exists = true;
    facts.readable = false;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(handle, &info)) {
        facts.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD result = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, nullptr, nullptr, &descriptor);
        if (result == ERROR_SUCCESS) {
            facts.readable = ReadFolderSecurity(descriptor, facts);
        } else {
            // A link or a file is refused as such, its security aside.
            facts.readable = facts.link || !facts.directory;
            SetLastError(result);
        }
        if (descriptor != nullptr) {
            LocalFree(descriptor);
        }
    }
    DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return JudgeFolder(facts);
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
