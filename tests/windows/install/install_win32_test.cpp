// The queries, queue operations, printer properties window and spooler restart
// against the machine's own spooler, service manager and shell (under Wine:
// Wine's). Where Wine answers differently from Windows, see the table in
// tests/windows/spooler/spooler_win32_test.cpp; each test removes what it made.
#include "base/collation.h"
#include "spooler/memory_spooler.h"
#include "install/install.h"
#include "support/spooler_fixtures_win32.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <memory>

namespace tde {
namespace {

using test::Utf16;
using test::Wide;

const wchar_t kDriverName[] = L"TDE Wine Install Driver";
const wchar_t kQueueName[] = L"TDE Wine Install Queue";

// Everything of a queue's level-2 record, as text, to compare before and after.
struct QueueSettings {
    std::wstring name, share, port, driver, comment, location, sepFile, processor, datatype,
        parameters;
    DWORD attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0;
    bool read = false;
};

QueueSettings ReadQueue(const std::wstring& name) {
    QueueSettings settings;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) {
        return settings;
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed >= sizeof(PRINTER_INFO_2W) &&
        GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        const auto* r = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        auto text = [](const wchar_t* t) { return t != nullptr ? std::wstring(t) : L""; };
        settings = {text(r->pPrinterName), text(r->pShareName),
                    text(r->pPortName),    text(r->pDriverName),
                    text(r->pComment),     text(r->pLocation),
                    text(r->pSepFile),     text(r->pPrintProcessor),
                    text(r->pDatatype),    text(r->pParameters),
                    r->Attributes,         r->Priority,
                    r->DefaultPriority,    r->StartTime,
                    r->UntilTime,          true};
    }
    ClosePrinter(printer);
    return settings;
}

class InstallWin32Test : public testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!driver.Install(&why)) {
            GTEST_SKIP() << "the spooler cannot register a test driver: " << why;
        }
        for (const std::wstring& port : test::ListedPorts()) {
            if (IsOfferedPort(Utf16(port))) {
                ports.push_back(Utf16(port));
            }
        }
        ASSERT_GE(ports.size(), 2u) << "two offered ports are needed";
        model.driverName = Utf16(kDriverName);
        model.queueName = Utf16(kQueueName);
        model.portName = ports[0];
        model.makeDefault = 0;
    }

    bool IsOfferedPort(const std::u16string& name) {
        std::u16string_view prefix = std::u16string_view(name).substr(0, 3);
        return prefix == u"COM" || prefix == u"LPT" || prefix == u"USB";
    }

    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    RecordingShell shell;
    test::QueueCleanup queueCleanup{kQueueName};
    test::TestDriver driver{kDriverName, L"tdewtins"};
    std::vector<std::u16string> ports;
    PrinterModel model;
};

TEST_F(InstallWin32Test, BothDriverQueriesSeeTheRegisteredDriver) {
    for (bool vista : {true, false}) {
        std::vector<SpoolerEntry> drivers;
        EnumInstalledDrivers(*spooler, vista, drivers);
        auto found = std::find_if(drivers.begin(), drivers.end(), [](const SpoolerEntry& e) {
            return e.driverName == Utf16(kDriverName);
        });
        ASSERT_NE(found, drivers.end()) << (vista ? "level 8" : "level 6");
        EXPECT_EQ(found->printerName, u"");
        EXPECT_EQ(found->infPath, u"");  // registered without a package
    }
    EXPECT_TRUE(IsDriverInstalled(*spooler, model));
    PrinterModel otherCase = model;
    otherCase.driverName = u"tde WINE install DRIVER";
    EXPECT_TRUE(IsDriverInstalled(*spooler, otherCase));
    otherCase.driverName = u"TDE Wine Install Drive";
    EXPECT_FALSE(IsDriverInstalled(*spooler, otherCase));
}

TEST_F(InstallWin32Test, ACreatedQueueIsFoundByItsExactNameAndListedWithItsDriver) {
    EXPECT_FALSE(IsPrinterInstalled(*spooler, model.queueName));
    QueueCreation created = CreatePrinterQueue(*spooler, shell, model);
    ASSERT_TRUE(created.created) << created.error;
    EXPECT_TRUE(IsPrinterInstalled(*spooler, model.queueName));
    EXPECT_FALSE(IsPrinterInstalled(*spooler, u"tde wine install queue"));
    QueueSettings settings = ReadQueue(kQueueName);
    ASSERT_TRUE(settings.read);
    EXPECT_EQ(settings.port, Wide(ports[0]));
    EXPECT_EQ(settings.datatype, L"RAW");
    EXPECT_EQ(settings.processor, L"WinPrint");
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].parameters,
              u" printui.dll, PrintUIEntry /p /n\"TDE Wine Install Queue\" ");

    std::vector<SpoolerEntry> printers;
    EnumInstalledPrinters(*spooler, true, printers);
    auto found = std::find_if(printers.begin(), printers.end(), [&](const SpoolerEntry& e) {
        return e.printerName == model.queueName;
    });
    ASSERT_NE(found, printers.end());
    EXPECT_EQ(found->driverName, model.driverName);
}

TEST_F(InstallWin32Test, SetPrinterPortMovesTheQueueAndNothingElse) {
    ASSERT_TRUE(CreatePrinterQueue(*spooler, shell, model).created);
    QueueSettings before = ReadQueue(kQueueName);
    ASSERT_TRUE(before.read);
    SetPrinterPort(*spooler, model.queueName, ports[1]);
    QueueSettings after = ReadQueue(kQueueName);
    ASSERT_TRUE(after.read);
    EXPECT_EQ(after.port, Wide(ports[1]));
    after.port = before.port;
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.share, before.share);
    EXPECT_EQ(after.driver, before.driver);
    EXPECT_EQ(after.comment, before.comment);
    EXPECT_EQ(after.location, before.location);
    EXPECT_EQ(after.sepFile, before.sepFile);
    EXPECT_EQ(after.processor, before.processor);
    EXPECT_EQ(after.datatype, before.datatype);
    EXPECT_EQ(after.parameters, before.parameters);
    EXPECT_EQ(after.attributes, before.attributes);
    EXPECT_EQ(after.priority, before.priority);
    EXPECT_EQ(after.defaultPriority, before.defaultPriority);
    EXPECT_EQ(after.startTime, before.startTime);
    EXPECT_EQ(after.untilTime, before.untilTime);
}

TEST_F(InstallWin32Test, TheNewQueueBecomesTheDefaultPrinterOnlyWhenAsked) {
    test::DefaultPrinterGuard keepDefault;
    std::wstring previous = test::DefaultPrinter();
    ASSERT_TRUE(CreatePrinterQueue(*spooler, shell, model).created);
    EXPECT_EQ(test::DefaultPrinter(), previous);
    DeletePrinterQueues(*spooler, *CreateWin32Clock(), {model.queueName});

    model.makeDefault = 1;
    ASSERT_TRUE(CreatePrinterQueue(*spooler, shell, model).created);
    EXPECT_EQ(test::DefaultPrinter(), kQueueName);
}

TEST_F(InstallWin32Test, DeletedQueuesAreGoneAfterTheirPauses) {
    ASSERT_TRUE(CreatePrinterQueue(*spooler, shell, model).created);
    FakeClock clock;
    DeletePrinterQueues(*spooler, clock, {u"TDE Wine No Such Queue", model.queueName});
    EXPECT_FALSE(IsPrinterInstalled(*spooler, model.queueName));
    std::vector<std::wstring> queues = test::ListedQueues();
    EXPECT_EQ(std::find(queues.begin(), queues.end(), kQueueName), queues.end());
    EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{200, 200}));
}

TEST_F(InstallWin32Test, AFailedCreationReportsTheSpoolersError) {
    model.driverName = u"TDE Wine No Such Driver";
    QueueCreation created = CreatePrinterQueue(*spooler, shell, model);
    EXPECT_FALSE(created.created);
    EXPECT_EQ(created.error, kErrorUnknownPrinterDriver);
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_FALSE(IsPrinterInstalled(*spooler, model.queueName));
}

// Letters the portable model does not fold: the Windows program compares driver
// names (lstrcmpiW) and typed names (ordinal) as the system folds them.
TEST(NameComparisonWin32Test, DriverAndTypedNamesFoldLettersBeyondLatin1) {
    const std::pair<std::u16string, std::u16string> pairs[] = {
        {u"\u03B1 Printer", u"\u0391 Printer"},   // Greek alpha
        {u"\u00FF Printer", u"\u0178 Printer"},   // y with diaeresis
        {u"\uFF21 Printer", u"\uFF41 Printer"}};  // full-width A
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(testing::Message() << "pair with U+" << std::hex << int(a[0]));
        EXPECT_EQ(CompareDriverNames(a, b), 0);
        EXPECT_TRUE(SameNameIgnoringCase(a, b));
        MemorySpooler spooler;
        MemorySpooler::Driver driver;
        driver.name = a;
        spooler.drivers.push_back(driver);
        PrinterModel model;
        model.driverName = b;
        EXPECT_TRUE(IsDriverInstalled(spooler, model));
    }
    EXPECT_FALSE(SameNameIgnoringCase(u"A4 Printer", u"A4 Printer "));
    EXPECT_FALSE(SameNameIgnoringCase(u"A4 Printer", u"A3 Printer"));
}

TEST(SpoolerServiceWin32Test, TheSpoolerIsRestartedThroughTheServiceManager) {
    test::SpoolerServiceGuard keepState;
    if (keepState.initial() == 0) {
        GTEST_SKIP() << "the service manager knows no Spooler service";
    }
    std::unique_ptr<ServiceControl> services = CreateWin32ServiceControl();
    std::unique_ptr<Clock> clock = CreateWin32Clock();
    EXPECT_TRUE(RestartSpooler(*services, *clock));
    EXPECT_EQ(test::SpoolerServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    // A second restart finds it running and stops it first.
    EXPECT_TRUE(RestartSpooler(*services, *clock));
    EXPECT_EQ(test::SpoolerServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(SpoolerServiceWin32Test, WaitingReportsAFailedQueryAtOnce) {
    std::unique_ptr<ServiceControl> services = CreateWin32ServiceControl();
    FakeClock clock;
    // A handle of the manager is no service handle: the query fails.
    ServiceHandle manager = services->OpenSCManagerW(kScManagerAllAccess);
    ASSERT_NE(manager, nullptr) << services->LastError();
    EXPECT_FALSE(WaitForServiceState(*services, clock, manager, kServiceRunning));
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(services->CloseServiceHandle(manager));
}

// The properties window: rundll32.exe of the system folder starts, never a copy
// planted in the current folder or beside the program.
TEST(ShellWin32Test, PropertiesStartTheSystemsRundll32NotAPlantedOne) {
    test::TemporaryFolder folder;
    ASSERT_FALSE(folder.path().empty());
    test::CurrentFolder current(folder.path());
    test::PlantedFile inCurrentFolder(test::PlantedProgram(), folder.path() + L"\\rundll32.exe");
    test::PlantedFile besideProgram(test::PlantedProgram(),
                                    test::ThisProgramFolder() + L"\\rundll32.exe");
    ASSERT_TRUE(inCurrentFolder.placed());
    ASSERT_TRUE(besideProgram.placed());

    Win32Shell shell;
    shell.keepProcess = true;
    ShowPrinterProperties(shell, u"TDE Wine No Such Queue");
    HANDLE process = static_cast<HANDLE>(shell.TakeProcess());
    ASSERT_NE(process, nullptr) << "nothing was started";
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ASSERT_TRUE(QueryFullProcessImageNameW(process, 0, image, &length));
    EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
    CloseHandle(process);

    // A 32-bit program on 64-bit Windows is redirected to the WOW64 system folder.
    std::wstring started = test::FolderOf(image);
    wchar_t wow64[MAX_PATH] = {};
    UINT wowLength = GetSystemWow64DirectoryW(wow64, MAX_PATH);
    EXPECT_TRUE(test::SamePath(started, Wide(shell.SystemFolder())) ||
                (wowLength > 0 && test::SamePath(started, wow64)))
        << std::string(started.begin(), started.end());
    EXPECT_FALSE(inCurrentFolder.Ran());
    EXPECT_FALSE(besideProgram.Ran());
}

TEST(ShellWin32Test, TheSystemFolderIsKnownAndHasNoTrailingBackslash) {
    Win32Shell shell;
    std::u16string folder = shell.SystemFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_TRUE(test::FileExists(Wide(folder) + L"\\rundll32.exe"));
}

}  // namespace
}  // namespace tde
