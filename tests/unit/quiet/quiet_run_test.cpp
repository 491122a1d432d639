// Whole quiet runs over the in-memory machine: from the command line through
// the lock, the check, the port, the test for an installation already whole,
// the workflow or removal and the end state to the exit code.
#include "support/quiet_world.h"
#include "spooler/memory_spooler.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tde::test {
namespace {

constexpr char16_t kInstall[] = u"/quiet /model \"A4 Printer\" /port USB001";

struct RunRow {
    const char* what;
    const char16_t* arguments;
    void (*set)(QuietWorld&);
    uint32_t code;
    std::u16string_view said;  // a part of a line of the log or output
    int starts = -1;           // spooler starts, where they matter
    SpoolerOp op = SpoolerOp::AddPrinterDriverExW;
    int calls = -1;  // calls of `op`, where they matter
};

// The model installed by a quiet run, the spooler's calls of that run forgotten.
void Installed(QuietWorld& w) {
    ASSERT_EQ(w.Quiet(kInstall), 0u);
    w.spooler.ClearCalls();
}

void Stopped(QuietWorld& w) {
    w.services.services[0].state = kServiceStopped;
    w.services.services[0].startDelayMs = 2000;
}

void HeldElsewhere(QuietWorld& w) {
    w.lock.state = LockState::HeldElsewhere;
}

void Connection(QuietWorld& w, std::u16string driver, uint32_t refusal) {
    w.spooler.queues.push_back(
        {.name = u"\\\\srv\\A4", .port = u"USB001", .driver = driver, .connection = true});
    w.spooler.FailCall(SpoolerOp::DeletePrinterConnectionW, refusal);
}

constexpr char16_t kCheck[] = u"/check /model \"A4 Printer\"";
constexpr char16_t kRollback[] = u"/rollback /model \"A4 Printer\"";
constexpr char16_t kUninstall[] = u"/uninstall /model \"A4 Printer\"";
constexpr SpoolerOp kPackageDeletes = SpoolerOp::DeletePrinterDriverPackageW;

TEST(QuietRun, TableOfRuns) {
    using W = QuietWorld&;
    const RunRow rows[] = {
        {"usage", u"-?", nullptr, 0, u"/uninstall /model NAME"},
        {"invalid line: the spooler untouched",
         u"/quiet /model \"A4 Printer\" /port USB001 /silent", nullptr, 1639,
         u"Unknown switch: /silent", -1, SpoolerOp::GetPrinterDriverDirectoryW, 0},
        {"a port the spooler does not list", u"/quiet /model \"A4 Printer\" /port NOPORT9:",
         nullptr, 1603, u"does not list the port NOPORT9:; it lists LPT1:, USB001"},
        {"the port in another letter case", u"/quiet /model \"A4 Printer\" /port usb001", nullptr,
         0, u"A4 Printer installed on USB001. Exit code 0."},
        {"a stopped spooler started before the port is looked up", kInstall, Stopped, 0,
         u"installed on USB001", 1},
        {"lock held", kInstall, HeldElsewhere, 1618, u"Another installation is running"},
        {"/check needs no lock", kCheck, HeldElsewhere, 0,
         u"No driver \"A4 Printer\" is installed"},
        {"/check, spooler stopped: a note", kCheck, Stopped, 0, u"tip.check.spoolerstopped", 0},
        {"/check, spooler running but silent", kCheck,
         [](W w) { w.spooler.FailCall(SpoolerOp::GetPrinterDriverDirectoryW, 1722, 0); }, 1603,
         u"tip.check.spooler", 0},
        {"low space on the staging drive", kInstall, [](W w) { w.checks.lowDrive = u"C:"; }, 1603,
         u"tip.check.diskspace", -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"installed and whole: /default only sets the default",
         u"/quiet /model \"A4 Printer\" /port USB001 /default", Installed, 0, u"already installed",
         -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"/repair installs afresh", u"/quiet /model \"A4 Printer\" /port USB001 /repair", Installed,
         0, u"Start install", -1, SpoolerOp::AddPrinterDriverExW, 1},
        {"a driver file altered after a run", kInstall,
         [](W w) {
             Installed(w);
             w.files.AddFile(std::u16string(kDriverDirectory) + u"\\ZNWA4V.gpd", "altered");
         },
         0, u"Start install", -1, SpoolerOp::AddPrinterDriverExW, 1},
        {"the driver's name in another letter case", kInstall,
         [](W w) {
             Installed(w);
             w.spooler.drivers.back().name = w.spooler.queues.back().driver = u"a4 printer";
         },
         0, u"already installed"},
        {"only another queue on the model's driver", kInstall,
         [](W w) {
             Installed(w);
             w.spooler.queues.back().name = u"Shop A4";
         },
         0, u"\"Shop A4\" used the driver \"A4 Printer\" and was deleted"},
        {"an earlier staging folder that cannot be removed", kInstall,
         [](W w) {
             w.files.AddFolder(u"C:\\Program Files (x86)\\ZNWDriver");
             w.files.AddFile(std::u16string(kStaging), "");
             w.files.FailCall(FileOp::DeleteFileW, kErrorAccessDenied);
         },
         1603, u"cannot be removed", -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"a refusal without an error after a stale 3001", kInstall,
         [](W w) {
             w.AddEarlierInstallation();
             w.spooler.FailCall(SpoolerOp::ClosePrinter, kErrorPrinterDriverInUse, 2);
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, MemorySpooler::kLeaveLastError);
         },
         0, u"", 0},
        {"the package stays while its driver stays", kInstall,
         [](W w) {
             w.AddEarlierInstallation();
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorAccessDenied, 0);
         },
         0, u"", -1, kPackageDeletes, 0},
        {"a package install refused silently after an upload that left an error", kInstall,
         [](W w) {
             w.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, kErrorAccessDenied);
             w.spooler.uploadLeavesError = kErrorInsufficientBuffer;
             w.spooler.installRefusedSilently = static_cast<int32_t>(0x80004001u);
         },
         1603, u"Install error(2):-2147467263"},
        {"rollback of an install that made the queue", kRollback, Installed, 0,
         u"Deleting the driver \"A4 Printer\"", -1, SpoolerOp::DeletePrinterDriverExW, 1},
        {"rollback of an install over a queue that was there", kRollback,
         [](W w) {
             w.AddEarlierInstallation();
             Installed(w);
         },
         0, u"nothing is removed", -1, SpoolerOp::DeletePrinterDriverExW, 0},
        {"uninstall: the drivers' list grows between its two calls", kUninstall,
         [](W w) {
             Installed(w);
             w.spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorInsufficientBuffer, 2);
         },
         1603, u"cannot be read: nothing was removed"},
        {"uninstall: a connection on the driver in another letter case stays", kUninstall,
         [](W w) { Connection(w, u"a4 printer", kErrorAccessDenied); }, 1603,
         u"not removed: a printer still uses the driver"},
        {"uninstall: a refusal without an error after a refused connection", kUninstall,
         [](W w) {
             Installed(w);
             Connection(w, u"A4 Printer", kErrorInvalidParameter);
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, MemorySpooler::kLeaveLastError);
         },
         1603, u"the driver is still installed", -1, SpoolerOp::DeletePrinterDriverExW, 1},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietWorld world;
        if (row.set != nullptr) {
            row.set(world);
        }
        EXPECT_EQ(world.Quiet(row.arguments), row.code);
        EXPECT_TRUE(world.Said(row.said)) << Narrow(row.said);
        if (row.starts >= 0) {
            EXPECT_EQ(world.services.CallCount(ServiceOp::StartServiceW), size_t(row.starts));
        }
        if (row.calls >= 0) {
            EXPECT_EQ(world.spooler.CallCount(row.op), size_t(row.calls));
        }
    }
}

}  // namespace
}  // namespace tde::test
