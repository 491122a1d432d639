// Removing a model from a spooler in memory, and what the end check then says.
#include "support/quiet_world.h"
#include "base/fault_plan.h"
#include "spooler/memory_spooler.h"

#include <gtest/gtest.h>

namespace tde {
namespace {

struct Fault {
    uint32_t error;
    uint32_t onCall;
};

struct UninstallCase {
    const char* what;
    std::vector<Fault> deleteFaults;  // on DeletePrinterDriverExW
    bool installed;
    // Expected:
    std::vector<uint32_t> deleteFlags;  // of each DeletePrinterDriverExW call
    size_t restarts;
    bool packageRemoved;
    uint32_t exitCode;
};

MemorySpooler::Driver Driver(std::u16string name) {
    MemorySpooler::Driver driver;
    driver.name = std::move(name);
    return driver;
}

MemorySpooler::Queue Queue(std::u16string name, std::u16string driver) {
    MemorySpooler::Queue queue;
    queue.name = std::move(name);
    queue.port = u"LPT1:";
    queue.driver = std::move(driver);
    return queue;
}

TEST(UnattendedTest, UninstallRemovesQueuesOnTheDriverThenTheDriver) {
    const UninstallCase cases[] = {
        {"plain removal", {}, true, {3}, 0, true, kExitSuccess},
        {"flags refused as Wine does",
         {{kErrorInvalidParameter, 1}},
         true,
         {3, 0},
         0,
         true,
         kExitSuccess},
        {"in use: one restart",
         {{kErrorPrinterDriverInUse, 1}},
         true,
         {3, 3},
         1,
         true,
         kExitSuccess},
        {"in use, then flags refused",
         {{kErrorPrinterDriverInUse, 1}, {kErrorInvalidParameter, 2}},
         true,
         {3, 3, 0},
         1,
         true,
         kExitSuccess},
        {"access denied: reported by the end check",
         {{kErrorAccessDenied, 1}},
         true,
         {3},
         0,
         false,
         kExitInstallFailure},
        {"nothing there", {}, false, {}, 0, false, kExitSuccess},
    };
    for (const UninstallCase& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySpooler spooler;
        spooler.ports = {{u"LPT1:"}, {u"USB001"}};
        spooler.drivers = {Driver(u"Other")};
        spooler.queues = {Queue(u"A4 Printer", u"Other"), Queue(u"Till", u"Other")};
        if (c.installed) {
            spooler.drivers.push_back(Driver(u"A4 Printer"));
            spooler.drivers.back().infPath = u"C:\\store\\a4.inf";
            spooler.queues.push_back(Queue(u"Shop A4", u"a4 printer"));
            spooler.queues.push_back(Queue(u"Back A4", u"A4 Printer"));
            spooler.queues.push_back(Queue(u"\\\\srv\\A4", u"A4 Printer"));
            spooler.queues.back().connection = true;
            spooler.drivers.push_back(Driver(u"Zeta"));  // the model's is not the last
        }
        for (const Fault& f : c.deleteFaults) {
            spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, f.error, f.onCall);
        }
        FakeClock clock;
        MemoryServiceControl services(clock);
        services.services.resize(1);
        services.services[0].name = u"Spooler";
        std::vector<std::u16string> lines;
        UninstallModel(spooler, services, clock, true, u"A4 Printer",
                       [&](std::u16string_view line) { lines.emplace_back(line); });

        std::vector<uint32_t> flags;
        bool packageRemoved = false;
        for (const SpoolerCall& call : spooler.Calls()) {
            if (call.op == SpoolerOp::DeletePrinterDriverExW) {
                flags.push_back(call.flags);
            }
            packageRemoved = packageRemoved || call.op == SpoolerOp::DeletePrinterDriverPackageW;
        }
        EXPECT_EQ(flags, c.deleteFlags);
        EXPECT_EQ(services.CallCount(ServiceOp::StartServiceW), c.restarts);
        EXPECT_EQ(packageRemoved, c.packageRemoved);
        // Both queues on the driver are gone and named; the others stay.
        EXPECT_EQ(spooler.FindQueue(u"Shop A4"), nullptr);
        EXPECT_EQ(spooler.FindQueue(u"Back A4"), nullptr);
        EXPECT_EQ(spooler.FindQueue(u"\\\\srv\\A4"), nullptr);
        EXPECT_NE(spooler.FindQueue(u"A4 Printer"), nullptr);
        EXPECT_NE(spooler.FindDriver(u"Other"), nullptr);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], u"Start uninstall");
        if (c.installed) {
            ASSERT_GE(lines.size(), 3u);
            EXPECT_NE(lines[1].find(u"\"Shop A4\""), std::u16string::npos);
            EXPECT_NE(lines[2].find(u"\"Back A4\""), std::u16string::npos);
        }

        RunFacts facts;
        facts.mode = RunMode::Uninstall;
        facts.model = u"A4 Printer";
        facts.end = ReadEndState(spooler, facts.model);
        EXPECT_EQ(DecideExitCode(facts).exitCode, c.exitCode);
    }

    // A spooler that cannot be reached is no empty spooler: nothing is touched,
    // and the end check says so.
    MemorySpooler down;
    down.drivers = {Driver(u"A4 Printer")};
    down.queues = {Queue(u"A4 Printer", u"A4 Printer")};
    down.FailCall(SpoolerOp::EnumPrinterDriversW, 1722, MemorySpooler::kEveryCall);
    FakeClock clock;
    MemoryServiceControl services(clock);
    EXPECT_FALSE(UninstallModel(down, services, clock, true, u"A4 Printer", [](auto) {}).listsRead);
    EXPECT_EQ(down.CallCount(SpoolerOp::DeletePrinter), 0u);
    RunFacts facts;
    facts.mode = RunMode::Uninstall;
    facts.model = u"A4 Printer";
    facts.end = ReadEndState(down, facts.model);
    EXPECT_EQ(DecideExitCode(facts).exitCode, 1603u);
    // A connection left on the driver counts as left.
    MemorySpooler kept;
    kept.queues = {Queue(u"\\\\srv\\A4", u"A4 Printer")};
    kept.queues[0].connection = true;
    facts.end = ReadEndState(kept, facts.model);
    EXPECT_EQ(DecideExitCode(facts).exitCode, 1603u);
}

// A quiet run over an earlier installation: the deleted queues are named, tips
// become lines, and the end check decides, not the run.
TEST(UnattendedTest, QuietInstallNamesDeletedQueuesAndTheEndCheckDecides) {
    enum Case { Installed, DriverRefused, RefusedOverTheOldDriver };
    for (const Case c : {Installed, DriverRefused, RefusedOverTheOldDriver}) {
        SCOPED_TRACE(c);
        const bool driverRefused = c != Installed;
        test::WorkflowWorld world;
        world.AddEarlierInstallation();
        if (driverRefused) {
            world.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, kErrorAccessDenied,
                                   MemorySpooler::kEveryCall);
            world.spooler.packageFunctionsPresent = false;
        }
        if (c == RefusedOverTheOldDriver) {
            // The old driver stays, so the run goes on to the queue.
            world.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorAccessDenied,
                                   MemorySpooler::kEveryCall);
        }
        std::vector<std::u16string> lines;
        QuietUi ui([&](std::u16string_view line) { lines.emplace_back(line); });
        InstallPlatform platform{
            world.spooler,  world.services, world.shell,    world.files, world.facts, world.clock,
            world.messages, world.texts,    world.recorder, ui,          world.checks};
        const InstallOutcome outcome =
            InstallQuietly(platform, MakeInstallRequest(world.catalogue, 0, u"USB001", 1),
                           [&](std::u16string_view line) { lines.emplace_back(line); });

        auto said = [&](std::u16string_view part) {
            for (const std::u16string& line : lines) {
                if (line.find(part) != std::u16string::npos) {
                    return true;
                }
            }
            return false;
        };
        EXPECT_TRUE(said(u"\"Shop A4\" used the driver \"A4 Printer\""));
        EXPECT_TRUE(said(u"\"A4 Printer\" used the driver"));
        EXPECT_FALSE(said(u"\"Other\""));
        EXPECT_EQ(said(u"driver failed"), c == DriverRefused);  // the tip, as a line

        RunFacts facts;
        facts.model = u"A4 Printer";
        facts.port = u"USB001";
        facts.makeDefault = true;
        facts.workflowSucceeded =
            outcome == InstallOutcome::QueueCreated || outcome == InstallOutcome::QueueReported;
        facts.end = ReadEndState(world.spooler, facts.model);
        facts.end.queueIsDefault = world.spooler.defaultPrinter == u"A4 Printer";
        test::WorldFingerprints fingerprints(world.files);
        facts.end.driverFilesProblem =
            CompareDriverFiles(world.spooler, fingerprints, facts.model,
                               DriverDirectoryItems(world.catalogue.models[0], u"ZNWA4V.gpd",
                                                    InstallArchitecture::X64));
        facts.end.driverFilesWhole = facts.end.driverFilesProblem.empty();
        EXPECT_EQ(DecideExitCode(facts).exitCode, driverRefused ? 1603u : 0u)
            << test::Narrow(facts.end.driverFilesProblem);
        EXPECT_EQ(InstalledAndWhole(facts), !driverRefused);
        if (c == RefusedOverTheOldDriver) {
            EXPECT_TRUE(facts.workflowSucceeded);  // only the files tell
        }
    }
}

TEST(UnattendedTest, TheRollbackRemovesOnlyWhatTheInstallMarkedAsItsOwn) {
    MemoryCreationMarks marks;
    std::vector<std::u16string> lines;
    const RunReporter report = [&](std::u16string_view line) { lines.emplace_back(line); };
    int removals = 0;
    const auto remove = [&] { ++removals; };
    EXPECT_TRUE(MarkCreation(marks, u"A4 Printer", /*queueExists=*/true, report));
    EXPECT_FALSE(RollBackInstall(marks, u"A4 Printer", remove, report));  // there before
    EXPECT_TRUE(MarkCreation(marks, u"A4 Printer", /*queueExists=*/false, report));
    EXPECT_TRUE(RollBackInstall(marks, u"A4 Printer", remove, report));
    EXPECT_FALSE(RollBackInstall(marks, u"A4 Printer", remove, report));  // cleared
    EXPECT_EQ(removals, 1);
    // A mark an earlier run left is cleared when the queue stands; one that cannot be written
    // fails.
    marks.marks = {u"A3 Printer"};
    EXPECT_TRUE(MarkCreation(marks, u"A3 Printer", true, report));
    EXPECT_TRUE(marks.marks.empty());
    marks.writable = false;
    EXPECT_FALSE(MarkCreation(marks, u"A3 Printer", false, report));
    EXPECT_NE(lines.back().find(u"cannot be written"), std::u16string::npos);
}

}  // namespace
}  // namespace tde
