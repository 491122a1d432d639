// What a quiet run learns of the machine beyond the spooler: who it runs as,
// and the fingerprints of the driver's files on disk and in the archive.
#include "archive/archive.h"
#include "base/win32.h"
#include "quiet/quiet_run.h"

#include <sddl.h>
#include <zlib.h>

#include <vector>

namespace tde {

namespace {

constexpr wchar_t kCreatedKey[] = L"Software\\ZNW\\DovEzuvar\\Created";
// Users may read; only Administrators and SYSTEM may write, here and below.
constexpr wchar_t kCreatedKeySddl[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

}  // namespace

bool RegistryCreationMarks::Set(std::u16string_view model) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kCreatedKeySddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    // Each missing key of the chain is made with that security.
    const std::wstring path = std::wstring(kCreatedKey) + L"\\" + Wide(model);
    HKEY key = HKEY_LOCAL_MACHINE;
    LSTATUS status = ERROR_SUCCESS;
    for (size_t start = 0; status == ERROR_SUCCESS && start <= path.size();) {
        size_t end = path.find(L'\\', start);
        end = end == std::wstring::npos ? path.size() : end;
        HKEY next = nullptr;
        status = RegCreateKeyExW(key, path.substr(start, end - start).c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_CREATE_SUB_KEY, &attributes, &next,
                                 nullptr);
        if (key != HKEY_LOCAL_MACHINE) {
            RegCloseKey(key);
        }
        key = status == ERROR_SUCCESS ? next : HKEY_LOCAL_MACHINE;
        start = end + 1;
    }
    if (key != HKEY_LOCAL_MACHINE) {
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return status == ERROR_SUCCESS;
}

bool RegistryCreationMarks::IsSet(std::u16string_view model) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kCreatedKey) + L"\\" + Wide(model);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool RegistryCreationMarks::Clear(std::u16string_view model) {
    HKEY created = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCreatedKey, 0,
                                   DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &created);
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    status = RegDeleteKeyW(created, Wide(model).c_str());
    RegCloseKey(created);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RunsAsLocalSystem() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    const bool system =
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

std::optional<FileFingerprint> Win32Fingerprints::OfFile(std::u16string_view path) {
    HANDLE file =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FileFingerprint print;
    std::vector<BYTE> chunk(64 * 1024);
    DWORD read = 0;
    bool ok = true;
    uLong crc = crc32(0, nullptr, 0);
    while ((ok = ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) !=
                 0) &&
           read > 0) {
        crc = crc32(crc, chunk.data(), read);
        print.size += read;
    }
    CloseHandle(file);
    print.crc32 = static_cast<uint32_t>(crc);
    return ok ? std::optional(print) : std::nullopt;
}
std::optional<FileFingerprint> Win32Fingerprints::OfItem(std::u16string_view archivePath) {
    ArchiveItemInfo info;
    if (!DescribeRegisteredItem(archivePath, info)) {
        return std::nullopt;
    }
    return FileFingerprint{info.uncompressedSize, info.crc32};
}

}  // namespace tde
