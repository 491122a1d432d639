// The check before an installation, on the in-memory fakes: each blocking
// problem on its own, the spooler start that works or not, and what each scope
// leaves out.
#include "archive/writer.h"
#include "workflow_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

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
        if (row.scope == CheckScope::Removal) {
            EXPECT_TRUE(world.checks.verified.empty());
        }
    }
}

TEST(Preflight, TheRunsItemsAreReadOnceAndFindingsNameWhatToFix) {
    WorkflowWorld world;
    world.texts.LoadLanguageFile(
        u"<L><Text id=\"tip.check.damaged\" value=\"damaged: %s\"/>"
        u"<Text id=\"tip.check.diskspace\" value=\"drive %s needs %s MB\"/></L>");
    world.checks.damagedItems = {u"driver\\pos\\ZNWA4V.gpd"};
    world.checks.itemBytes = 1048576;
    world.checks.lowDrive = u"C:";
    CheckPlatform platform{world.spooler, world.services, world.clock,
                           world.shell,   world.facts,    world.checks};
    const PrinterModel& model = world.catalogue.models[0];
    const std::vector<Finding> findings =
        RunPreflight(platform, model, u"ZNWA4V.gpd", CheckScope::Install);
    ASSERT_EQ(world.checks.verified.size(), 1u);
    const std::vector<std::u16string>& items = world.checks.verified[0];
    for (const std::u16string& item : model.x64DriverItems) {
        EXPECT_EQ(std::count(items.begin(), items.end(), item), 1) << Narrow(item);
    }
    std::vector<std::u16string> texts;
    for (const Finding& finding : findings) {
        texts.push_back(FindingText(world.texts, finding));
    }
    const std::string megabytes = std::to_string(2 * (items.size() - 1));
    EXPECT_THAT(texts, testing::ElementsAre(u"damaged: driver\\pos\\ZNWA4V.gpd",
                                            u"drive C: needs " +
                                                std::u16string(megabytes.begin(), megabytes.end()) +
                                                u" MB"));
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
