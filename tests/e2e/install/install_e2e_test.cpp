// The real installer installs printers under Wine, in a prefix that reports
// Windows 10 (so the certificate step runs) and whose certutil and rundll32 are
// recording programs. After Install is pressed, and while the installer is still
// open (its log is deleted at exit), this program reads back what the run left:
// the driver and its files, the queue on its port, the default printer, the
// staging folder, the log and the command lines of the two programs. It runs
// the three models and then the first again over its earlier installation, and
// prints how long each run took, split by the log's timestamps.
#include "app/resource_ids.h"
#include "install/catalogue.h"
#include "install_checks.h"
#include "installer_process.h"
#include "screenshot.h"
#include "support/spooler_fixtures_win32.h"
#include "text/text.h"
#include "support/wine_child.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tde::e2e {
namespace {

struct Model {
    int index;  // in the model combo box
    std::wstring name;
    DriverFiles files;
};

// The catalogue's models as an installation registers them; the dependent
// files are the configuration and driver modules, the help file and the GPD.
const std::vector<Model> kModels = [] {
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    std::vector<Model> models;
    for (size_t i = 0; i < catalogue.models.size(); ++i) {
        const PrinterModel& m = catalogue.models[i];
        const std::wstring gpd = test::Wide(catalogue.modelNames[i].dataFile);
        const std::wstring config = test::Wide(m.configFile);
        const std::wstring driver = test::Wide(m.driverFile);
        const std::wstring help = test::Wide(m.helpFile);
        models.push_back({int(i),
                          test::Wide(catalogue.modelNames[i].displayName),
                          {driver, config, gpd, help, {config, driver, help, gpd}}});
    }
    return models;
}();

// A second queue on the first model's driver, which a later run must delete.
const wchar_t kExtraQueue[] = L"A4 Printer (second queue)";
const uint32_t kQueueDeletionPauseMs = 200;

std::wstring SystemProgram(const wchar_t* name) {
    return SystemFolder() + L"\\" + name;
}

int MillisecondOfDay(const SYSTEMTIME& t) {
    return ((t.wHour * 60 + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
}

// Removes a model's queues and driver (Wine deletes a driver only with flags 0).
void RemoveFromSpooler(const std::wstring& driver) {
    for (const std::wstring& queue : QueuesUsingDriver(driver)) {
        test::RemoveQueue(queue);
    }
    test::RemoveQueue(driver);
    wchar_t* name = const_cast<wchar_t*>(driver.c_str());
    if (!DeletePrinterDriverExW(nullptr, nullptr, name, 0, 3)) {
        DeletePrinterDriverExW(nullptr, nullptr, name, DPD_DELETE_UNUSED_FILES, 3);
    }
}

bool AddQueue(const std::wstring& name, const std::wstring& driver, const std::wstring& port) {
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<wchar_t*>(name.c_str());
    info.pPortName = const_cast<wchar_t*>(port.c_str());
    info.pDriverName = const_cast<wchar_t*>(driver.c_str());
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// A message box of the installer, if one is showing, other than the dialog.
HWND FindMessageBox(DWORD process, HWND dialog) {
    return FindWindows(process, L"#32770", dialog).found;
}

std::string TextAcross(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return Narrow(text);
}

struct RunOutcome {
    bool started = false;  // the install button was seen disabled
    bool ended = false;    // and enabled again
    double clickToEnabledMs = 0;
    SYSTEMTIME clickTime = {};
    SYSTEMTIME enabledTime = {};
    std::vector<std::string> boxes;  // texts of the message boxes closed meanwhile
};

// Presses Install and waits until the button is enabled again, closing (and
// remembering) any message box on the way; then waits until the click handler
// has returned, which ends with the removal of the staging folder.
RunOutcome PressInstall(HWND dialog, DWORD process) {
    RunOutcome out;
    HWND button = GetDlgItem(dialog, IDC_INSTALL);
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    GetLocalTime(&out.clickTime);
    QueryPerformanceCounter(&start);
    PostMessageW(button, BM_CLICK, 0, 0);
    for (unsigned poll = 0;; ++poll) {
        QueryPerformanceCounter(&now);
        double ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart);
        bool enabled = IsWindowEnabled(button) != FALSE;
        if (!out.started && !enabled) {
            out.started = true;
        } else if (out.started && enabled) {
            GetLocalTime(&out.enabledTime);
            out.clickToEnabledMs = ms;
            out.ended = true;
            break;
        }
        if ((!out.started && ms > 5000) || ms > 300000) {
            break;
        }
        if (poll % 50 == 49) {
            if (HWND box = FindMessageBox(process, dialog)) {
                out.boxes.push_back(TextAcross(GetDlgItem(box, 0xFFFF)));
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                Sleep(200);
            }
        }
        Sleep(1);
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
    return out;
}

// The English texts the installer logs, loaded as the program loads them.
const TextTable& EnglishTexts() {
    static TextTable table;
    static bool loaded = false;
    if (!loaded) {
        std::ifstream in(std::string(TDE_PAYLOAD_DIR) + "\\lan_en.xml", std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        XmlDocument doc;
        loaded = doc.LoadFromMemory(bytes.data(), bytes.size()) && table.MergeLanguageDocument(doc);
    }
    return table;
}

struct Scenario {
    const Model& model;
    const wchar_t* port;
    bool makeDefault;
    const wchar_t* shot;  // screenshot file name
    // When set, certutil takes this long to end: the run must wait for it.
    unsigned certutilDelayMs = 0;
    // When set, a queue of the model's name exists on this other driver: the run
    // moves it to the port and leaves driver and default printer as they are.
    const wchar_t* existingQueueDriver = nullptr;
};

int MillisecondOfDay(const std::string& localTime) {
    int h, m, s, ms;
    if (std::sscanf(localTime.c_str(), "%*d-%*d-%*d %d:%d:%d.%d", &h, &m, &s, &ms) != 4) {
        return -1;
    }
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

class InstallEndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Whatever an earlier run of these tests left goes first.
        for (const Model& model : kModels) {
            RemoveFromSpooler(model.name);
        }
        test::RemoveQueue(kExtraQueue);
    }

    // Installs one model with the real installer and checks what the run left.
    void InstallAndCheck(const Scenario& s) {
        const std::wstring name = s.model.name;
        SCOPED_TRACE(Narrow(name) + " on " + Narrow(s.port));
        ASSERT_FALSE(EnglishTexts().GetText(u"tip.installdriversuccess").empty());
        const std::wstring defaultBefore = CurrentDefaultPrinter();
        const std::vector<std::wstring> oldQueues = QueuesUsingDriver(name);
        const size_t deletedQueues = oldQueues.size();
        // Deleting the default printer takes the default away with it.
        const bool defaultDeleted =
            std::find(oldQueues.begin(), oldQueues.end(), defaultBefore) != oldQueues.end();
        const std::wstring certutil = SystemProgram(L"certutil.exe");
        const std::wstring rundll32 = SystemProgram(L"rundll32.exe");
        DeleteFileW(RecordOf(certutil).c_str());
        DeleteFileW(RecordOf(rundll32).c_str());
        const std::vector<std::wstring> logsBefore = LogFiles();

        // The installer hands its environment on to the programs it starts.
        SetEnvironmentVariableW(
            L"TDE_RECORDING_DELAY_MS",
            s.certutilDelayMs > 0 ? std::to_wstring(s.certutilDelayMs).c_str() : nullptr);
        InstallerProcess installer;
        const bool started = installer.Start();
        SetEnvironmentVariableW(L"TDE_RECORDING_DELAY_MS", nullptr);
        ASSERT_TRUE(started) << "TDE_E2E_EXE names the installer; " << GetLastError();
        HWND dialog = WaitForDialog(installer.Id());
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
        HWND models = GetDlgItem(dialog, IDC_MODEL);
        ASSERT_EQ(SendMessageW(models, CB_SETCURSEL, s.model.index, 0), s.model.index);
        HWND ports = GetDlgItem(dialog, IDC_PORT);
        LRESULT port = SendMessageW(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(s.port));
        ASSERT_NE(port, CB_ERR) << "the port list lacks " << Narrow(s.port);
        SendMessageW(ports, CB_SETCURSEL, port, 0);
        SendMessageW(GetDlgItem(dialog, IDC_DEFAULT_PRINTER), BM_SETCHECK,
                     s.makeDefault ? BST_CHECKED : BST_UNCHECKED, 0);

        RunOutcome run = PressInstall(dialog, installer.Id());
        ASSERT_TRUE(run.started) << "pressing Install did not disable the button";
        ASSERT_TRUE(run.ended) << "the install button was not enabled again";
        for (const std::string& box : run.boxes) {
            ADD_FAILURE() << "the run showed a message box: " << box;
        }

        // What the spooler holds.
        for (const std::string& problem : CheckDriver(name, s.model.files)) {
            ADD_FAILURE() << "driver: " << problem;
        }
        const bool reported = s.existingQueueDriver != nullptr;
        for (const std::string& problem :
             CheckQueue(name, s.port, reported ? s.existingQueueDriver : name)) {
            ADD_FAILURE() << "queue: " << problem;
        }
        EXPECT_EQ(QueuesUsingDriver(name),
                  reported ? std::vector<std::wstring>{} : std::vector<std::wstring>{name})
            << "queues of an earlier installation are still there";
        if (reported) {
            EXPECT_EQ(Narrow(CurrentDefaultPrinter()), Narrow(defaultBefore));
        } else if (s.makeDefault) {
            EXPECT_EQ(Narrow(CurrentDefaultPrinter()), Narrow(name));
        } else if (defaultDeleted) {
            EXPECT_NE(Narrow(CurrentDefaultPrinter()), Narrow(name)) << "made the default unasked";
        } else {
            EXPECT_EQ(Narrow(CurrentDefaultPrinter()), Narrow(defaultBefore));
        }
        std::wstring staging = StagingFolder();
        EXPECT_FALSE(PathExists(staging.substr(0, staging.size() - 1)))
            << "the staging folder is still there: " << Narrow(staging);

        // The log, read before the installer exits and deletes it.
        std::vector<std::wstring> logs = LogFiles();
        std::vector<std::wstring> fresh;
        std::copy_if(logs.begin(), logs.end(), std::back_inserter(fresh), [&](const auto& path) {
            return std::find(logsBefore.begin(), logsBefore.end(), path) == logsBefore.end();
        });
        ASSERT_EQ(fresh.size(), 1u) << "the run made no log file, or several";
        Problems logProblems;
        std::vector<LogEntry> entries = ReadLog(fresh[0], &logProblems);
        for (const std::string& problem : logProblems) {
            ADD_FAILURE() << "log: " << problem;
        }
        std::vector<std::string> messages;
        int previous = MillisecondOfDay(run.clickTime);
        for (const LogEntry& entry : entries) {
            messages.push_back(entry.message);
            EXPECT_EQ(entry.level, "Info") << entry.message;
            EXPECT_GE(entry.millisecondOfDay, previous) << "out of order: " << entry.message;
            previous = entry.millisecondOfDay;
        }
        EXPECT_LE(previous, MillisecondOfDay(run.enabledTime));
        std::vector<std::string> expected = {
            "Start install", Narrow(EnglishTexts().GetText(u"tip.installdriversuccess"))};
        if (reported) {
            expected.push_back("The printer(" + Narrow(name) +
                               ") installed,try to modify the port(" + Narrow(s.port) + ")");
        }
        EXPECT_EQ(messages, expected);

        // The two programs the run started, as they were started.
        std::vector<RecordedCall> trust = ReadRecord(certutil);
        ASSERT_EQ(trust.size(), 1u) << "certutil was not started exactly once";
        EXPECT_TRUE(SameText(trust[0].program, certutil)) << Narrow(trust[0].program);
        EXPECT_EQ(trust[0].separator, L" ");
        EXPECT_EQ(Narrow(trust[0].parameters),
                  Narrow(L"-addstore \"TrustedPublisher\" \"" + staging + L"znw.cer\""));
        EXPECT_EQ(trust[0].show, SW_HIDE);
        // Started in the system folder, never the installer's own.
        EXPECT_TRUE(SameText(trust[0].folder, SystemFolder())) << Narrow(trust[0].folder);
        if (s.certutilDelayMs > 0 && entries.size() >= 2) {
            // The driver is registered, and its line logged, only after certutil ended.
            EXPECT_GE(entries.back().millisecondOfDay,
                      MillisecondOfDay(trust[0].time) + static_cast<int>(s.certutilDelayMs))
                << "the run went on before certutil had ended";
        }
        std::vector<RecordedCall> properties;
        for (int i = 0; i < 50 && properties.empty(); ++i) {  // not waited for by the installer
            properties = ReadRecord(rundll32);
            Sleep(properties.empty() ? 100 : 0);
        }
        ASSERT_EQ(properties.size(), 1u) << "rundll32 was not started exactly once";
        EXPECT_TRUE(SameText(properties[0].program, rundll32)) << Narrow(properties[0].program);
        EXPECT_EQ(properties[0].separator, L" ");
        EXPECT_EQ(Narrow(properties[0].parameters),
                  Narrow(L" printui.dll, PrintUIEntry /p /n\"" + name + L"\" "));
        EXPECT_EQ(properties[0].show, SW_SHOWNORMAL);

        std::wstring shots = Env(L"TDE_E2E_SHOTS");
        if (!shots.empty()) {
            CreateDirectoryW(shots.c_str(), nullptr);
            EXPECT_TRUE(SaveScreenshot(dialog, shots + L"\\" + s.shot));
        }
        ReportTiming(s, run, entries, deletedQueues, trust[0].time);

        SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
        DWORD code = 1234;
        ASSERT_TRUE(installer.WaitForExit(20000, &code)) << "the installer did not end";
        EXPECT_EQ(code, 0u);
        EXPECT_FALSE(PathExists(fresh[0])) << "the log outlived the installer";
    }

    // One line for scripts/bench: the run from the click until the button is
    // enabled, the fixed waits in it, and its phases by the log's timestamps.
    static void ReportTiming(const Scenario& s, const RunOutcome& run,
                             const std::vector<LogEntry>& entries, size_t deletedQueues,
                             const std::string& certutilTime) {
        if (entries.size() < 2) {
            return;
        }
        const int click = MillisecondOfDay(run.clickTime);
        const int started = entries.front().millisecondOfDay;
        const int logged = entries.back().millisecondOfDay;
        const int enabled = MillisecondOfDay(run.enabledTime);
        const int certutilAt = MillisecondOfDay(certutilTime) - started;
        // A deleted queue costs a fixed pause; Wine refuses the flagged driver
        // deletion with 87, never 3001, so no spooler restart wait arises here.
        const double fixed = static_cast<double>(deletedQueues * kQueueDeletionPauseMs);
        std::printf(
            "install-run model=\"%s\" total_ms=%.0f fixed_ms=%.0f rest_ms=%.0f "
            "deleted_queues=%zu removal_ms=%d staging_to_driver_ms=%d queue_ms=%d "
            "certutil_started_after_ms=%d certutil_delay_ms=%u\n",
            Narrow(s.model.name).c_str(), run.clickToEnabledMs, fixed, run.clickToEnabledMs - fixed,
            deletedQueues, started - click, logged - started, enabled - logged, certutilAt,
            s.certutilDelayMs);
        std::fflush(stdout);
    }

    test::DefaultPrinterGuard defaultPrinter_;
};

TEST_F(InstallEndToEnd, ThePrefixHasRecordingProgramsAndReportsWindows8OrLater) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_TRUE(version.dwMajorVersion > 6 ||
                (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2))
        << version.dwMajorVersion << "." << version.dwMinorVersion;

    // Started by hand, each records its command line exactly and the show command.
    struct Case {
        const wchar_t* program;
        const wchar_t* parameters;
        int show;
    };
    const Case cases[] = {
        {L"certutil.exe", L"-addstore \"TrustedPublisher\" \"C:\\a b\\z\x00FC.cer\"", SW_HIDE},
        {L"rundll32.exe", L" printui.dll, PrintUIEntry /p /n\"Q\" ", SW_SHOWNORMAL},
    };
    for (const Case& c : cases) {
        std::wstring program = SystemProgram(c.program);
        SCOPED_TRACE(Narrow(program));
        DeleteFileW(RecordOf(program).c_str());
        std::wstring commandLine = L"\"" + program + L"\" " + c.parameters;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(c.show);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &process))
            << GetLastError();
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
        DWORD code = 1234;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(code, 0u) << "Wine's own program ran, not the recording one";
        std::vector<RecordedCall> calls = ReadRecord(program);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_TRUE(SameText(calls[0].program, program)) << Narrow(calls[0].program);
        EXPECT_EQ(calls[0].separator, L" ");
        EXPECT_EQ(Narrow(calls[0].parameters), Narrow(c.parameters));
        EXPECT_EQ(calls[0].show, c.show);
        DeleteFileW(RecordOf(program).c_str());
    }
}

TEST_F(InstallEndToEnd, InstallsEachModel) {
    // The default box ticked, then not: the second model leaves the first as default.
    // The second run also finds certutil slow, and must wait for it.
    const Scenario scenarios[] = {
        {kModels[0], L"LPT1:", true, L"install-a4.bmp"},
        {kModels[1], L"COM2:", false, L"install-a3.bmp", 700},
        {kModels[2], L"LPT3:", true, L"install-4in.bmp"},
    };
    ASSERT_EQ(std::size(scenarios), kModels.size()) << "a scenario for each model of the catalogue";
    for (const Scenario& s : scenarios) {
        InstallAndCheck(s);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST_F(InstallEndToEnd, SecondRunRemovesTheQueuesOfTheFirst) {
    const Model& model = kModels[0];
    if (QueuesUsingDriver(model.name).empty()) {
        InstallAndCheck({model, L"LPT1:", true, L"install-a4.bmp"});
        if (HasFatalFailure()) {
            return;
        }
    }
    // Two queues on the driver now: the installed one and another of another name.
    ASSERT_TRUE(AddQueue(kExtraQueue, model.name, L"LPT2:")) << GetLastError();
    ASSERT_EQ(QueuesUsingDriver(model.name).size(), 2u);
    // Both go, the queue comes back on the new port, and the default stays.
    InstallAndCheck({model, L"COM3:", false, L"install-a4-again.bmp"});
    std::vector<std::wstring> queues = test::ListedQueues();
    EXPECT_EQ(std::count(queues.begin(), queues.end(), kExtraQueue), 0);
}

TEST_F(InstallEndToEnd, AQueueOfTheModelsNameOnAnotherDriverMovesToThePort) {
    const Model& model = kModels[1];
    const Model& other = kModels[2];
    if (QueuesUsingDriver(other.name).empty()) {
        InstallAndCheck({other, L"LPT3:", true, L"install-4in.bmp"});
        if (HasFatalFailure()) {
            return;
        }
    }
    test::RemoveQueue(model.name);
    ASSERT_TRUE(AddQueue(model.name, other.name, L"LPT2:")) << GetLastError();
    // Ticked, yet the default stays: only a queue the run creates becomes the default.
    InstallAndCheck({model, L"COM4:", true, L"install-a3-moved.bmp", 0, other.name.c_str()});
}

// With the Protected Print policy on, Install shows why it cannot work and
// changes nothing: the earlier installation's queue stays.
TEST_F(InstallEndToEnd, TheProtectedPrintPolicyStopsTheRunBeforeAnythingIsRemoved) {
    const Model& model = kModels[0];
    if (QueuesUsingDriver(model.name).empty()) {
        InstallAndCheck({model, L"LPT1:", true, L"install-a4.bmp"});
        if (HasFatalFailure()) {
            return;
        }
    }
    const std::vector<std::wstring> queues = QueuesUsingDriver(model.name);
    ProtectedPrintPolicyOn policy;
    ASSERT_TRUE(policy.Set());
    InstallerProcess installer;
    ASSERT_TRUE(installer.Start());
    HWND dialog = WaitForDialog(installer.Id());
    ASSERT_NE(dialog, nullptr);
    SendMessageW(GetDlgItem(dialog, IDC_MODEL), CB_SETCURSEL, model.index, 0);
    const RunOutcome run = PressInstall(dialog, installer.Id());
    EXPECT_TRUE(run.ended);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_NE(run.boxes[0].find(Narrow(EnglishTexts().GetText(u"tip.check.protectedprint"))),
              std::string::npos)
        << run.boxes[0];
    EXPECT_EQ(QueuesUsingDriver(model.name), queues);
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    DWORD code = 1234;
    EXPECT_TRUE(installer.WaitForExit(20000, &code));
}

}  // namespace
}  // namespace tde::e2e
