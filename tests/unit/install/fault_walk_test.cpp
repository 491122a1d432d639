// Every call a whole run makes to the spooler, the service manager, the staging
// files and the shell fails in turn; each time the run must end cleanly and
// show and log exactly what its failure table says.
#include "support/op_names.h"
#include "support/workflow_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

namespace tde::test {
namespace {

constexpr uint32_t kFault = 1234;  // the error every planned failure answers
const std::u16string kFaultText = u"Code:1234--->m1234\r\n";

enum class Kind { Spooler, Service, File, Process };

struct Target {
    Kind kind;
    int op;  // SpoolerOp, ServiceOp or FileOp; 0 for the shell
    uint32_t onCall;
};

// What a run with one failing call must come to.
struct Expected {
    std::vector<std::u16string> events;  // between "button:off" and "button:on"
    bool stagingRemoved = true;
    bool stagingChecked = true;            // false where the removal itself fails
    bool earlierInstallationGone = true;   // "Shop A4" deleted and the old package removed
    bool earlierInstallationKept = false;  // its queues and driver untouched
};

// The planned failure in words: "DeletePrinter (spooler), call 2, fails with 1234".
std::string Describe(const Target& t) {
    std::ostringstream text;
    switch (t.kind) {
        case Kind::Spooler:
            text << NameOf(static_cast<SpoolerOp>(t.op)) << " (spooler), call ";
            break;
        case Kind::Service:
            text << NameOf(static_cast<ServiceOp>(t.op)) << " (service manager), call ";
            break;
        case Kind::File:
            text << NameOf(static_cast<FileOp>(t.op)) << " (staging files), call ";
            break;
        case Kind::Process:
            text << "the shell's process start ";
            break;
    }
    text << t.onCall << ", fails with " << kFault;
    return text.str();
}

void Prepare(WorkflowWorld& world, const Target* fault) {
    world.AddEarlierInstallation();
    if (fault != nullptr) {
        switch (fault->kind) {
            case Kind::Spooler:
                world.spooler.FailCall(static_cast<SpoolerOp>(fault->op), kFault, fault->onCall);
                break;
            case Kind::Service:
                world.services.FailCall(static_cast<ServiceOp>(fault->op), kFault, fault->onCall);
                break;
            case Kind::File:
                world.files.FailCall(static_cast<FileOp>(fault->op), kFault, fault->onCall);
                break;
            case Kind::Process:
                world.shell.failOnStart = fault->onCall;
                break;
        }
    }
    // The first driver deletion finds the driver in use, so a spooler restart
    // is part of the run (planned after the test's fault, which wins).
    world.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorPrinterDriverInUse, 1);
}

std::u16string Log(std::u16string_view line) {
    return u"log:" + std::u16string(line);
}
std::u16string Tip(std::u16string_view text) {
    return u"tip:" + std::u16string(text);
}
std::u16string CopyLine(std::u16string_view item, std::u16string_view error) {
    return Log(u"could not copy " + std::u16string(item) + u": " + std::u16string(error));
}

// The failure table, applied to the call that fails.
Expected Expect(const Target& t, const std::vector<std::u16string>& stagingItems,
                const std::vector<std::u16string>& driverItems) {
    const std::u16string start = Log(u"Start install");
    const std::u16string ok = Log(u"driver ok");
    const std::u16string staging(kStaging);
    Expected clean{{start, ok}};
    Expected reported{
        .events = {start, ok,
                   Log(u"The printer(A4 Printer) installed,try to modify the port(LPT1:)")},
        .earlierInstallationGone = false};
    Expected keptEarlier = clean;
    keptEarlier.earlierInstallationGone = false;
    auto notCreated = [&](std::u16string path, bool refused) {
        return Expected{.events = {start, Tip(u"Failed to create directory"),
                                   Log(u"Failed to create directory\uFF0Cpath=" + path)},
                        .stagingRemoved = !refused,
                        .earlierInstallationGone = false,
                        .earlierInstallationKept = true};
    };

    if (t.kind == Kind::Service ||
        (t.kind == Kind::Spooler && (t.op == int(SpoolerOp::DeletePrinterDriverExW) ||
                                     t.op == int(SpoolerOp::DeletePrinterDriverPackageW)))) {
        // Silent: the earlier driver may stay, and registration replaces it.
        return keptEarlier;
    }
    if (t.kind == Kind::Process) {
        return clean;  // certutil and rundll32 are not checked
    }
    if (t.kind == Kind::Spooler) {
        switch (static_cast<SpoolerOp>(t.op)) {
            case SpoolerOp::EnumPrinterDriversW:
                // 1-4 feed the lists (a missing list only skips the removal); 5-6
                // make the installed driver look missing, and the package route
                // then installs it silently; its check afterwards is 7-8.
                return t.onCall <= 2 ? keptEarlier : clean;
            case SpoolerOp::EnumPrintersW:
                // Without the printer list nothing is deleted and the model's queue is re-ported.
                return t.onCall <= 2 ? reported : clean;
            case SpoolerOp::OpenPrinterW:
            case SpoolerOp::DeletePrinter:
                // The first queue is the model's own: it stays and is re-ported.
                return t.onCall == 1 ? reported : keptEarlier;
            case SpoolerOp::GetPrinterDriverDirectoryW: {
                if (t.onCall <= 2) {  // the check before anything else: nothing is touched
                    return {.events = {Tip(u"tip.check.cannotinstall\n\ntip.check.spooler"),
                                       Log(u"tip.check.spooler")},
                            .earlierInstallationGone = false};
                }
                Expected e{{start}};
                for (const std::u16string& item : driverItems) {
                    e.events.push_back(CopyLine(item, u"Code:3--->m3\r\n"));
                }
                e.events.push_back(
                    Log(u"\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0CCode:2--->m2\r\n"));
                e.events.push_back(ok);
                return e;
            }
            case SpoolerOp::AddPrinterDriverExW:
                return {
                    {start, Log(u"\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0C" + kFaultText), ok}};
            case SpoolerOp::AddPrinterW: {
                const std::u16string text = u"printer failed: " + kFaultText;
                return {{start, ok, Tip(text), Log(text)}};
            }
            default:
                return clean;  // ClosePrinter, SetDefaultPrinterW
        }
    }
    switch (static_cast<FileOp>(t.op)) {
        case FileOp::GetCurrentDirectoryA:
        case FileOp::CreateDirectoryA: {
            // Calls 1-2 make the staging folder itself, the next one per subfolder.
            static const char16_t* const kSubfolders[] = {u"IA64", u"Driver64", u"Driver32",
                                                          u"ARM64"};
            uint32_t first = t.op == int(FileOp::CreateDirectoryA) ? 2 : 1;
            if (t.onCall <= first) {
                // "ZNWDriver" was absent when judged: refused, nothing removed by name.
                Expected e = notCreated(staging, false);
                e.events.push_back(Log(u"The folder " + staging.substr(0, staging.size() - 11) +
                                       u" was absent when judged and the staging folder cannot "
                                       u"be made in it"));
                e.events.push_back(u"keep");
                return e;
            }
            return notCreated(staging + kSubfolders[t.onCall - first - 1], false);
        }
        case FileOp::CheckFolder: {
            // Call 1 looks at "ZNWDriver" before creation, 2-3 at it and the staging
            // folder after, then one call per subfolder, which stays ours to remove.
            static const char16_t* const kJudged[] = {
                u"", u"", u"", u"\\IA64", u"\\Driver64", u"\\Driver32", u"\\ARM64"};
            const std::u16string self = staging.substr(0, staging.size() - 1);
            const std::u16string path = t.onCall <= 2   ? self.substr(0, self.size() - 10)
                                        : t.onCall == 3 ? self
                                                        : self + kJudged[t.onCall - 1];
            // Refused after creation, the folders stay; before it, nothing was made.
            Expected e = notCreated(path, t.onCall == 2 || t.onCall == 3);
            e.events.push_back(
                Log(u"The folder " + path + u" is refused: its security cannot be read"));
            e.events.push_back(u"keep");
            return e;
        }
        case FileOp::ExtractArchiveItem:
            if (t.onCall <= stagingItems.size()) {
                return {.events = {start, CopyLine(stagingItems[t.onCall - 1], kFaultText),
                                   Tip(u"copy failed: " + kFaultText)},
                        .earlierInstallationGone = false,
                        .earlierInstallationKept = true};
            } else {
                Expected e{
                    {start, CopyLine(driverItems[t.onCall - stagingItems.size() - 1], kFaultText),
                     Log(u"\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0CCode:2--->m2\r\n"), ok}};
                return e;
            }
        default: {
            // FindEntries, DeleteFileW, RemoveDirectoryW: the removal at the end
            // leaves remains and says nothing.
            Expected e = clean;
            e.stagingChecked = false;
            return e;
        }
    }
}

TEST(FaultWalk, EveryCallOfARunFailsInTurnAndTheRunEndsAsItsFailureTableSays) {
    // The clean run, to count the calls.
    WorkflowWorld reference;
    Prepare(reference, nullptr);
    ASSERT_EQ(reference.Run(), InstallOutcome::QueueCreated);
    ASSERT_THAT(reference.recorder.events, testing::ElementsAre(u"button:off", u"log:Start install",
                                                                u"log:driver ok", u"button:on"));
    ASSERT_FALSE(reference.StagingExists());
    ASSERT_GT(reference.services.Calls().size(), 0u) << "the run must restart the spooler";
    // Each folder the run makes is judged once it stands, whatever the order of the rest.
    const auto& folders = reference.files.folderCalls;
    for (auto made = folders.begin(); made != folders.end(); ++made) {
        if (made->first == FileOp::CreateDirectoryA) {
            EXPECT_NE(std::find(made, folders.end(), std::pair{FileOp::CheckFolder, made->second}),
                      folders.end())
                << Narrow(made->second);
        }
    }

    std::vector<Target> targets;
    std::map<int, uint32_t> counts;
    for (const SpoolerCall& call : reference.spooler.Calls()) {
        targets.push_back({Kind::Spooler, int(call.op), ++counts[int(call.op)]});
    }
    counts.clear();
    for (ServiceOp op : reference.services.Calls()) {
        targets.push_back({Kind::Service, int(op), ++counts[int(op)]});
    }
    counts.clear();
    for (FileOp op : reference.files.Calls()) {
        targets.push_back({Kind::File, int(op), ++counts[int(op)]});
    }
    for (uint32_t i = 1; i <= reference.shell.starts.size(); ++i) {
        targets.push_back({Kind::Process, 0, i});
    }
    const PrinterModel& a4 = reference.catalogue.models[0];
    std::vector<std::u16string> stagingItems;
    for (const auto* list :
         {&a4.arm64Items, &a4.ia64Items, &a4.driver64Items, &a4.driver32Items, &a4.rootItems}) {
        stagingItems.insert(stagingItems.end(), list->begin(), list->end());
    }
    std::vector<std::u16string> driverItems = a4.x64DriverItems;
    driverItems.push_back(u"driver\\pos\\ZNWA4V.gpd");

    size_t checks = 0;
    for (const Target& target : targets) {
        SCOPED_TRACE(Describe(target));
        WorkflowWorld world;
        Prepare(world, &target);
        world.Run();
        Expected expected = Expect(target, stagingItems, driverItems);
        expected.events.insert(expected.events.begin(), u"button:off");
        expected.events.push_back(u"button:on");

        EXPECT_TRUE(world.recorder.buttonEnabled);
        EXPECT_EQ(world.recorder.events, expected.events);
        if (expected.stagingChecked) {
            EXPECT_EQ(world.StagingExists(), !expected.stagingRemoved);
        }
        if (expected.earlierInstallationGone) {
            EXPECT_EQ(world.spooler.FindQueue(u"Shop A4"), nullptr);
            EXPECT_EQ(world.spooler.CallCount(SpoolerOp::DeletePrinterDriverPackageW), 1u);
        }
        if (expected.earlierInstallationKept) {
            // A reinstall that cannot unpack its files loses no working printer.
            EXPECT_NE(world.spooler.FindQueue(u"A4 Printer"), nullptr);
            EXPECT_NE(world.spooler.FindQueue(u"Shop A4"), nullptr);
            EXPECT_NE(world.spooler.FindDriver(u"A4 Printer"), nullptr);
        }
        EXPECT_NE(world.spooler.FindQueue(u"Other"), nullptr);
        // A handle stays open only when closing it failed.
        EXPECT_EQ(
            world.spooler.OpenHandleCount(),
            target.kind == Kind::Spooler && target.op == int(SpoolerOp::ClosePrinter) ? 1u : 0u);
        checks += 6;
    }
    std::cout << "fault walk: " << targets.size() << " failing calls x 6 checks = " << checks
              << "\n";
}

}  // namespace
}  // namespace tde::test

namespace tde::test {
namespace {

// The package route runs only when registration is refused; its calls, and the
// checks around it, fail in turn here.
TEST(FaultWalk, ThePackageRouteAfterARefusedRegistration) {
    const std::u16string refused =
        u"log:\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0CCode:5--->m5\r\n";
    const std::u16string packageLine = u"log:Install error(2):1234," + kFaultText;
    struct Row {
        SpoolerOp op;
        uint32_t onCall;
        std::vector<std::u16string> events;
        uint32_t error = kFault;
        std::optional<int32_t> silentUploadRefusal;  // an HRESULT and no last error
    };
    const std::vector<std::u16string> stillMissing = {u"tip:driver failed", u"log:driver failed"};
    const Row rows[] = {
        // The base run (there is no second registration): the package installs.
        {SpoolerOp::AddPrinterDriverExW, 2, {refused, u"log:driver ok"}},
        {SpoolerOp::UploadPrinterDriverPackageW,
         1,
         {refused, packageLine, stillMissing[0], stillMissing[1]}},
        {SpoolerOp::InstallPrinterDriverFromPackageW,
         1,
         {refused, packageLine, stillMissing[0], stillMissing[1]}},
        // The check before the route fails: the route runs and installs.
        {SpoolerOp::EnumPrinterDriversW, 5, {refused, u"log:driver ok"}},
        // The check after the route fails: the driver reads as missing.
        {SpoolerOp::EnumPrinterDriversW, 7, {refused, stillMissing[0], stillMissing[1]}},
        // SetupAPI's codes print as "%ld" prints them.
        {SpoolerOp::UploadPrinterDriverPackageW,
         1,
         {refused, u"log:Install error(2):-536870329,Code:3758096967--->m3758096967\r\n",
          stillMissing[0], stillMissing[1]},
         0xE0000247},
        // No planned fault: the upload answers an HRESULT and sets no error, and
        // the enumeration before it left 122, which must not be the answer.
        {SpoolerOp::UploadPrinterDriverPackageW,
         99,
         {refused, u"log:Install error(2):-2147467263,Code:2147500033--->m2147500033\r\n",
          stillMissing[0], stillMissing[1]},
         kFault,
         int32_t(0x80004001)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << NameOf(row.op) << " (spooler), call " << row.onCall
                                        << ", fails with " << row.error);
        WorkflowWorld world;
        world.AddEarlierInstallation();
        world.spooler.FailCall(row.op, row.error, row.onCall);
        world.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, 5, 1);
        world.spooler.uploadRefusedSilently = row.silentUploadRefusal;
        world.Run();
        for (const SpoolerCall& call : world.spooler.Calls()) {
            if (call.op == SpoolerOp::UploadPrinterDriverPackageW) {
                EXPECT_EQ(call.flags, 3u);  // silent, always
            }
        }
        std::vector<std::u16string> expected = {u"button:off", u"log:Start install"};
        expected.insert(expected.end(), row.events.begin(), row.events.end());
        expected.push_back(u"button:on");
        EXPECT_EQ(world.recorder.events, expected);
        EXPECT_FALSE(world.StagingExists());
        EXPECT_EQ(world.spooler.FindQueue(u"Shop A4"), nullptr);
        EXPECT_EQ(world.spooler.OpenHandleCount(), 0u);
    }
}

}  // namespace
}  // namespace tde::test
