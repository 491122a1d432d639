// The system platform on Windows: module file name and resources, the ANSI
// code page, and files through CreateFileW.
#include <windows.h>
#include <sddl.h>

#include "archive/platform.h"

#include "base/win32.h"

namespace tde {

namespace {

class Win32ResourcePlatform : public ResourcePlatform {
  public:
    std::u16string ModuleFilePath(ModuleHandle module) override {
        wchar_t path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), path, MAX_PATH);
        return std::u16string(reinterpret_cast<const char16_t*>(path), n);
    }

    bool FindArchiveResource(ModuleHandle module, const void*& bytes, uint32_t& length) override {
        HMODULE handle = static_cast<HMODULE>(module);
        HRSRC found = FindResourceW(handle, MAKEINTRESOURCEW(kArchiveResourceId),
                                    reinterpret_cast<const wchar_t*>(kArchiveResourceType));
        if (found == nullptr) {
            return false;
        }
        HGLOBAL loaded = LoadResource(handle, found);
        if (loaded == nullptr) {
            return false;
        }
        length = SizeofResource(handle, found);
        bytes = LockResource(loaded);
        return bytes != nullptr && length != 0;
    }

    std::string ToAnsi(std::u16string_view text) override { return tde::ToAnsi(text); }

    FileReadResult ReadWholeFile(std::u16string_view path, uint32_t maxSize,
                                 std::vector<uint8_t>& bytes) override {
        bytes.clear();
        const std::u16string name(path);
        HANDLE file = CreateFileW(AsWide(name), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return FileReadResult::OpenFailed;
        }
        LARGE_INTEGER size = {};
        FileReadResult result = FileReadResult::Ok;
        if (!GetFileSizeEx(file, &size)) {
            result = FileReadResult::ShortRead;
        } else if (size.QuadPart == 0) {
            result = FileReadResult::Empty;
        } else if (static_cast<uint64_t>(size.QuadPart) > maxSize) {
            result = FileReadResult::TooLarge;
        } else {
            bytes.resize(static_cast<size_t>(size.QuadPart));
            DWORD read = 0;
            if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                read != bytes.size()) {
                bytes.clear();
                result = FileReadResult::ShortRead;
            }
        }
        CloseHandle(file);
        return result;
    }

    bool WriteWholeFile(std::u16string_view path, const void* bytes, uint32_t length,
                        std::u16string_view sddl) override {
        const std::u16string name(path);
        const std::u16string security(sddl);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(AsWide(security), SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            return false;
        }
        // Never written through: DeleteFileW removes a link itself (or this hard
        // link's name), and CREATE_NEW fails on whatever stands there again.
        ::DeleteFileW(AsWide(name));
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        HANDLE file = CreateFileW(AsWide(name), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const DWORD created = GetLastError();
        LocalFree(descriptor);
        if (file == INVALID_HANDLE_VALUE) {
            SetLastError(created);
            return false;
        }
        DWORD written = 0;
        BOOL ok = WriteFile(file, bytes, length, &written, nullptr);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (ok && written != length) {
            // A short write is a failed write: the file on disk is not the item.
            ok = FALSE;
            error = ERROR_WRITE_FAULT;
        }
        CloseHandle(file);
        if (!ok) {
            SetLastError(error);  // what the write said, not what closing said
        }
        return ok != FALSE;
    }
};

}  // namespace

ResourcePlatform& SystemResourcePlatform() {
    static Win32ResourcePlatform platform;
    return platform;
}

}  // namespace tde
