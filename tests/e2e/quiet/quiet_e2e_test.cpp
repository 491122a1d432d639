// Unattended runs of the real TarnDovEzuvar.exe, checked from outside: the full
// exit code (GetExitCodeProcess; wine itself keeps only 8 bits), what the
// spooler holds afterwards, the kept log, and that no window and no rundll32
// ever appear.
#include "install/catalogue.h"
#include "quiet/quiet_run.h"
#include "installer_process.h"
#include "support/shop_queues_win32.h"
#include "support/text.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <winspool.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

using tde::e2e::Env;
using tde::test::AddShopQueue;
using tde::test::FlipFirstByte;
using tde::test::InstalledDriverFile;
using tde::test::QueueComment;
using tde::test::SetQueueComment;

struct Outcome {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;    // standard output and error together
    int windowsSeen = 0;   // visible top-level windows of the run
    int rundll32Seen = 0;  // rundll32.exe processes seen during the run
};

std::wstring TempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

int CountRundll32() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int found = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"rundll32.exe") == 0) {
            ++found;
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::string ReadFileText(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

// Runs the installer with the arguments, output into a file, and watches it.
Outcome RunInstaller(const std::wstring& arguments) {
    Outcome outcome;
    const std::wstring exe = Env(L"TDE_E2E_EXE");
    const std::wstring outputPath = TempFile(L"tde_quiet_output.txt");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (exe.empty() || output == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no installer or no output file";
        return outcome;
    }
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
        CloseHandle(output);
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return outcome;
    }
    CloseHandle(output);
    const int rundll32Before = CountRundll32();
    for (int waited = 0; WaitForSingleObject(info.hProcess, 25) == WAIT_TIMEOUT; waited += 25) {
        outcome.windowsSeen += tde::e2e::FindWindows(info.dwProcessId, nullptr).count;
        const int rundll32 = CountRundll32() - rundll32Before;
        outcome.rundll32Seen += rundll32 > 0 ? rundll32 : 0;
        if (waited > 240000) {
            TerminateProcess(info.hProcess, 99);
            ADD_FAILURE() << "the run did not end in four minutes";
        }
    }
    GetExitCodeProcess(info.hProcess, &outcome.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);

    outcome.output = ReadFileText(outputPath);
    DeleteFileW(outputPath.c_str());
    return outcome;
}

bool DriverInstalled(const std::wstring& name) {
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumPrinterDriversW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return false;
    }
    auto* drivers = reinterpret_cast<DRIVER_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (lstrcmpiW(drivers[i].pName, name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

struct Queue {
    std::wstring name, port, driver, comment;
};

std::vector<Queue> Queues() {
    std::vector<Queue> queues;
    DWORD needed = 0, count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return queues;
    }
    auto* printers = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        queues.push_back({printers[i].pPrinterName,
                          printers[i].pPortName ? printers[i].pPortName : L"",
                          printers[i].pDriverName ? printers[i].pDriverName : L"",
                          printers[i].pComment ? printers[i].pComment : L""});
    }
    return queues;
}

std::wstring DefaultPrinter() {
    wchar_t name[512] = {};
    DWORD size = 512;
    return GetDefaultPrinterW(name, &size) ? name : L"";
}

using tde::test::Narrow;

// The catalogue's models, in combo box order.
const std::vector<std::wstring> kModels = [] {
    tde::ModelCatalogue catalogue;
    tde::BuildModelCatalogue(catalogue);
    std::vector<std::wstring> names;
    for (const tde::ModelName& model : catalogue.modelNames) {
        names.push_back(tde::test::Wide(model.displayName));
    }
    return names;
}();

TEST(QuietE2E, InvalidCommandLinesGive1639WithoutTouchingAnything) {
    const wchar_t* const lines[] = {
        L"/quiet /model \"A4 Printer\" /port LPT1: /silent",
        L"/quiet /model \"A9 Printer\" /port LPT1:",
        L"-quiet -model:\"A4 Printer\"",
        L"/uninstall /model",
    };
    for (const wchar_t* line : lines) {
        SCOPED_TRACE(Narrow(line));
        const Outcome outcome = RunInstaller(line);
        EXPECT_EQ(outcome.exitCode, 1639u) << outcome.output;
        EXPECT_NE(outcome.output.find("Exit code 1639."), std::string::npos) << outcome.output;
        EXPECT_EQ(outcome.windowsSeen, 0);
    }
    const Outcome usage = RunInstaller(L"-?");
    EXPECT_EQ(usage.exitCode, 0u);
    EXPECT_NE(usage.output.find("/uninstall /model NAME"), std::string::npos) << usage.output;
}

TEST(QuietE2E, CheckWithTheProtectedPrintPolicyOnGives1603AndNamesIt) {
    tde::e2e::ProtectedPrintPolicyOn policy;
    ASSERT_TRUE(policy.Set());
    const Outcome outcome = RunInstaller(L"/check /model \"A4 Printer\"");
    EXPECT_EQ(outcome.exitCode, 1603u) << outcome.output;
    EXPECT_NE(outcome.output.find("Configure Windows protected print"), std::string::npos)
        << outcome.output;
}

TEST(QuietE2E, HeldLockGives1618) {
    HANDLE lock = CreateMutexW(nullptr, TRUE, tde::kInstallerLockName);
    ASSERT_NE(lock, nullptr) << GetLastError();
    // The /log file may be the running installation's own: appended to, never emptied.
    const std::wstring logPath = TempFile(L"tde quiet held.log");
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "earlier run\n", 12, &written, nullptr);
    CloseHandle(file);
    const Outcome outcome =
        RunInstaller(L"/uninstall /model \"A4 Printer\" /log \"" + logPath + L"\"");
    EXPECT_EQ(outcome.exitCode, 1618u) << outcome.output;
    const std::string log = ReadFileText(logPath);
    EXPECT_EQ(log.rfind("earlier run\n", 0), 0u) << log;
    EXPECT_NE(log.find("Exit code 1618."), std::string::npos) << log;
    DeleteFileW(logPath.c_str());
    ReleaseMutex(lock);
    CloseHandle(lock);
}

TEST(QuietE2E, PortAutoWithoutUsbPrinterGives1603AndKeepsTheLog) {
    const Outcome outcome = RunInstaller(L"/quiet /model \"A3 Printer\" /port auto");
    EXPECT_EQ(outcome.exitCode, 1603u) << outcome.output;
    EXPECT_NE(outcome.output.find("no USB printer was found"), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.windowsSeen, 0);
    // Without /log the per-run log of a failed run stays, and its path is printed.
    const std::string kept = "The log is kept at ";
    const size_t at = outcome.output.find(kept);
    ASSERT_NE(at, std::string::npos) << outcome.output;
    const size_t end = outcome.output.find_first_of("\r\n", at);
    const std::string path = outcome.output.substr(at + kept.size(), end - at - kept.size());
    const std::wstring widePath(path.begin(), path.end());
    EXPECT_NE(ReadFileText(widePath).find("Exit code 1603."), std::string::npos) << path;
    DeleteFileW(widePath.c_str());
}

TEST(QuietE2E, LogPathThatIsALinkIsRefused) {
    const std::wstring target = TempFile(L"tde quiet target.txt");
    const std::wstring link = TempFile(L"tde quiet link.log");
    DeleteFileW(link.c_str());
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "keep", 4, &written, nullptr);
    CloseHandle(file);
    // Wine makes hard links, not symbolic ones; a second name counts as a link too.
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), target.c_str(), nullptr)) << GetLastError();
    const Outcome outcome =
        RunInstaller(L"/uninstall /model \"4In Printer\" /log \"" + link + L"\"");
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.output;
    EXPECT_NE(outcome.output.find("is a link"), std::string::npos) << outcome.output;
    EXPECT_EQ(ReadFileText(target), "keep");
    DeleteFileW(link.c_str());
    DeleteFileW(target.c_str());
}

// A newer package over a till the shop set up: the driver is updated in place,
// the queue keeps its comment and a queue of another name on the driver stays.
TEST(QuietE2E, AnInstallOverAChangedGpdUpdatesTheDriverAndKeepsTheQueues) {
    const wchar_t* const install = L"/quiet /model \"A4 Printer\" /port LPT1:";
    ASSERT_EQ(RunInstaller(install).exitCode, 0u);
    ASSERT_TRUE(SetQueueComment(L"A4 Printer", L"till 2"));
    ASSERT_TRUE(AddShopQueue(L"Labels", L"LPT2:", L"A4 Printer", L"labels")) << GetLastError();
    const std::wstring gpd = InstalledDriverFile(L"ZNWA4V.gpd");
    const std::string package = FlipFirstByte(gpd);
    ASSERT_FALSE(package.empty()) << Narrow(gpd);

    const Outcome upgrade = RunInstaller(install);
    EXPECT_EQ(upgrade.exitCode, 0u) << upgrade.output;
    EXPECT_NE(upgrade.output.find("is updated in place"), std::string::npos) << upgrade.output;
    EXPECT_EQ(QueueComment(L"A4 Printer"), L"till 2");
    EXPECT_EQ(QueueComment(L"Labels"), L"labels");
    EXPECT_EQ(ReadFileText(gpd), package);
    EXPECT_EQ(RunInstaller(L"/uninstall /model \"A4 Printer\"").exitCode, 0u);
}

TEST(QuietE2E, InstallsEachModelAndUninstallsTwice) {
    const wchar_t* const ports[] = {L"lpt1:", L"COM2:", L"FILE:"};
    const wchar_t* const spooled[] = {L"LPT1:", L"COM2:", L"FILE:"};
    const std::wstring logPath = TempFile(L"tde quiet install.log");
    for (size_t m = 0; m < kModels.size(); ++m) {
        SCOPED_TRACE(Narrow(kModels[m]));
        DeleteFileW(logPath.c_str());
        const wchar_t* const port = ports[m % std::size(ports)];
        const wchar_t* const spooledPort = spooled[m % std::size(spooled)];
        const Outcome outcome = RunInstaller(L"/QUIET /model \"" + kModels[m] + L"\" -port=" +
                                             port + L" /default /log \"" + logPath + L"\"");
        EXPECT_EQ(outcome.exitCode, 0u) << outcome.output;
        EXPECT_EQ(outcome.windowsSeen, 0);
        EXPECT_EQ(outcome.rundll32Seen, 0);
        EXPECT_TRUE(DriverInstalled(kModels[m]));
        bool found = false;
        for (const Queue& queue : Queues()) {
            if (queue.name == kModels[m]) {
                found = true;
                EXPECT_EQ(queue.port, spooledPort);
                EXPECT_EQ(queue.driver, kModels[m]);
            }
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(DefaultPrinter(), kModels[m]);
        // The log outlives the run and holds the workflow's lines and the result.
        const std::string log = ReadFileText(logPath);
        EXPECT_NE(log.find("] [Info] Start install"), std::string::npos) << log;
        EXPECT_NE(log.find("installed on " + Narrow(spooledPort)), std::string::npos) << log;
    }
    DeleteFileW(logPath.c_str());
    // Again over the earlier installation, on another port: the queue moves, and says so.
    const Outcome again = RunInstaller(L"/quiet /model \"a4 printer\" /port COM1:");
    EXPECT_EQ(again.exitCode, 0u) << again.output;
    EXPECT_NE(again.output.find("\"A4 Printer\" moves from port LPT1: to COM1:"), std::string::npos)
        << again.output;
    // Installed and whole on that port: the next run changes nothing; /repair does.
    ASSERT_TRUE(SetQueueComment(L"A4 Printer", L"by the till"));
    const Outcome second = RunInstaller(L"/quiet /model \"A4 Printer\" /port COM1: /norestart");
    EXPECT_EQ(second.exitCode, 0u) << second.output;
    EXPECT_NE(second.output.find("already installed"), std::string::npos) << second.output;
    EXPECT_EQ(QueueComment(L"A4 Printer"), L"by the till");
    const Outcome repaired = RunInstaller(L"/quiet /model \"A4 Printer\" /port COM1: /repair");
    EXPECT_EQ(repaired.exitCode, 0u) << repaired.output;
    EXPECT_EQ(QueueComment(L"A4 Printer"), L"");

    // The package's rollback, by hand (Wine's msiexec never starts it): A4's queue
    // stood before the runs since, so it stays; A3's was made and marked by its run.
    const Outcome before = RunInstaller(L"/rollback /model \"A4 Printer\"");
    EXPECT_EQ(before.exitCode, 0u) << before.output;
    EXPECT_NE(before.output.find("nothing to roll back"), std::string::npos) << before.output;
    EXPECT_EQ(QueueComment(L"A4 Printer"), L"");
    const Outcome made = RunInstaller(L"/rollback /model \"A3 Printer\"");
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    EXPECT_FALSE(DriverInstalled(L"A3 Printer"));
    EXPECT_EQ(QueueComment(L"A3 Printer"), L"(no queue)");
    const Outcome cleared = RunInstaller(L"/rollback /model \"A3 Printer\"");
    EXPECT_NE(cleared.output.find("nothing to roll back"), std::string::npos) << cleared.output;

    for (int round = 0; round < 2; ++round) {
        for (const std::wstring& model : kModels) {
            SCOPED_TRACE(Narrow(model) + " round " + std::to_string(round));
            const Outcome outcome =
                RunInstaller(std::wstring(L"/uninstall /model \"") + model + L"\"");
            EXPECT_EQ(outcome.exitCode, 0u) << outcome.output;
            EXPECT_EQ(outcome.windowsSeen, 0);
            EXPECT_FALSE(DriverInstalled(model));
            for (const Queue& queue : Queues()) {
                EXPECT_NE(queue.driver, model) << Narrow(queue.name);
            }
        }
    }
}

}  // namespace
