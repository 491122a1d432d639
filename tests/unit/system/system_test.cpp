// Every row of the architecture and version decision tables, over faked facts.
#include "system/system.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace tde {
namespace {

constexpr std::uint16_t kIntel = 0;         // PROCESSOR_ARCHITECTURE_INTEL
constexpr std::uint16_t kAmd64 = 9;         // PROCESSOR_ARCHITECTURE_AMD64
constexpr std::uint16_t kUnknown = 0xFFFF;  // PROCESSOR_ARCHITECTURE_UNKNOWN
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineI386 = 0x014C;

TEST(ArchitectureFolderName, NamesTheArchiveFolderOfEachArchitecture) {
    EXPECT_EQ(ArchitectureFolderName(InstallArchitecture::X86), u"Driver32");
    EXPECT_EQ(ArchitectureFolderName(InstallArchitecture::X64), u"Driver64");
    EXPECT_EQ(ArchitectureFolderName(InstallArchitecture::IA64), u"IA64");
    EXPECT_EQ(ArchitectureFolderName(InstallArchitecture::ARM64), u"ARM64");
}

TEST(RawFactDecisions, Wow64OnlyWhenTheCallSucceededAndSaidSo) {
    EXPECT_TRUE(IsRunningUnderWow64(std::optional<bool>(true)));
    EXPECT_FALSE(IsRunningUnderWow64(std::optional<bool>(false)));
    EXPECT_FALSE(IsRunningUnderWow64(std::optional<bool>()));  // IsWow64Process failed
}

TEST(RawFactDecisions, NativeArm64OnlyFromTheArm64MachineCode) {
    EXPECT_TRUE(IsNativeArm64(std::optional<std::uint16_t>(0xAA64)));
    EXPECT_FALSE(IsNativeArm64(std::optional<std::uint16_t>(kMachineAmd64)));
    EXPECT_FALSE(IsNativeArm64(std::optional<std::uint16_t>(kMachineI386)));
    EXPECT_FALSE(IsNativeArm64(std::optional<std::uint16_t>(0)));
    EXPECT_FALSE(IsNativeArm64(std::optional<std::uint16_t>()));  // missing or failed
}

TEST(DecideInstallArchitecture, NotUnderWow64IsAlwaysX86) {
    for (std::uint16_t arch :
         {kIntel, kAmd64, kProcessorArchitectureIa64, kProcessorArchitectureArm64, kUnknown}) {
        SCOPED_TRACE(arch);
        EXPECT_EQ(DecideInstallArchitecture(false, false, arch), InstallArchitecture::X86);
        EXPECT_EQ(DecideInstallArchitecture(false, true, arch), InstallArchitecture::X86);
    }
}

TEST(DecideInstallArchitecture, UnderWow64ByNativeMachineThenProcessorArchitecture) {
    EXPECT_EQ(DecideInstallArchitecture(true, false, kAmd64), InstallArchitecture::X64);
    EXPECT_EQ(DecideInstallArchitecture(true, false, kProcessorArchitectureIa64),
              InstallArchitecture::IA64);
    EXPECT_EQ(DecideInstallArchitecture(true, false, kProcessorArchitectureArm64),
              InstallArchitecture::ARM64);
    // The native machine wins over whatever the processor architecture says.
    EXPECT_EQ(DecideInstallArchitecture(true, true, kAmd64), InstallArchitecture::ARM64);
    EXPECT_EQ(DecideInstallArchitecture(true, true, kProcessorArchitectureIa64),
              InstallArchitecture::ARM64);
    // Any 64-bit system not recognised otherwise installs the x64 files.
    for (std::uint16_t arch : {kIntel, std::uint16_t{5}, std::uint16_t{7}, std::uint16_t{11},
                               std::uint16_t{13}, kUnknown}) {
        SCOPED_TRACE(arch);
        EXPECT_EQ(DecideInstallArchitecture(true, false, arch), InstallArchitecture::X64);
    }
}

TEST(VersionGates, EveryRowOfTheTable) {
    struct Row {
        std::optional<ReportedVersion> version;
        bool vista;
        bool windows8;
    };
    const Row rows[] = {
        {ReportedVersion{5, 0}, false, false}, {ReportedVersion{5, 1}, false, false},
        {ReportedVersion{5, 2}, false, false},  // major below 6 fails both gates
        {ReportedVersion{6, 0}, true, false},  {ReportedVersion{6, 1}, true, false},
        {ReportedVersion{6, 2}, true, true},   {ReportedVersion{6, 3}, true, true},
        {std::nullopt, false, true},  // GetVersionExW failed: certificate step still runs
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version ? row.version->major * 10 + row.version->minor : -1);
        EXPECT_EQ(ReportsVistaOrLater(row.version), row.vista);
        EXPECT_EQ(ReportsWindows8OrLater(row.version), row.windows8);
    }
}

TEST(VersionGates, MajorAndMinorAreComparedEachOnItsOwn) {
    // Never seen by the installer, whose manifest keeps Windows 8 and later at
    // 6.2; a manifest that lists Windows 10 would make 10.0 fail this gate.
    EXPECT_FALSE(ReportsWindows8OrLater(ReportedVersion{10, 0}));
    EXPECT_TRUE(ReportsVistaOrLater(ReportedVersion{10, 0}));
    EXPECT_FALSE(ReportsWindows8OrLater(ReportedVersion{4, 10}));
}

TEST(RadioPreselection, SixtyFourBitUnderWow64ElseThirtyTwoBit) {
    EXPECT_EQ(PreselectedSystemRadio(true), SystemRadio::Bits64);
    EXPECT_EQ(PreselectedSystemRadio(false), SystemRadio::Bits32);
}

// ---- The same decisions over the faked facts, as the dialog and workflow ask ----

struct SystemCase {
    const char* name;
    std::optional<bool> wow64;
    std::optional<std::uint16_t> nativeMachine;
    std::uint16_t processorArchitecture;
    InstallArchitecture expected;
    SystemRadio radio;
};

class DetectOnSystem : public testing::TestWithParam<SystemCase> {};

TEST_P(DetectOnSystem, PicksTheArchitectureAndRadio) {
    const SystemCase& c = GetParam();
    FakeSystemFacts facts;
    facts.wow64 = c.wow64;
    facts.nativeMachine = c.nativeMachine;
    facts.nativeProcessorArchitecture = c.processorArchitecture;
    EXPECT_EQ(DetectInstallArchitecture(facts), c.expected);
    EXPECT_EQ(PreselectedSystemRadio(facts), c.radio);
    const bool underWow64 = c.wow64.value_or(false);
    // A 32-bit system never has its native information read.
    EXPECT_EQ(facts.processorArchitectureQueries, underWow64 ? 1 : 0);
    EXPECT_EQ(facts.nativeMachineQueries, underWow64 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, DetectOnSystem,
    testing::Values(SystemCase{"Windows32", false, std::nullopt, kIntel, InstallArchitecture::X86,
                               SystemRadio::Bits32},
                    SystemCase{"Wow64CallFails", std::nullopt, kMachineAmd64, kAmd64,
                               InstallArchitecture::X86, SystemRadio::Bits32},
                    SystemCase{"X64WithoutIsWow64Process2", true, std::nullopt, kAmd64,
                               InstallArchitecture::X64, SystemRadio::Bits64},
                    SystemCase{"X64WithIsWow64Process2", true, kMachineAmd64, kAmd64,
                               InstallArchitecture::X64, SystemRadio::Bits64},
                    SystemCase{"Itanium", true, std::nullopt, kProcessorArchitectureIa64,
                               InstallArchitecture::IA64, SystemRadio::Bits64},
                    SystemCase{"Arm64WithIsWow64Process2", true, kMachineArm64, kIntel,
                               InstallArchitecture::ARM64, SystemRadio::Bits64},
                    SystemCase{"Arm64WithoutIsWow64Process2", true, std::nullopt,
                               kProcessorArchitectureArm64, InstallArchitecture::ARM64,
                               SystemRadio::Bits64},
                    SystemCase{"Arm64ReportingX64Emulation", true, kMachineArm64, kAmd64,
                               InstallArchitecture::ARM64, SystemRadio::Bits64},
                    SystemCase{"Unrecognised64Bit", true, std::nullopt, kUnknown,
                               InstallArchitecture::X64, SystemRadio::Bits64}),
    [](const testing::TestParamInfo<SystemCase>& info) { return std::string(info.param.name); });

TEST(FactsAreNotCached, EveryDecisionAsksAgainAndSeesChanges) {
    FakeSystemFacts facts;
    facts.wow64 = false;
    facts.reportedVersion = ReportedVersion{6, 1};
    EXPECT_EQ(DetectInstallArchitecture(facts), InstallArchitecture::X86);
    EXPECT_FALSE(ReportsWindows8OrLater(facts));
    EXPECT_TRUE(ReportsVistaOrLater(facts));

    facts.wow64 = true;
    facts.nativeProcessorArchitecture = kProcessorArchitectureIa64;
    facts.reportedVersion = ReportedVersion{6, 2};
    EXPECT_EQ(DetectInstallArchitecture(facts), InstallArchitecture::IA64);
    EXPECT_TRUE(ReportsWindows8OrLater(facts));
    EXPECT_TRUE(IsRunningUnderWow64(facts));

    facts.reportedVersion.reset();
    EXPECT_FALSE(ReportsVistaOrLater(facts));
    EXPECT_TRUE(ReportsWindows8OrLater(facts));

    EXPECT_EQ(facts.wow64Queries, 3);
    EXPECT_EQ(facts.versionQueries, 5);
}

}  // namespace
}  // namespace tde
