// Whole quiet runs over the in-memory machine: from the command line through
// the lock, the check, the port, the test for an installation already whole,
// the workflow or removal and the end state to the exit code.
#include "support/quiet_world.h"
#include "spooler/memory_spooler.h"

#include <gtest/gtest.h>

#include <optional>
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
    int calls = -1;                       // calls of `op`, where they matter
    int64_t flags = -1;                   // the flags of each call of `op`, where they matter
    void (*then)(QuietWorld&) = nullptr;  // what else the row looks at afterwards
    std::optional<SpoolerOp> refused;     // a call Windows refuses (access denied) in the run
    std::u16string_view unsaid = {};      // a part no line holds
};

// The model installed by a quiet run, the spooler's calls of that run forgotten.
void Installed(QuietWorld& w) {
    ASSERT_EQ(w.Quiet(kInstall), 0u);
    w.spooler.ClearCalls();
}

// The model installed, then set up by the shop: its queue's comment, label size
// and security, and "Labels" on its driver as the default printer.
void ShopSetUp(QuietWorld& w) {
    Installed(w);
    w.spooler.queues.back().comment = u"till 2";
    w.spooler.queues.back().devMode = u"58 mm labels";
    w.spooler.queues.back().security = u"shop staff";
    w.spooler.queues.push_back(
        {.name = u"Labels", .port = u"LPT1:", .driver = u"A4 Printer", .comment = u"labels"});
    w.spooler.defaultPrinter = u"Labels";
}

// ... and then a newer package: an installed file differs from this package's.
void NewerPackage(QuietWorld& w) {
    ShopSetUp(w);
    w.files.AddFile(std::u16string(kDriverDirectory) + u"\\ZNWA4V.gpd", "1.0.14");
}

// "Labels", the default printer and the driver are as they were.
void LabelsKept(QuietWorld& w) {
    const MemorySpooler::Queue* labels = w.spooler.FindQueue(u"Labels");
    EXPECT_TRUE(labels && labels->comment == u"labels" && w.spooler.defaultPrinter == u"Labels");
    EXPECT_EQ(w.spooler.CallCount(SpoolerOp::DeletePrinterDriverExW), 0u);
}

// ... and so is the model's queue, with all its settings.
void Kept(QuietWorld& w) {
    LabelsKept(w);
    const MemorySpooler::Queue* a4 = w.spooler.FindQueue(u"A4 Printer");
    EXPECT_TRUE(a4 && a4->comment == u"till 2" && a4->devMode == u"58 mm labels" &&
                a4->securitySets == 0 && w.spooler.CallCount(SpoolerOp::DeletePrinter) == 0);
}

void Stopped(QuietWorld& w) {
    w.services.services[0].state = kServiceStopped;
    w.services.services[0].startDelayMs = 2000;
}

// Jobs waiting on the named queue, over an earlier installation.
void Jobs(QuietWorld& w, std::u16string_view queue) {
    w.AddEarlierInstallation();
    for (MemorySpooler::Queue& q : w.spooler.queues) {
        q.jobs = q.name == queue ? 2 : 0;
    }
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
constexpr char16_t kTcp[] = u"/quiet /model \"A4 Printer\" /port tcp:192.168.1.60";
constexpr char16_t kTcpCheck[] = u"/check /model \"A4 Printer\" /port tcp:192.168.1.60";
constexpr char16_t kAuto[] = u"/quiet /model \"A4 Printer\" /port auto";
constexpr char16_t kLogged[] = u"/quiet /model \"A4 Printer\" /port USB001 /log C:\\Logs\\a4.log";

// A network printer's port set up by hand, under `name`, printing RAW to `port`.
void HandMade(QuietWorld& w, std::u16string_view name, uint32_t port) {
    PortData1 data = TcpPortData({u"192.168.1.60", port});
    std::copy(name.begin(), name.end(), data.sztPortName);
    data.sztPortName[name.size()] = 0;
    w.tcp.AddConfiguredPort(data);
}

// USB001 names the maker, USB002 carries another maker's queue.
void TwoUsbPrinters(QuietWorld& w) {
    w.devices.AddPrinter(u"USB\\VID_1\\1", 1);
    w.devices.devices.back().description = u"ZNW A4 Printer";
    w.devices.AddPrinter(u"USB\\VID_2\\2", 2);
    w.spooler.queues.push_back({.name = u"Receipt", .port = u"USB002", .driver = u"EPSON"});
}
constexpr char16_t kRollback[] = u"/rollback /model \"A4 Printer\"";
constexpr char16_t kUninstall[] = u"/uninstall /model \"A4 Printer\"";
constexpr SpoolerOp kPackageDeletes = SpoolerOp::DeletePrinterDriverPackageW;
constexpr char16_t kRePort[] = u"/quiet /model \"A4 Printer\" /port LPT1:";
constexpr char16_t kRepair[] = u"/quiet /model \"A4 Printer\" /port USB001 /repair";
constexpr SpoolerOp kRegisters = SpoolerOp::AddPrinterDriverExW;

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
        {"/repair over a whole install registers the driver once more", kRepair, Installed, 0,
         u"Start install", -1, SpoolerOp::AddPrinterDriverExW, 1},
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
        {"a queue the shop renamed stays beside the model's new one", kInstall,
         [](W w) {
             Installed(w);
             w.spooler.queues.back().name = u"Shop A4";
         },
         0, u"installed on USB001", -1, SpoolerOp::DeletePrinter, 0},
        {"a deletion refused without an error is not called one", kRepair,
         [](W w) {
             Installed(w);
             w.spooler.FailCall(SpoolerOp::DeletePrinter, MemorySpooler::kLeaveLastError, 1);
         },
         0, u"/repair deletes the printer \"A4 Printer\" and the driver", -1,
         SpoolerOp::DeletePrinter, 1, -1, nullptr, kRegisters, u"and was deleted"},
        {"jobs on a queue of the driver: updated in place, nothing deleted", kInstall,
         [](W w) { Jobs(w, u"Shop A4"); }, 0, u"updated in place", -1, SpoolerOp::DeletePrinter, 0},
        {"/repair: jobs on another queue of the driver are no matter", kRepair,
         [](W w) { Jobs(w, u"Shop A4"); }, 0, u"printers of other names stay"},
        {"/repair: jobs on the model's queue", kRepair, [](W w) { Jobs(w, u"A4 Printer"); }, 1603,
         u"jobs are waiting on A4 Printer", -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"a newer package: the driver updated in place, never by file times", kInstall,
         NewerPackage, 0, u"ZNWA4V.gpd differs", -1, kRegisters, 1, kApdCopyAllFiles, Kept},
        {"a refused update changes nothing more", kInstall, NewerPackage, 1603,
         u"refused to update the driver; nothing else was changed (error 5)", -1,
         SpoolerOp::SetPrinterW, 0, -1, Kept, kRegisters},
        {"a new port: the queue moves and keeps the rest", kRePort, ShopSetUp, 0,
         u"moves from port USB001 to LPT1:", -1, kRegisters, 0, -1, Kept},
        {"a refused port change", kRePort, ShopSetUp, 1603,
         u"refused to move the printer to port LPT1: (error 5)", -1, kRegisters, 0, -1, nullptr,
         SpoolerOp::SetPrinterW},
        {"/default on the re-port path", u"/quiet /model \"A4 Printer\" /port LPT1: /default",
         ShopSetUp, 0, u"installed on LPT1: as the default printer"},
        {"/repair: only the model's queue made anew", kRepair, NewerPackage, 0,
         u"printers of other names stay", -1, kRegisters, 1, kApdCopyAllFiles,
         [](W w) {
             LabelsKept(w);
             EXPECT_EQ(w.spooler.FindQueue(u"A4 Printer")->comment, u"");
         }},
        {"/repair over a refused update keeps a driver another queue uses", kRepair, NewerPackage,
         1603, u"other printers use it (\"Labels\")", -1, SpoolerOp::DeletePrinter, 0, -1, nullptr,
         kRegisters},
        {"/repair over a refused update with no other queue installs afresh", kRepair, Installed, 0,
         u"deletes the printer \"A4 Printer\" and the driver", -1,
         SpoolerOp::DeletePrinterDriverExW, 1, -1, nullptr, kRegisters},
        {"an earlier staging folder that cannot be removed", kInstall,
         [](W w) {
             w.files.AddFolder(u"C:\\Program Files (x86)\\ZNWDriver");
             w.files.AddFile(std::u16string(kStaging), "");
             w.files.FailCall(FileOp::DeleteFileW, kErrorAccessDenied);
         },
         1603, u"cannot be removed", -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"a staging failure over an earlier installation deletes nothing and says so", kInstall,
         [](W w) {
             w.AddEarlierInstallation();
             w.files.AddFolder(u"C:\\Program Files (x86)\\ZNWDriver");
             w.files.AddFile(std::u16string(kStaging), "");
             w.files.FailCall(FileOp::DeleteFileW, kErrorAccessDenied);
         },
         1603, u"cannot be removed", -1, SpoolerOp::DeletePrinter, 0, -1, nullptr, std::nullopt,
         u"was deleted"},
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
        {"uninstall of a model never installed", kUninstall, nullptr, 0,
         u"A4 Printer: nothing to remove. Exit code 0."},
        {"uninstall: jobs on a queue of the driver", kUninstall, [](W w) { Jobs(w, u"Shop A4"); },
         1603, u"not removed: jobs are waiting on Shop A4", -1, SpoolerOp::DeletePrinter, 0},
        {"uninstall: no restart while another queue holds jobs", kUninstall,
         [](W w) {
             Jobs(w, u"Other");
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorPrinterDriverInUse);
         },
         1603, u"The spooler is not restarted: jobs are waiting on Other", 0},
        {"tcp: the port made", kTcp, nullptr, 0, u"installed on IP_192.168.1.60"},
        {"tcp: a port made by hand under another name is reused", kTcp,
         [](W w) { HandMade(w, u"Till printer", 9100); }, 0, u"installed on Till printer", -1,
         SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) { EXPECT_TRUE(w.tcp.FindPort(u"IP_192.168.1.60") == nullptr); }},
        {"tcp: our name set up otherwise", kTcp, [](W w) { HandMade(w, u"IP_192.168.1.60", 9101); },
         1603, u"the port IP_192.168.1.60 exists and does not print RAW to 192.168.1.60:9100", -1,
         SpoolerOp::AddPrinterDriverExW, 0},
        {"tcp: the monitor refuses with TRUE and a status", kTcp,
         [](W w) {
             w.tcp.refusals[u"AddPort"] = {true, true, kErrorAccessDenied};
         },
         1603, u"cannot be made: Windows answered error 5", -1, SpoolerOp::AddPrinterDriverExW, 0},
        {"tcp: no answer is a warning only", kTcp,
         [](W w) { w.probe.answer = {ProbeOutcome::TimedOut}; }, 0,
         u"Warning: the printer at 192.168.1.60:9100 does not answer (no answer within 2"},
        {"/uninstall leaves the port alone", kUninstall, [](W w) { ASSERT_EQ(w.Quiet(kTcp), 0u); },
         0, u"A4 Printer removed", -1, SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) { EXPECT_TRUE(w.tcp.FindPort(u"IP_192.168.1.60") != nullptr); }},
        {"/check of a tcp: port makes none", kTcpCheck,
         [](W w) {
             w.probe.answer = {ProbeOutcome::UnknownName, 11001};
         },
         0, u"an install would make IP_192.168.1.60", -1, SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) {
             EXPECT_TRUE(w.tcp.FindPort(u"IP_192.168.1.60") == nullptr &&
                         w.Said(u"the name cannot be resolved, error 11001"));
         }},
        {"/check of a tcp: port set up otherwise", kTcpCheck,
         [](W w) { HandMade(w, u"IP_192.168.1.60", 9101); }, 1603, u"does not print RAW"},
        {"/check, spooler stopped: the state unknown, not absent", kCheck, Stopped, 0,
         u"is unknown: the spooler's lists cannot be read (error 1722)", -1,
         SpoolerOp::AddPrinterDriverExW, -1, -1, [](W w) { EXPECT_TRUE(!w.Said(u"No driver")); }},
        {"/check, the drivers' list refused", kCheck,
         [](W w) { w.spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorAccessDenied, 0); },
         1603, u"what is installed is unknown: the spooler's lists cannot be read (error 5)"},
        {"/port auto: the maker's printer, the other skipped and named", kAuto, TwoUsbPrinters, 0,
         u"installed on USB001", -1, SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) {
             EXPECT_TRUE(w.Said(u"USB002 is skipped: it carries the printer \"Receipt\""));
         }},
        {"/port auto: only another maker's printer", kAuto,
         [](W w) {
             TwoUsbPrinters(w);
             w.devices.devices.erase(w.devices.devices.begin());
         },
         1603, u"no USB printer of this model was found: USB002", -1,
         SpoolerOp::AddPrinterDriverExW, 0},
        {"1639 appends to a /log it can read off the line",
         u"/quiet /model \"A4 Printer\" /bogus /log C:\\Logs\\a4.log", nullptr, 1639,
         u"Unknown switch", -1, SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) { EXPECT_TRUE(w.host.logPath == u"C:\\Logs\\a4.log" && w.host.appended); }},
        {"a missing /log folder is made for administrators", kLogged, nullptr, 0, u"installed", -1,
         SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) {
             const MemoryStagingFiles::Node* folder = w.files.Find(u"C:\\Logs");
             EXPECT_TRUE(folder && folder->directory && !folder->othersMayWrite &&
                         w.host.logPath == u"C:\\Logs\\a4.log");
         }},
        {"a /log folder others may write is refused", kLogged,
         [](W w) { w.files.AddFolder(u"C:\\Logs", u"Administrators", true); }, 0,
         u"The log folder C:\\Logs is refused: its permissions let other users write", -1,
         SpoolerOp::AddPrinterDriverExW, -1, -1,
         [](W w) { EXPECT_TRUE(w.host.logPath == u"" && w.host.kept); }},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietWorld world;
        if (row.set != nullptr) {
            row.set(world);
        }
        if (row.refused) {
            world.spooler.FailCall(*row.refused, kErrorAccessDenied);
        }
        EXPECT_EQ(world.Quiet(row.arguments), row.code);
        EXPECT_TRUE(world.Said(row.said)) << Narrow(row.said);
        EXPECT_TRUE(row.unsaid.empty() || !world.Said(row.unsaid)) << Narrow(row.unsaid);
        if (row.starts >= 0) {
            EXPECT_EQ(world.services.CallCount(ServiceOp::StartServiceW), size_t(row.starts));
        }
        if (row.calls >= 0) {
            EXPECT_EQ(world.spooler.CallCount(row.op), size_t(row.calls));
        }
        for (const SpoolerCall& call : world.spooler.Calls()) {
            if (row.flags >= 0 && call.op == row.op) {
                EXPECT_EQ(call.flags, uint32_t(row.flags));
            }
        }
        if (row.then != nullptr) {
            row.then(world);
        }
    }
}

}  // namespace
}  // namespace tde::test
