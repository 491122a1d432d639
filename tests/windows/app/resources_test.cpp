// The resources TarnDovEzuvar.exe carries, read from the built exe the way
// Windows reads them.
#include "app/resource_ids.h"
#include "version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

class ExeResources : public testing::Test {
  protected:
    void SetUp() override {
        path = Env(L"TDE_EXE");
        ASSERT_FALSE(path.empty()) << "TDE_EXE names the installer";
        SetLastError(0xdeadbeef);
        module = LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    // The bytes of one resource in one language; empty when absent.
    std::string Bytes(LPCWSTR type, LPCWSTR name, WORD language) {
        HRSRC info = FindResourceExW(module, type, name, language);
        if (info == nullptr) {
            return {};
        }
        HGLOBAL data = LoadResource(module, info);
        const char* bytes = static_cast<const char*>(LockResource(data));
        return std::string(bytes, SizeofResource(module, info));
    }

    // String-table entry `id` in one language (string tables hold 16 strings a block).
    std::wstring String(UINT id, WORD language) {
        std::string block = Bytes(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
        const wchar_t* p = reinterpret_cast<const wchar_t*>(block.data());
        const wchar_t* end = p + block.size() / 2;
        for (UINT i = 0; i < id % 16 && p < end; ++i) {
            p += 1 + *p;
        }
        if (p >= end || p + 1 + *p > end) {
            return {};
        }
        return std::wstring(p + 1, *p);
    }

    std::wstring path;
    HMODULE module = nullptr;
};

TEST_F(ExeResources, AboutMenuTextInChineseAndEnglish) {
    EXPECT_EQ(String(IDS_ABOUTBOX, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)),
              L"关于 DovEzuvar(&A)...");
    EXPECT_EQ(String(IDS_ABOUTBOX, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              L"About DovEzuvar(&A)...");
}

TEST_F(ExeResources, DialogTemplatesAndIconArePresent) {
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDD_MAIN), RT_DIALOG), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDD_ABOUTBOX), RT_DIALOG), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON), nullptr);
    HICON icon = LoadIconW(module, MAKEINTRESOURCEW(IDI_APP));
    EXPECT_NE(icon, nullptr);
}

TEST_F(ExeResources, VersionIsTheProjectVersion) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(TDE_VERSION_MINOR, TDE_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, TDE_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(TDE_VERSION_MINOR, TDE_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, TDE_VERSION_PATCH));
}

// A test build carries the test certificate: its version resource must say so,
// and a build from the vendor's payload must not.
TEST_F(ExeResources, VersionResourceMarksATestBuild) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD marks = VS_FF_SPECIALBUILD | VS_FF_PRIVATEBUILD;
    EXPECT_EQ(fixed->dwFileFlagsMask & marks, marks);
    wchar_t* special = nullptr;
    bool hasSpecial = VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\SpecialBuild",
                                     reinterpret_cast<void**>(&special), &length) &&
                      length > 0;
    if (Env(L"TDE_TEST_BUILD") == L"1") {
        EXPECT_EQ(fixed->dwFileFlags & marks, marks);
        ASSERT_TRUE(hasSpecial);
        EXPECT_NE(std::wstring(special).find(L"TEST BUILD"), std::wstring::npos);
    } else {
        EXPECT_EQ(fixed->dwFileFlags & marks, 0u);
        EXPECT_FALSE(hasSpecial);
    }
}

TEST_F(ExeResources, ManifestAsksForAdministratorAndCommonControls6WithoutSupportedOs) {
    std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                 MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    // Without a supportedOS list, Windows 8 and later report 6.2 to the program.
    EXPECT_EQ(manifest.find("supportedOS"), std::string::npos);
}

}  // namespace
