#include "install/folder_trust_win32.h"

#include "base/win32.h"

#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <string>

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

}  // namespace

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

FolderTrust JudgeFolderAt(std::u16string_view path) {
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

}  // namespace tde
