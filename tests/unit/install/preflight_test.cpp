// The check before an installation, on the in-memory fakes: each blocking
// problem on its own, the spooler start that works or not, and what each scope
// leaves out.
#include "archive/writer.h"
#include "base/fault_plan.h"
#include "spooler/memory_spooler.h"
#include "support/workflow_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace tde::test {
namespace {

using Kinds = std::vector<FindingKind>;

TEST(Preflight, EachProblemOnItsOwnAndTheSpoolerStartedAtMostOnce) {
    const auto stopped = [](WorkflowWorld& w, uint32_t startDelayMs) {
        w.services.services[0].state = kServiceStopped;
        w.services.services[0].startDelayMs = startDelayMs;
        w.spooler.FailCall(SpoolerOp::GetPrinterDriverDirectoryW, kErrorRpcServerUnavailable);
    };
    struct Row {
        const char* name;
        std::function<void(WorkflowWorld&)> set;
        CheckScope scope;
        Kinds found;
        size_t starts = 0;
    };
    const Row rows[] = {
        {"all clear",
         [](WorkflowWorld& w) { w.checks.protectedPrintPolicy = 0; },
         CheckScope::Install,
         {}},
        {"spooler stopped, starts",
         [&](WorkflowWorld& w) { stopped(w, 2000); },
         CheckScope::Install,
         {},
         1},
        {"spooler stopped, never starts",
         [&](WorkflowWorld& w) { stopped(w, MemoryServiceControl::kNever); },
         CheckScope::Install,
         {FindingKind::SpoolerUnreachable},
         1},
        {"spooler running but unreachable",
         [](WorkflowWorld& w) {
             w.spooler.FailCall(SpoolerOp::GetPrinterDriverDirectoryW, 5,
                                MemorySpooler::kEveryCall);
         },
         CheckScope::Install,
         {FindingKind::SpoolerUnreachable}},
        {"spooler disabled",
         [&](WorkflowWorld& w) {
             stopped(w, 0);
             w.checks.startType = kServiceDisabled;
         },
         CheckScope::Install,
         {FindingKind::SpoolerDisabled}},
        {"spooler stopped, /check starts nothing",
         [&](WorkflowWorld& w) { stopped(w, 0); },
         CheckScope::Report,
         {FindingKind::SpoolerStopped}},
        {"protected print",
         [](WorkflowWorld& w) { w.checks.protectedPrintPolicy = 1; },
         CheckScope::Install,
         {FindingKind::ProtectedPrint}},
        {"not elevated",
         [](WorkflowWorld& w) { w.checks.elevated = false; },
         CheckScope::Install,
         {FindingKind::NotElevated}},
        {"damaged item",
         [](WorkflowWorld& w) { w.checks.damagedItems = {u"driver\\pos\\Driver64\\ZNWA4UIV.dll"}; },
         CheckScope::Install,
         {FindingKind::PayloadDamaged}},
        {"little space on the driver directory's drive",
         [](WorkflowWorld& w) {
             w.shell.programFilesFolder = u"D:\\Programs";
             w.checks.lowDrive = u"C:";
         },
         CheckScope::Install,
         {FindingKind::LowDiskSpace}},
        {"a removal minds only spooler and elevation",
         [](WorkflowWorld& w) {
             w.checks.protectedPrintPolicy = 1;
             w.checks.damagedItems = {u"driver\\pos\\ZNWA4V.gpd"};
             w.checks.lowDrive = u"C:";
             w.checks.elevated = false;
         },
         CheckScope::Removal,
         {FindingKind::NotElevated}},
        {"ARM64 is a note of /check",
         [](WorkflowWorld& w) { w.facts.nativeMachine = kMachineArm64; },
         CheckScope::Report,
         {FindingKind::Arm64WithoutModules}},
        {"ARM64 does not stop an install",
         [](WorkflowWorld& w) { w.facts.nativeMachine = kMachineArm64; },
         CheckScope::Install,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkflowWorld world;
        world.AddEarlierInstallation();
        row.set(world);
        CheckPlatform platform{world.spooler, world.services, world.clock,
                               world.shell,   world.facts,    world.checks};
        const PrinterModel& model = world.catalogue.models[0];
        const std::vector<Finding> findings =
            RunPreflight(platform, model, u"ZNWA4V.gpd", row.scope);
        Kinds kinds;
        for (const Finding& finding : findings) {
            kinds.push_back(finding.kind);
            EXPECT_EQ(finding.blocking, finding.kind != FindingKind::SpoolerStopped &&
                                            finding.kind != FindingKind::Arm64WithoutModules);
        }
        EXPECT_EQ(kinds, row.found);
        EXPECT_EQ(world.services.CallCount(ServiceOp::StartServiceW), row.starts);
        EXPECT_EQ(world.services.OpenHandleCount(), 0u);
        EXPECT_EQ(world.spooler.FindQueue(u"Shop A4") != nullptr, true);  // nothing removed
        // A removal reads no archive item; otherwise each item the run extracts, once.
        ASSERT_EQ(world.checks.verified.size(), row.scope == CheckScope::Removal ? 0u : 1u);
        for (const std::vector<std::u16string>& items : world.checks.verified) {
            EXPECT_EQ(std::set<std::u16string>(items.begin(), items.end()).size(), items.size());
            EXPECT_EQ(items.size(), 23u);  // 18 modules, 5 root items; the driver items among them
        }
    }
}

TEST(Preflight, TheArchivePassFindsMissingAndDamagedItems) {
    std::vector<ArchiveWriterItem> items(2);
    items[0].name = "driver/a.dll";
    items[1].name = "driver/b.dll";
    for (ArchiveWriterItem& item : items) {
        item.data.assign(300, 0x41);
        item.method = 0;
        item.encrypt = false;
    }
    WrittenArchive archive;
    std::string error;
    ASSERT_TRUE(WriteArchive(items, {}, archive, error)) << error;
    archive.bytes[archive.items[1].dataOffset + 7] ^= 0x01;
    ArchiveReader* reader = nullptr;
    ASSERT_EQ(OpenFromMemory(archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()),
                             nullptr, reader),
              ArchiveStatus::Ok);
    const PayloadCheck check =
        VerifyArchiveItems(reader, {u"driver\\A.dll", u"driver\\b.dll", u"driver\\c.dll"});
    Close(reader);
    EXPECT_THAT(check.damaged, testing::ElementsAre(u"driver\\c.dll", u"driver\\b.dll"));
}

TEST(Preflight, ARefusedDriverNamesProtectedPrintFrom24H2On) {
    for (const uint32_t build : {22631u, 26100u}) {
        WorkflowWorld world;
        world.checks.build = build;
        world.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, 5, MemorySpooler::kEveryCall);
        world.spooler.packageFunctionsPresent = false;
        EXPECT_EQ(world.Run(), InstallOutcome::DriverNotInstalled);
        ASSERT_EQ(world.recorder.tips.size(), 1u);
        EXPECT_EQ(
            world.recorder.tips[0].find(u"tip.check.protectedprinthint") != std::u16string::npos,
            build >= 26100);
    }
}

}  // namespace
}  // namespace tde::test
