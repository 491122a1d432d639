// Whole quiet runs over the in-memory machine: from the command line through
// the lock, the check, the port, the test for an installation already whole,
// the workflow or removal and the end state to the exit code.
#include "quiet_world.h"

#include <gtest/gtest.h>

#include <functional>
#include <string_view>
#include <vector>

namespace tde::test {
namespace {

constexpr char16_t kInstall[] = u"/quiet /model \"A4 Printer\" /port USB001";

struct RunRow {
    const char* what;
    const char16_t* arguments;
    std::function<void(QuietWorld&)> set;
    uint32_t code;
    std::vector<std::u16string_view> logged;  // parts of lines of the log
    std::function<void(QuietWorld&)> expect = nullptr;
};

// The model installed by a quiet run, the calls and lines of that run forgotten.
void Installed(QuietWorld& w) {
    ASSERT_EQ(w.Quiet(kInstall), 0u);
    w.spooler.ClearCalls();
    w.host.log.clear();
}

void Stopped(QuietWorld& w) {
    w.services.services[0].state = kServiceStopped;
    w.services.services[0].startDelayMs = 2000;
}

size_t Calls(QuietWorld& w, SpoolerOp op) {
    return w.spooler.CallCount(op);
}

MemorySpooler::Queue Connection(std::u16string driver) {
    return {
        .name = u"\\\\srv\\A4", .port = u"USB001", .driver = std::move(driver), .connection = true};
}

TEST(QuietRun, TableOfRuns) {
    const RunRow rows[] = {
        {"usage",
         u"-?",
         nullptr,
         0,
         {},
         [](QuietWorld& w) {
             ASSERT_EQ(w.host.out.size(), 1u);
             EXPECT_NE(w.host.out[0].find(u"/uninstall /model NAME"), std::u16string::npos);
             EXPECT_FALSE(w.host.logPath.has_value());
         }},
        {"invalid line",
         u"/quiet /model \"A4 Printer\" /port LPT1: /silent",
         nullptr,
         1639,
         {u"Unknown switch: /silent", u"Exit code 1639."},
         [](QuietWorld& w) { EXPECT_TRUE(w.spooler.Calls().empty()); }},
        {"port the spooler does not list",
         u"/quiet /model \"A4 Printer\" /port NOPORT9:",
         nullptr,
         1603,
         {u"does not list the port NOPORT9:; it lists LPT1:, USB001"}},
        {"the port in another letter case: the spooler's spelling",
         u"/quiet /model \"A4 Printer\" "
         u"/port usb001",
         nullptr,
         0,
         {u"A4 Printer installed on USB001. Exit code 0."}},
        {"a stopped spooler is started before the port is looked up",
         kInstall,
         Stopped,
         0,
         {u"installed on USB001"},
         [](QuietWorld& w) {
             EXPECT_EQ(w.services.CallCount(ServiceOp::StartServiceW), 1u);
             EXPECT_EQ(w.spooler.FindQueue(u"A4 Printer")->port, u"USB001");
         }},
        {"lock held by another run",
         kInstall,
         [](QuietWorld& w) { w.lock.state = LockState::HeldElsewhere; },
         1618,
         {u"Another installation is running"},
         [](QuietWorld& w) { EXPECT_TRUE(w.host.appended); }},
        {"/check needs no lock",
         u"/check /model \"A4 Printer\"",
         [](QuietWorld& w) { w.lock.state = LockState::HeldElsewhere; },
         0,
         {u"No driver \"A4 Printer\" is installed"},
         [](QuietWorld& w) { EXPECT_EQ(w.lock.takes, 0); }},
        {"/check over a stopped spooler: a note, nothing started",
         u"/check /model \"A4 Printer\"",
         Stopped,
         0,
         {u"tip.check.spoolerstopped"},
         [](QuietWorld& w) { EXPECT_EQ(w.services.CallCount(ServiceOp::StartServiceW), 0u); }},
        {"/check over a running spooler that does not answer",
         u"/check /model \"A4 Printer\"",
         [](QuietWorld& w) {
             w.spooler.FailCall(SpoolerOp::GetPrinterDriverDirectoryW, kErrorRpcServerUnavailable,
                                MemorySpooler::kEveryCall);
         },
         1603,
         {u"tip.check.spooler"},
         [](QuietWorld& w) { EXPECT_EQ(w.services.CallCount(ServiceOp::StartServiceW), 0u); }},
        {"low space on the staging drive",
         kInstall,
         [](QuietWorld& w) { w.checks.lowDrive = u"C:"; },
         1603,
         {u"tip.check.diskspace"},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::AddPrinterDriverExW), 0u); }},
        {"installed and whole, /default: only the default is set",
         u"/quiet /model \"A4 Printer\" /port USB001 /default",
         Installed,
         0,
         {u"already installed"},
         [](QuietWorld& w) {
             EXPECT_EQ(Calls(w, SpoolerOp::AddPrinterDriverExW), 0u);
             EXPECT_EQ(w.spooler.defaultPrinter, u"A4 Printer");
         }},
        {"/repair installs afresh",
         u"/quiet /model \"A4 Printer\" /port USB001 /repair",
         Installed,
         0,
         {u"Start install"},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::AddPrinterDriverExW), 1u); }},
        {"a driver file altered after a run is installed again",
         kInstall,
         [](QuietWorld& w) {
             Installed(w);
             w.files.AddFile(std::u16string(kDriverDirectory) + u"\\ZNWA4V.gpd", "altered");
         },
         0,
         {u"Start install"},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::AddPrinterDriverExW), 1u); }},
        {"the driver's name in another letter case is the model's",
         kInstall,
         [](QuietWorld& w) {
             Installed(w);
             w.spooler.drivers.back().name = w.spooler.queues.back().driver = u"a4 printer";
         },
         0,
         {u"already installed"}},
        {"only another queue on the model's driver",
         kInstall,
         [](QuietWorld& w) {
             Installed(w);
             w.spooler.queues.back().name = u"Shop A4";
         },
         0,
         {u"\"Shop A4\" used the driver \"A4 Printer\" and was deleted"},
         [](QuietWorld& w) { EXPECT_NE(w.spooler.FindQueue(u"A4 Printer"), nullptr); }},
        {"an earlier staging folder that cannot be removed",
         kInstall,
         [](QuietWorld& w) {
             w.files.AddFolder(u"C:\\Program Files (x86)\\ZNWDriver");
             w.files.AddFolder(kStaging);
             w.files.AddFile(std::u16string(kStaging) + u"old.txt", "old");
             w.files.FailCall(FileOp::DeleteFileW, kErrorAccessDenied,
                              MemoryStagingFiles::kEveryCall);
         },
         1603,
         {u"cannot be removed"},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::AddPrinterDriverExW), 0u); }},
        {"a refusal without an error after a stale 3001 restarts nothing",
         kInstall,
         [](QuietWorld& w) {
             w.AddEarlierInstallation();
             w.spooler.FailCall(SpoolerOp::ClosePrinter, kErrorPrinterDriverInUse, 2);
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, MemorySpooler::kLeaveLastError);
         },
         0,
         {},
         [](QuietWorld& w) { EXPECT_EQ(w.services.CallCount(ServiceOp::StartServiceW), 0u); }},
        {"the package stays while its driver stays",
         kInstall,
         [](QuietWorld& w) {
             w.AddEarlierInstallation();
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorAccessDenied,
                                MemorySpooler::kEveryCall);
         },
         0,
         {},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::DeletePrinterDriverPackageW), 0u); }},
        {"a package install refused without an error after an upload that left one",
         kInstall,
         [](QuietWorld& w) {
             w.spooler.FailCall(SpoolerOp::AddPrinterDriverExW, kErrorAccessDenied);
             w.spooler.uploadLeavesError = kErrorInsufficientBuffer;
             w.spooler.installRefusedSilently = static_cast<int32_t>(0x80004001u);
         },
         1603,
         {u"Install error(2):-2147467263"}},
        {"uninstall: a drivers' list that grows between its two calls",
         u"/uninstall /model "
         u"\"A4 Printer\"",
         [](QuietWorld& w) {
             Installed(w);
             w.spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorInsufficientBuffer, 2);
         },
         1603,
         {u"cannot be read: nothing was removed", u"the driver is still installed"}},
        {"uninstall: a connection on the driver in another letter case stays",
         u"/uninstall /model \"A4 Printer\"",
         [](QuietWorld& w) {
             w.spooler.queues.push_back(Connection(u"a4 printer"));
             w.spooler.FailCall(SpoolerOp::DeletePrinterConnectionW, kErrorAccessDenied,
                                MemorySpooler::kEveryCall);
         },
         1603,
         {u"A4 Printer not removed: a printer still uses the driver"}},
        {"uninstall: a refusal without an error after a refused connection",
         u"/uninstall /model "
         u"\"A4 Printer\"",
         [](QuietWorld& w) {
             Installed(w);
             w.spooler.queues.push_back(Connection(u"A4 Printer"));
             w.spooler.FailCall(SpoolerOp::DeletePrinterConnectionW, kErrorInvalidParameter);
             w.spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, MemorySpooler::kLeaveLastError);
         },
         1603,
         {u"the driver is still installed"},
         [](QuietWorld& w) { EXPECT_EQ(Calls(w, SpoolerOp::DeletePrinterDriverExW), 1u); }},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietWorld world;
        if (row.set) {
            row.set(world);
        }
        EXPECT_EQ(world.Quiet(row.arguments), row.code);
        for (std::u16string_view part : row.logged) {
            EXPECT_TRUE(world.Logged(part)) << Narrow(part);
        }
        if (row.expect) {
            row.expect(world);
        }
        // Every line the run reports is in its log too; the log's last is the result.
        if (!world.host.log.empty()) {
            EXPECT_NE(world.host.log.back().find(u"Exit code " + DecimalText(row.code) + u"."),
                      std::u16string::npos)
                << Narrow(world.host.log.back());
        }
    }
}

}  // namespace
}  // namespace tde::test
