// Libraries of the system come from the system folder only, whatever is planted
// beside the program or in the current folder. This program imports nothing of
// winspool.drv, and runs alone: it restricts the DLL search of its process.
//
// What Wine cannot show: a bare LoadLibraryW("winspool.drv") with a planted copy
// beside the program loads Wine's built-in one anyway, so the hijack itself
// cannot be reproduced here; imports resolved before the program's first line
// (hence the separate check that the installer does not import winspool.drv);
// and the fallback for Windows without LOAD_LIBRARY_SEARCH_SYSTEM32 (XP, Vista,
// 7 without KB2533623), which Wine always has.
#include "base/win32.h"
#include "spooler/spooler.h"
#include "support/test_support_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace tde {
namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// A stand-in DLL planted under `name` beside the program and in a fresh current folder.
class PlantedLibraries {
  public:
    explicit PlantedLibraries(const std::wstring& name)
        : current_(folder_.path()),
          besideProgram_(test::TestDriverModule(), test::ThisProgramFolder() + L"\\" + name),
          inCurrentFolder_(test::TestDriverModule(), folder_.path() + L"\\" + name) {}
    bool placed() const { return besideProgram_.placed() && inCurrentFolder_.placed(); }

  private:
    test::TemporaryFolder folder_;
    test::CurrentFolder current_;
    test::PlantedFile besideProgram_;
    test::PlantedFile inCurrentFolder_;
};

// Loads a library for a check and unloads it again.
class Loaded {
  public:
    explicit Loaded(void* module) : module_(static_cast<HMODULE>(module)) {}
    ~Loaded() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

// Kept in one test: the restriction cannot be undone within the process.
TEST(DllSearchTest, SystemLibrariesComeOnlyFromTheSystemFolder) {
    ASSERT_EQ(GetModuleHandleW(L"winspool.drv"), nullptr) << "imported after all";
    const std::wstring system = SystemFolderPath();
    ASSERT_FALSE(system.empty());

    {
        // A planted library is loadable by bare name while nothing restricts the search...
        PlantedLibraries planted(L"tdeplanted1.dll");
        ASSERT_TRUE(planted.placed());
        Loaded plain(LoadLibraryW(L"tdeplanted1.dll"));
        ASSERT_NE(plain.get(), nullptr) << "the planted library should be reachable here";
        EXPECT_NE(GetProcAddress(plain.get(), "DrvDocumentPropertySheets"), nullptr);
    }
    {
        // ...but never through the loads that ask for the system folder.
        PlantedLibraries planted(L"tdeplanted2.dll");
        ASSERT_TRUE(planted.placed());
        SetLastError(0);
        Loaded searched(LoadSystemLibrary(L"tdeplanted2.dll"));
        EXPECT_EQ(searched.get(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        Loaded fullPath(LoadLibraryFromSystemFolder(L"tdeplanted2.dll"));
        EXPECT_EQ(fullPath.get(), nullptr);
    }
    {
        PlantedLibraries planted(L"winspool.drv");
        ASSERT_TRUE(planted.placed());
        Loaded winspool(LoadSystemLibrary(L"winspool.drv"));
        ASSERT_NE(winspool.get(), nullptr);
        EXPECT_TRUE(test::SamePath(test::FolderOf(ModulePath(winspool.get())), system))
            << test::FolderOf(ModulePath(winspool.get()));
        EXPECT_EQ(GetProcAddress(winspool.get(), "DrvDocumentPropertySheets"), nullptr);
        Loaded byPath(LoadLibraryFromSystemFolder(L"winspool.drv"));
        EXPECT_EQ(byPath.get(), winspool.get());
        // The spooler resolves every function, ordinal 204 included, from there.
        std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
        uint32_t needed = 0;
        uint32_t returned = 0;
        spooler->SetLastError(0);
        spooler->EnumPortsW(2, nullptr, 0, &needed, &returned);
        EXPECT_NE(spooler->LastError(), kErrorProcNotFound);
        EXPECT_NE(spooler->SetDefaultPrinterW(u"TDE No Such Queue") ||
                      spooler->LastError() != kErrorProcNotFound,
                  false);
    }

    // After the restriction at start-up even a bare name finds only the system folder.
    ASSERT_TRUE(RestrictDllSearchToSystemFolder());
    {
        PlantedLibraries planted(L"tdeplanted3.dll");
        ASSERT_TRUE(planted.placed());
        SetLastError(0);
        Loaded plain(LoadLibraryW(L"tdeplanted3.dll"));
        EXPECT_EQ(plain.get(), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        Loaded system32(LoadLibraryW(L"winspool.drv"));
        ASSERT_NE(system32.get(), nullptr);
        EXPECT_TRUE(test::SamePath(test::FolderOf(ModulePath(system32.get())), system));
    }
}

}  // namespace
}  // namespace tde
