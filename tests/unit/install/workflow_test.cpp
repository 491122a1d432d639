// The cases of a run most likely to hide a fault, on the in-memory fakes.
#include "support/workflow_fixture.h"
#include "spooler/memory_spooler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tde::test {
namespace {

using testing::ElementsAre;

TEST(Workflow, ACleanRunRegistersTheDriverRecordAndCreatesTheQueueOnThePort) {
    WorkflowWorld world;
    world.AddEarlierInstallation();
    ASSERT_EQ(world.Run(0, u"USB001", 1), InstallOutcome::QueueCreated);

    const MemorySpooler::Driver* driver = world.spooler.FindDriver(u"A4 Printer");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->version, 3u);
    EXPECT_EQ(driver->mfgName, u"ZNW");
    EXPECT_EQ(driver->provider, u"ZNW");
    EXPECT_EQ(driver->driverVersion, world.clock.CurrentFileTime());
    EXPECT_EQ(driver->driverPath, u"ZNWA4UNIV.dll");
    EXPECT_EQ(driver->configFile, u"ZNWA4UIV.dll");
    EXPECT_EQ(driver->dataFile, u"ZNWA4V.gpd");
    EXPECT_EQ(driver->helpFile, u"znwa4.hlp");
    EXPECT_THAT(driver->dependentFiles,
                ElementsAre(u"ZNWA4UIV.dll", u"ZNWA4UNIV.dll", u"znwa4.hlp", u"ZNWA4V.gpd"));
    // The x64 modules, not the 32-bit ones, went to the driver directory.
    const MemoryStagingFiles::Node* module =
        world.files.Find(std::u16string(kDriverDirectory) + u"\\ZNWA4UIV.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->content, "driver\\pos\\Driver64\\ZNWA4UIV.dll");

    const MemorySpooler::Queue* queue = world.spooler.FindQueue(u"A4 Printer");
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->port, u"USB001");
    EXPECT_EQ(queue->printProcessor, u"WinPrint");
    EXPECT_EQ(world.spooler.defaultPrinter, u"A4 Printer");
    EXPECT_EQ(world.spooler.FindQueue(u"Shop A4"), nullptr);  // another name, same driver

    // certutil by full path, hidden, waited for; then the properties window.
    ASSERT_EQ(world.shell.starts.size(), 2u);
    const ShellRequest& certutil = world.shell.starts[0].request;
    EXPECT_TRUE(world.shell.starts[0].waited);
    EXPECT_EQ(certutil.file, u"C:\\Windows\\system32\\certutil.exe");
    EXPECT_EQ(certutil.creationFlags, kCreateNoWindow);
    EXPECT_EQ(certutil.show, kSwHide);
    EXPECT_EQ(certutil.parameters,
              u"-addstore \"TrustedPublisher\" \"" + std::u16string(kStaging) + u"znw.cer\"");
    EXPECT_EQ(world.shell.starts[1].request.file, u"C:\\Windows\\system32\\rundll32.exe");
    EXPECT_FALSE(world.StagingExists());
    EXPECT_NE(world.files.Find(u"C:\\Program Files (x86)\\ZNWDriver"), nullptr);  // kept
}

TEST(Workflow, AQueueOfTheModelsNameOnAnotherDriverIsRePortedAndTheDefaultLeftAlone) {
    WorkflowWorld world;
    world.spooler.drivers.push_back({.name = u"Generic"});
    world.spooler.drivers.push_back({.name = u"a4 printer"});  // differs only in case
    world.spooler.queues.push_back(
        {.name = u"A4 Printer", .port = u"USB001", .driver = u"Generic"});
    world.spooler.defaultPrinter = u"Other";

    EXPECT_EQ(world.Run(0, u"LPT1:", 1), InstallOutcome::QueueReported);
    EXPECT_EQ(world.spooler.CallCount(SpoolerOp::DeletePrinterDriverExW), 0u);
    EXPECT_EQ(world.spooler.CallCount(SpoolerOp::DeletePrinter), 0u);
    EXPECT_EQ(world.spooler.FindQueue(u"A4 Printer")->port, u"LPT1:");
    EXPECT_EQ(world.spooler.FindQueue(u"A4 Printer")->driver, u"Generic");
    EXPECT_EQ(world.spooler.defaultPrinter, u"Other");
    EXPECT_EQ(world.recorder.lines.back(),
              u"The printer(A4 Printer) installed,try to modify the port(LPT1:)");
    ASSERT_FALSE(world.shell.starts.empty());  // and its properties window opens
    EXPECT_EQ(world.shell.starts.back().request.parameters,
              u" printui.dll, PrintUIEntry /p /n\"A4 Printer\" ");
}

TEST(Workflow, ARefusedRePortIsLoggedWithItsCodeAndTheLogKept) {
    WorkflowWorld world;
    world.spooler.drivers.push_back({.name = u"Generic"});
    world.spooler.queues.push_back(
        {.name = u"A4 Printer", .port = u"USB001", .driver = u"Generic"});
    world.spooler.FailCall(SpoolerOp::SetPrinterW, kErrorAccessDenied);
    EXPECT_EQ(world.Run(0, u"LPT1:", 1), InstallOutcome::QueueNotReported);
    EXPECT_EQ(world.recorder.lines.back(),
              u"The port of the printer(A4 Printer) was not changed to LPT1:: Code:5--->m5\r\n");
    EXPECT_THAT(world.recorder.events, testing::Contains(u"keep"));
}

TEST(Workflow, ACaseVariantDriverThatRefusesRegistrationStillCountsAsInstalled) {
    WorkflowWorld world;
    world.spooler.drivers.push_back({.name = u"A4 PRINTER"});
    // Refused without an error of its own, after enumerations that left 122.
    world.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, MemorySpooler::kLeaveLastError);
    EXPECT_EQ(world.Run(), InstallOutcome::QueueCreated);
    EXPECT_EQ(world.spooler.CallCount(SpoolerOp::DeletePrinterDriverExW), 0u);
    EXPECT_EQ(world.spooler.CallCount(SpoolerOp::UploadPrinterDriverPackageW), 0u);
    EXPECT_EQ(world.recorder.lines[1],
              u"\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0CCode:1287--->m1287\r\n");
}

TEST(Workflow, NoSelectionOrAnIndexOutOfRangeInstallsTheFirstModel) {
    WorkflowWorld world;
    for (int index : {-1, int(world.catalogue.models.size()), 1000}) {
        InstallRequest request = MakeInstallRequest(world.catalogue, index, u"", 0);
        EXPECT_EQ(request.model.driverName, u"A4 Printer");
        EXPECT_EQ(request.model.queueName, u"A4 Printer");
        EXPECT_EQ(request.dataFile, u"ZNWA4V.gpd");
        EXPECT_EQ(request.model.makeDefault, 0);
    }
    InstallRequest third = MakeInstallRequest(world.catalogue, 2, u"COM1:", 2);  // indeterminate
    EXPECT_EQ(third.model.driverName, u"4In Printer");
    EXPECT_EQ(third.model.driverFile, u"ZNWA6UNIV.dll");
    EXPECT_EQ(third.model.portName, u"COM1:");
    EXPECT_EQ(third.model.makeDefault, 1);
}

TEST(Workflow, OnlyWindows8AndLaterRunTheCertificateStep) {
    struct Case {
        std::optional<ReportedVersion> version;
        bool certutil;
    };
    const Case cases[] = {{ReportedVersion{5, 1}, false},
                          {ReportedVersion{6, 0}, false},
                          {ReportedVersion{6, 1}, false},
                          {ReportedVersion{6, 2}, true},
                          {ReportedVersion{10, 0}, false},  // minor 0: compared on its own
                          {std::nullopt, true}};
    for (const Case& c : cases) {
        WorkflowWorld world;
        world.facts.reportedVersion = c.version;
        world.Run();
        bool ranCertutil = false;
        for (const auto& start : world.shell.starts) {
            ranCertutil |= start.request.file.ends_with(u"certutil.exe");
        }
        EXPECT_EQ(ranCertutil, c.certutil)
            << (c.version ? c.version->major : 0) << "." << (c.version ? c.version->minor : 0);
    }
}

TEST(Workflow, WithoutASystemFolderNeitherCertutilNorRundll32Starts) {
    WorkflowWorld world;
    world.shell.systemFolder.clear();
    EXPECT_EQ(world.Run(), InstallOutcome::QueueCreated);
    EXPECT_TRUE(world.shell.starts.empty());
}

TEST(Workflow, WithoutAProgramFilesFolderTheFilesAreStagedOnDriveC) {
    WorkflowWorld world;
    world.shell.programFilesFolder.clear();
    world.files.AddFolder(u"C:");
    EXPECT_EQ(world.Run(), InstallOutcome::QueueCreated);
    EXPECT_EQ(world.shell.starts.at(0).request.parameters,
              u"-addstore \"TrustedPublisher\" \"C:\\ZNWDriver\\DovEzuvar\\znw.cer\"");
    EXPECT_EQ(world.files.Find(u"C:\\ZNWDriver\\DovEzuvar"), nullptr);
}

TEST(Workflow, OnArm64OnlyTheGpdIsCopiedAndDependentFilesHoldsJustIt) {
    WorkflowWorld world;
    world.facts.nativeMachine = kMachineArm64;
    std::u16string dependent = u"stale";
    auto failures =
        CopyDriverFiles(world.spooler, world.files, world.catalogue.models[0], u"ZNWA4V.gpd",
                        DetectInstallArchitecture(world.facts), dependent);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(dependent, std::u16string(u"ZNWA4V.gpd\0\0", 12));
}

// Two records of the model's driver name: the earlier one's package is the one
// removed, never the later one's.
TEST(Workflow, TheFirstOfTwoSameNamedDriverRecordsNamesThePackageRemoved) {
    WorkflowWorld world;
    world.AddEarlierInstallation();
    const std::u16string first = world.spooler.drivers[0].infPath;
    MemorySpooler::Driver later = world.spooler.drivers[0];
    later.infPath = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\later\\ZNWA4V.inf";
    world.spooler.drivers.push_back(later);
    world.Run();
    std::vector<std::u16string> removed;
    for (const SpoolerCall& call : world.spooler.Calls()) {
        if (call.op == SpoolerOp::DeletePrinterDriverPackageW) {
            removed.push_back(call.name);
        }
    }
    EXPECT_EQ(removed, std::vector<std::u16string>{first});
}

TEST(Workflow, ConnectionsAreDisconnectedAndLocalQueuesDeleted) {
    WorkflowWorld world;
    world.AddEarlierInstallation();
    world.spooler.queues.push_back(
        {.name = u"\\\\server\\A4", .port = u"", .driver = u"A4 Printer", .connection = true});
    world.Run();
    EXPECT_EQ(world.spooler.FindQueue(u"\\\\server\\A4"), nullptr);
    size_t disconnects = 0;
    for (const SpoolerCall& call : world.spooler.Calls()) {
        if (call.op == SpoolerOp::DeletePrinterConnectionW) {
            ++disconnects;
            EXPECT_EQ(call.name, u"\\\\server\\A4");
        }
        if (call.op == SpoolerOp::OpenPrinterW) {
            EXPECT_FALSE(call.name.starts_with(u"\\\\"));
        }
    }
    EXPECT_EQ(disconnects, 1u);
}

TEST(Workflow, ErrorTextsKeepTheirCodeAndArchiveFailuresSetADefiniteOne) {
    WorkflowWorld world;
    EXPECT_EQ(SystemErrorText(world.messages, FakeMessages::kNoMessage), u"Code:9999--->");
    EXPECT_EQ(SystemErrorText(world.messages, 0), u"Code:0--->m0\r\n");

    world.files.brokenItems.push_back(u"driver\\pos\\Driver64\\ZNWA6UIV.dll");
    world.Run();
    EXPECT_THAT(world.recorder.tips, ElementsAre(u"copy failed: Code:13--->m13\r\n"));

    WorkflowWorld missing;
    missing.files.archive.erase(MemoryStagingFiles::Normalise(u"driver\\pos\\znw.cer"));
    missing.Run();
    EXPECT_THAT(missing.recorder.tips, ElementsAre(u"copy failed: Code:2--->m2\r\n"));
    EXPECT_FALSE(missing.StagingExists());
}

TEST(Workflow, AStagingFolderAnotherUserCanChangeIsRefusedAndLeftAlone) {
    struct Case {
        const char* what;
        std::function<void(MemoryStagingFiles&)> plant;
        std::u16string reported;
        std::u16string why;
    };
    const std::u16string parent = u"C:\\Program Files (x86)\\ZNWDriver";
    const std::u16string owner = u"its owner is not Administrators, SYSTEM or TrustedInstaller";
    const std::u16string link = u"it is a link";
    const Case cases[] = {
        {"foreign parent", [&](auto& f) { f.AddFolder(parent, u"mallory"); }, parent, owner},
        // The user's own SID, as the token's default owner may be, is no better.
        {"parent of the user", [&](auto& f) { f.AddFolder(parent, u"setup"); }, parent, owner},
        {"parent others may write", [&](auto& f) { f.AddFolder(parent, u"Administrators", true); },
         parent, u"its permissions let other users write to it"},
        {"parent is a file", [&](auto& f) { f.AddFile(parent, "x"); }, parent, u"it is a file"},
        {"linked parent", [&](auto& f) { f.AddLink(parent, u"C:\\Users\\setup", true); }, parent,
         link},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkflowWorld world;
        world.files.AddFile(u"C:\\Users\\setup\\precious.txt", "mine");
        c.plant(world.files);
        const auto before = world.files.Paths();
        EXPECT_EQ(world.Run(), InstallOutcome::StagingNotCreated);
        EXPECT_THAT(
            world.recorder.events,
            ElementsAre(u"button:off", u"log:Start install", u"tip:Failed to create directory",
                        u"log:Failed to create directory\uFF0Cpath=" + c.reported,
                        u"log:The folder " + c.reported + u" is refused: " + c.why, u"keep",
                        u"button:on"));
        // Nothing was unpacked and nothing removed: the tree is as it was.
        EXPECT_EQ(world.files.Paths(), before);
        EXPECT_EQ(world.files.CallCount(FileOp::ExtractArchiveItem), 0u);
    }
}

TEST(Workflow, AFailedCreationUnderAnUnjudgedParentRemovesNothingByName) {
    // "ZNWDriver" is absent when judged; a link to nowhere appears before it is made.
    WorkflowWorld world;
    world.files.beforeFirstCreation = [](MemoryStagingFiles& f) {
        f.AddLink(u"C:\\Program Files (x86)\\ZNWDriver", u"C:\\Nowhere\\Later", true);
    };
    EXPECT_EQ(world.Run(), InstallOutcome::StagingNotCreated);
    EXPECT_EQ(world.files.CallCount(FileOp::FindEntries), 0u);
    EXPECT_EQ(world.files.CallCount(FileOp::RemoveDirectoryW), 0u);
}

TEST(Workflow, AnEarlierStagingFolderInATrustedParentIsMadeFresh) {
    const std::u16string parent = u"C:\\Program Files (x86)\\ZNWDriver";
    for (bool linked : {false, true}) {
        SCOPED_TRACE(linked);
        WorkflowWorld world;
        world.files.AddFile(u"C:\\Users\\setup\\precious.txt", "mine");
        world.files.AddFolder(parent, u"TrustedInstaller");
        if (linked) {
            world.files.AddLink(parent + u"\\DovEzuvar", u"C:\\Users\\setup", true);
        } else {
            world.files.AddFolder(parent + u"\\DovEzuvar", u"mallory", true);
            world.files.AddLink(parent + u"\\DovEzuvar\\Driver32", u"C:\\Users\\setup", true);
        }
        EXPECT_EQ(world.Run(), InstallOutcome::QueueCreated);
        EXPECT_NE(world.files.Find(u"C:\\Users\\setup\\precious.txt"), nullptr);
        EXPECT_EQ(world.files.Find(u"C:\\Users\\setup\\znw.cer"), nullptr);
        EXPECT_FALSE(world.StagingExists());
    }
}

TEST(Workflow, ARefusedCertificateEndsTheRunBeforeItIsTrusted) {
    WorkflowWorld world;
    world.files.refuseCertificate = true;
    EXPECT_EQ(world.Run(), InstallOutcome::StagingNotFilled);
    ASSERT_FALSE(world.recorder.lines.empty());
    EXPECT_NE(world.recorder.lines.back().find(u"is the test certificate"), std::u16string::npos);
    EXPECT_EQ(world.recorder.events.end()[-3], u"keep");  // then the box, then the button
    EXPECT_TRUE(world.shell.starts.empty());              // certutil never ran
}

}  // namespace
}  // namespace tde::test
