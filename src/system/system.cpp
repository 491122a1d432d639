#include "system/system.h"

namespace tde {

std::u16string_view ArchitectureFolderName(InstallArchitecture architecture) {
    switch (architecture) {
        case InstallArchitecture::X86:
            return u"Driver32";
        case InstallArchitecture::X64:
            return u"Driver64";
        case InstallArchitecture::IA64:
            return u"IA64";
        case InstallArchitecture::ARM64:
            return u"ARM64";
    }
    return u"Driver64";  // not reached: every enumerator is handled above
}

std::optional<bool> FakeSystemFacts::QueryWow64() const {
    ++wow64Queries;
    return wow64;
}

std::optional<std::uint16_t> FakeSystemFacts::QueryNativeMachine() const {
    ++nativeMachineQueries;
    return nativeMachine;
}

std::uint16_t FakeSystemFacts::QueryNativeProcessorArchitecture() const {
    ++processorArchitectureQueries;
    return nativeProcessorArchitecture;
}

std::optional<ReportedVersion> FakeSystemFacts::QueryReportedVersion() const {
    ++versionQueries;
    return reportedVersion;
}

bool IsRunningUnderWow64(std::optional<bool> wow64Result) {
    return wow64Result.value_or(false);
}

bool IsNativeArm64(std::optional<std::uint16_t> nativeMachine) {
    return nativeMachine.has_value() && *nativeMachine == kMachineArm64;
}

InstallArchitecture DecideInstallArchitecture(bool underWow64, bool nativeArm64,
                                              std::uint16_t nativeProcessorArchitecture) {
    if (!underWow64) {
        return InstallArchitecture::X86;
    }
    if (nativeArm64) {
        return InstallArchitecture::ARM64;
    }
    switch (nativeProcessorArchitecture) {
        case kProcessorArchitectureIa64:
            return InstallArchitecture::IA64;
        case kProcessorArchitectureArm64:
            return InstallArchitecture::ARM64;
        default:
            return InstallArchitecture::X64;
    }
}

bool ReportsVistaOrLater(std::optional<ReportedVersion> version) {
    return version.has_value() && version->major >= 6;
}

bool ReportsWindows8OrLater(std::optional<ReportedVersion> version) {
    if (!version.has_value()) {
        return true;
    }
    return version->major >= 6 && version->minor >= 2;
}

SystemRadio PreselectedSystemRadio(bool underWow64) {
    return underWow64 ? SystemRadio::Bits64 : SystemRadio::Bits32;
}

bool IsRunningUnderWow64(const SystemFacts& facts) {
    return IsRunningUnderWow64(facts.QueryWow64());
}

bool IsNativeArm64(const SystemFacts& facts) {
    return IsNativeArm64(facts.QueryNativeMachine());
}

InstallArchitecture DetectInstallArchitecture(const SystemFacts& facts) {
    if (!IsRunningUnderWow64(facts)) {
        return InstallArchitecture::X86;
    }
    const std::uint16_t processorArchitecture = facts.QueryNativeProcessorArchitecture();
    return DecideInstallArchitecture(true, IsNativeArm64(facts), processorArchitecture);
}

bool ReportsVistaOrLater(const SystemFacts& facts) {
    return ReportsVistaOrLater(facts.QueryReportedVersion());
}

bool ReportsWindows8OrLater(const SystemFacts& facts) {
    return ReportsWindows8OrLater(facts.QueryReportedVersion());
}

SystemRadio PreselectedSystemRadio(const SystemFacts& facts) {
    return PreselectedSystemRadio(IsRunningUnderWow64(facts));
}

}  // namespace tde
