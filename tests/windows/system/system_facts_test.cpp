// The raw system facts as Windows (here: Wine) reports them, checked against
// other calls that tell the same thing, and the version gates under each
// Windows version setting.
#include "system/system.h"

#include "support/wine_child.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

namespace tde {
namespace {

using testing_support::OutputValue;
using testing_support::RunChild;
using testing_support::ThisProgramFolder;

constexpr USHORT kMachineI386 = 0x014C;
constexpr USHORT kMachineAmd64 = 0x8664;
constexpr std::uint16_t kArchitectureIntel = 0;
constexpr std::uint16_t kArchitectureAmd64 = 9;

using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

IsWow64Process2Function FindIsWow64Process2() {
    return reinterpret_cast<IsWow64Process2Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process2")));
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

// Whether this process runs under WOW64, asked another way: only WOW64 has a
// folder of 32-bit system files beside the native one.
bool HasWow64SystemFolder() {
    wchar_t folder[MAX_PATH];
    SetLastError(0xdeadbeef);
    const UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
    if (length == 0) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    }
    return length != 0;
}

TEST(RawFacts, Wow64AgreesWithTheSystemWow64Folder) {
    const Win32SystemFacts facts;
    const std::optional<bool> wow64 = facts.QueryWow64();
    ASSERT_TRUE(wow64.has_value()) << "IsWow64Process failed";
    std::printf("IsWow64Process: %d\n", *wow64 ? 1 : 0);
    EXPECT_EQ(*wow64, HasWow64SystemFolder());
    EXPECT_EQ(IsRunningUnderWow64(facts), *wow64);
}

TEST(RawFacts, NativeMachineAgreesWithNativeSystemInfo) {
    const Win32SystemFacts facts;
    const std::uint16_t architecture = facts.QueryNativeProcessorArchitecture();
    std::printf("GetNativeSystemInfo wProcessorArchitecture: %u\n", architecture);

    IsWow64Process2Function isWow64Process2 = FindIsWow64Process2();
    const std::optional<std::uint16_t> machine = facts.QueryNativeMachine();
    if (isWow64Process2 == nullptr) {
        EXPECT_FALSE(machine.has_value());
        GTEST_SKIP() << "no IsWow64Process2 in kernel32";
    }
    ASSERT_TRUE(machine.has_value());
    std::printf("IsWow64Process2 native machine: 0x%04X\n", *machine);

    USHORT processMachine = 0xFFFF;
    USHORT nativeMachine = 0;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine));
    EXPECT_EQ(nativeMachine, *machine);
    // The process machine is I386 under WOW64 and "unknown" (0) otherwise.
    EXPECT_EQ(processMachine, HasWow64SystemFolder() ? kMachineI386 : 0);
    std::printf("IsWow64Process2 process machine: 0x%04X\n", processMachine);

    switch (*machine) {
        case kMachineAmd64:
            EXPECT_EQ(architecture, kArchitectureAmd64);
            break;
        case kMachineI386:
            EXPECT_EQ(architecture, kArchitectureIntel);
            break;
        case kMachineArm64:
            EXPECT_EQ(architecture, kProcessorArchitectureArm64);
            break;
        default:
            ADD_FAILURE() << "unexpected native machine " << *machine;
    }
    EXPECT_EQ(IsNativeArm64(facts), *machine == kMachineArm64);
}

TEST(Decisions, ArchitectureAndRadioForThisSystem) {
    const Win32SystemFacts facts;
    const bool wow64 = HasWow64SystemFolder();
    const InstallArchitecture architecture = DetectInstallArchitecture(facts);
    if (!wow64) {
        EXPECT_EQ(architecture, InstallArchitecture::X86);
        EXPECT_EQ(PreselectedSystemRadio(facts), SystemRadio::Bits32);
        return;
    }
    EXPECT_EQ(PreselectedSystemRadio(facts), SystemRadio::Bits64);
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    if (info.wProcessorArchitecture == kArchitectureAmd64) {
        EXPECT_EQ(architecture, InstallArchitecture::X64);
        EXPECT_EQ(ArchitectureFolderName(architecture), u"Driver64");
    } else if (info.wProcessorArchitecture == kProcessorArchitectureArm64) {
        EXPECT_EQ(architecture, InstallArchitecture::ARM64);
    }
}

TEST(Version, AgreesWithGetVersionAndDrivesTheGates) {
    const Win32SystemFacts facts;
    const std::optional<ReportedVersion> version = facts.QueryReportedVersion();
    ASSERT_TRUE(version.has_value()) << "GetVersionExW failed";
    std::printf("GetVersionExW: %u.%u build %u\n", version->major, version->minor, version->build);

    const DWORD packed = GetVersion();
    EXPECT_EQ(version->major, LOBYTE(LOWORD(packed)));
    EXPECT_EQ(version->minor, HIBYTE(LOWORD(packed)));
    EXPECT_EQ(version->build, HIWORD(packed));

    EXPECT_EQ(ReportsVistaOrLater(facts), version->major >= 6);
    EXPECT_EQ(ReportsWindows8OrLater(facts), version->major >= 6 && version->minor >= 2);
}

// ---- Under each Windows version setting ----

struct VersionSetting {
    const wchar_t* wineName;  // as winecfg /v takes it
    const char* reported;     // what a program without a supportedOS list is told
    bool vistaOrLater;
    bool windows8OrLater;
};

class UnderVersionSetting : public testing::TestWithParam<VersionSetting> {
  protected:
    void SetUp() override {
        if (!RunningUnderWine()) {
            GTEST_SKIP() << "the per-program version setting is Wine's";
        }
    }
    void TearDown() override {
        if (!keyPath_.empty()) {
            RegDeleteKeyW(HKEY_CURRENT_USER, keyPath_.c_str());
        }
        if (!copy_.empty()) {
            DeleteFileW(copy_.c_str());
        }
    }

    // Copies the probe under a name of its own and gives that name the version
    // setting, so no other program sharing the prefix sees a changed version.
    std::string RunProbe(const wchar_t* setting) {
        wchar_t temp[MAX_PATH];
        if (GetTempPathW(MAX_PATH, temp) == 0) {
            ADD_FAILURE() << "no temporary folder";
            return {};
        }
        const std::wstring name = std::wstring(L"tde_sysprobe_") + setting + L"_" +
                                  std::to_wstring(GetCurrentProcessId()) + L".exe";
        copy_ = std::wstring(temp) + name;
        const std::wstring probe = ThisProgramFolder() + L"tde_system_probe.exe";
        SetLastError(0xdeadbeef);
        if (!CopyFileW(probe.c_str(), copy_.c_str(), FALSE)) {
            ADD_FAILURE() << "copying the probe failed: " << GetLastError();
            copy_.clear();
            return {};
        }
        keyPath_ = L"Software\\Wine\\AppDefaults\\" + name;
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            ADD_FAILURE() << "RegCreateKeyExW: " << status;
            return {};
        }
        const std::wstring value = setting;
        status =
            RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        EXPECT_EQ(status, ERROR_SUCCESS);

        const testing_support::ChildResult run = RunChild(copy_, L"");
        EXPECT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0u);
        return run.output;
    }

  private:
    std::wstring keyPath_;
    std::wstring copy_;
};

TEST_P(UnderVersionSetting, ReportsTheVersionAndGates) {
    const VersionSetting& setting = GetParam();
    const std::string output = RunProbe(setting.wineName);
    std::printf("%ls: %s", setting.wineName, output.c_str());
    EXPECT_EQ(OutputValue(output, "version"), setting.reported);
    EXPECT_EQ(OutputValue(output, "vistaOrLater"), setting.vistaOrLater ? "1" : "0");
    EXPECT_EQ(OutputValue(output, "windows8OrLater"), setting.windows8OrLater ? "1" : "0");
    // The version setting does not change what the process runs on.
    const bool wow64 = HasWow64SystemFolder();
    EXPECT_EQ(OutputValue(output, "wow64"), wow64 ? "1" : "0");
    EXPECT_EQ(OutputValue(output, "radio"), wow64 ? "64" : "32");
}

INSTANTIATE_TEST_SUITE_P(Wine, UnderVersionSetting,
                         testing::Values(VersionSetting{L"winxp", "5.1", false, false},
                                         VersionSetting{L"vista", "6.0", true, false},
                                         VersionSetting{L"win7", "6.1", true, false},
                                         VersionSetting{L"win8", "6.2", true, true},
                                         VersionSetting{L"win81", "6.2", true, true},
                                         VersionSetting{L"win10", "6.2", true, true}),
                         [](const testing::TestParamInfo<VersionSetting>& info) {
                             std::wstring name = info.param.wineName;
                             return std::string(name.begin(), name.end());
                         });

}  // namespace
}  // namespace tde
