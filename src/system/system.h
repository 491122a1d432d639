// Facts about the running Windows that steer an installation: whether this
// 32-bit process runs under WOW64, the native processor architecture and the
// version Windows reports. The raw facts come from one small interface (the
// Win32 one, or a settable fake for tests); every decision is a pure function
// of them. Nothing is cached: every call asks again.
//
// On Windows: ReportsWindows8OrLater(Win32SystemFacts()), and so on; tests hand
// a FakeSystemFacts to the same functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tde {

// The architecture whose driver files are installed.
enum class InstallArchitecture { X86, X64, IA64, ARM64 };

// Name of the architecture's folder in the driver archive and in the staging
// folder: "Driver32", "Driver64", "IA64", "ARM64".
std::u16string_view ArchitectureFolderName(InstallArchitecture architecture);

// Values the raw facts are compared with.
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;    // PROCESSOR_ARCHITECTURE_IA64
inline constexpr std::uint16_t kProcessorArchitectureArm64 = 12;  // PROCESSOR_ARCHITECTURE_ARM64
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;            // IMAGE_FILE_MACHINE_ARM64

// Major and minor version as GetVersionExW reports them. A program without a
// supportedOS list in its manifest is told 6.2 on Windows 8 and later.
struct ReportedVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;  // informational only; no decision reads it
};

// The raw facts, each queried afresh on every call.
class SystemFacts {
  public:
    virtual ~SystemFacts() = default;
    // IsWow64Process on the current process; nullopt when the call fails.
    virtual std::optional<bool> QueryWow64() const = 0;
    // Native machine from IsWow64Process2; nullopt when the function is
    // missing or the call fails.
    virtual std::optional<std::uint16_t> QueryNativeMachine() const = 0;
    // wProcessorArchitecture of GetNativeSystemInfo.
    virtual std::uint16_t QueryNativeProcessorArchitecture() const = 0;
    // GetVersionExW; nullopt when the call fails.
    virtual std::optional<ReportedVersion> QueryReportedVersion() const = 0;
};

// Settable facts for tests; counts how often each fact was asked for.
class FakeSystemFacts : public SystemFacts {
  public:
    std::optional<bool> wow64;
    std::optional<std::uint16_t> nativeMachine;
    std::uint16_t nativeProcessorArchitecture = 0;
    std::optional<ReportedVersion> reportedVersion;

    mutable int wow64Queries = 0;
    mutable int nativeMachineQueries = 0;
    mutable int processorArchitectureQueries = 0;
    mutable int versionQueries = 0;

    std::optional<bool> QueryWow64() const override;
    std::optional<std::uint16_t> QueryNativeMachine() const override;
    std::uint16_t QueryNativeProcessorArchitecture() const override;
    std::optional<ReportedVersion> QueryReportedVersion() const override;
};

#ifdef _WIN32
// The facts of the running Windows (system_win32.cpp, target tde_system_win32).
class Win32SystemFacts : public SystemFacts {
  public:
    std::optional<bool> QueryWow64() const override;
    std::optional<std::uint16_t> QueryNativeMachine() const override;
    std::uint16_t QueryNativeProcessorArchitecture() const override;
    std::optional<ReportedVersion> QueryReportedVersion() const override;
};
#endif

// ---- Decisions over raw facts (pure) ----

// True only when IsWow64Process succeeded and said true.
bool IsRunningUnderWow64(std::optional<bool> wow64Result);
// True only when IsWow64Process2 was there, succeeded and named ARM64 as the
// native machine.
bool IsNativeArm64(std::optional<std::uint16_t> nativeMachine);
// Not under WOW64: X86. Otherwise ARM64 when the native machine says so, then by
// the native processor architecture: 6 IA64, 12 ARM64, anything else X64.
InstallArchitecture DecideInstallArchitecture(bool underWow64, bool nativeArm64,
                                              std::uint16_t nativeProcessorArchitecture);
// Reported major version at least 6; false when the version could not be read.
bool ReportsVistaOrLater(std::optional<ReportedVersion> version);
// Reported major at least 6 and minor at least 2, each compared on its own; true
// when the version could not be read, so the certificate step is not skipped.
bool ReportsWindows8OrLater(std::optional<ReportedVersion> version);

// The radio button the main dialog preselects: 64-bit (1003) under WOW64,
// otherwise 32-bit (1004). The installation never reads it.
enum class SystemRadio { Bits64, Bits32 };
SystemRadio PreselectedSystemRadio(bool underWow64);

// ---- The same decisions, asking the facts now ----

bool IsRunningUnderWow64(const SystemFacts& facts);
bool IsNativeArm64(const SystemFacts& facts);
// Asks for the processor architecture and the native machine only under WOW64.
InstallArchitecture DetectInstallArchitecture(const SystemFacts& facts);
bool ReportsVistaOrLater(const SystemFacts& facts);
bool ReportsWindows8OrLater(const SystemFacts& facts);
SystemRadio PreselectedSystemRadio(const SystemFacts& facts);

}  // namespace tde
