// The in-memory spooler behaves like the real one where callers can tell:
// sizes and layouts of enumerations, the checks of queue and driver calls, and
// failures injected on a chosen call.
#include "spooler/memory_spooler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

using testing::ElementsAre;

namespace tde {
namespace {

std::u16string Text(const char16_t* text) {
    return text != nullptr ? text : u"(null)";
}

MemorySpooler::Queue MakeQueue(std::u16string name, std::u16string port, std::u16string driver) {
    MemorySpooler::Queue queue;
    queue.name = std::move(name);
    queue.port = std::move(port);
    queue.driver = std::move(driver);
    return queue;
}

class MemorySpoolerTest : public testing::Test {
  protected:
    void SetUp() override {
        spooler.ports = {{u"COM1:"}, {u"LPT1:"}, {u"LPT2:"}};
        MemorySpooler::Driver driver;
        driver.name = u"A4 Printer";
        driver.driverPath = u"ZNWA4UNIV.dll";
        driver.dataFile = u"ZNWA4V.gpd";
        driver.configFile = u"ZNWA4UIV.dll";
        driver.dependentFiles = {u"ZNWA4UIV.dll", u"ZNWA4V.gpd"};
        driver.infPath =
            u"C:\\Windows\\System32\\DriverStore\\FileRepository\\znwa4.inf_x86_5c1e\\znwa4.inf";
        spooler.drivers.push_back(driver);
    }

    PrinterInfo2 Record(const char16_t* name, const char16_t* port = u"LPT1:") {
        PrinterInfo2 record = {};
        record.pPrinterName = name;
        record.pPortName = port;
        record.pDriverName = u"A4 Printer";
        record.pPrintProcessor = u"WinPrint";
        record.pDatatype = u"RAW";
        record.Attributes = kPrinterAttributeLocal;
        return record;
    }

    MemorySpooler spooler;
};

TEST_F(MemorySpoolerTest, EnumerationsAnswerTheirSizeThenFillRecordsAndStrings) {
    uint32_t needed = 0;
    uint32_t returned = 7;
    EXPECT_FALSE(spooler.EnumPortsW(2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(spooler.LastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(returned, 0u);
    // Three records, then each name, monitor and description with its NUL.
    const uint32_t strings = (6 + 6 + 6 + 3 * 11 * 2) * 2;
    EXPECT_EQ(needed, 3 * sizeof(PortInfo2) + strings);

    std::vector<uint8_t> buffer(needed);
    uint32_t stillNeeded = 0;
    EXPECT_FALSE(spooler.EnumPortsW(2, buffer.data(), needed - 1, &stillNeeded, &returned));
    EXPECT_EQ(spooler.LastError(), kErrorInsufficientBuffer);
    ASSERT_TRUE(spooler.EnumPortsW(2, buffer.data(), needed, &stillNeeded, &returned));
    ASSERT_EQ(returned, 3u);
    const auto* ports = reinterpret_cast<const PortInfo2*>(buffer.data());
    for (uint32_t i = 0; i < returned; ++i) {
        // Every string lies inside the buffer, after the records.
        auto at = reinterpret_cast<const uint8_t*>(ports[i].pPortName);
        EXPECT_GE(at, buffer.data() + 3 * sizeof(PortInfo2));
        EXPECT_LT(at, buffer.data() + needed);
        EXPECT_EQ(Text(ports[i].pDescription), u"Local Port");
        EXPECT_EQ(ports[i].fPortType, 1u);
    }
    EXPECT_EQ(Text(ports[0].pPortName), u"COM1:");
    EXPECT_EQ(Text(ports[2].pPortName), u"LPT2:");
}

TEST_F(MemorySpoolerTest, AnEmptyListNeedsNoBytesAndSucceeds) {
    spooler.ports.clear();
    uint32_t needed = 5;
    uint32_t returned = 5;
    EXPECT_TRUE(spooler.EnumPortsW(2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);
}

TEST_F(MemorySpoolerTest, UnknownLevelsAreRefused) {
    uint32_t needed = 0;
    uint32_t returned = 0;
    EXPECT_FALSE(spooler.EnumPortsW(1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidLevel);
    EXPECT_FALSE(spooler.EnumPrinterDriversW(3, nullptr, 0, &needed, &returned));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidLevel);
    EXPECT_FALSE(spooler.GetPrinterDriverDirectoryW(2, nullptr, 0, &needed));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidLevel);
}

TEST_F(MemorySpoolerTest, DriversListAtLevelsOneSixAndEightWithTheInfPathOnlyAtEight) {
    auto list = [&](uint32_t level) {
        SpoolerBuffer buffer = FetchTwice(
            spooler, [&](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
                return spooler.EnumPrinterDriversW(level, bytes, size, needed, returned);
            });
        EXPECT_EQ(buffer.outcome, SpoolerFetch::Filled);
        return buffer;
    };
    uint32_t count = 0;
    SpoolerBuffer one = list(1);
    ASSERT_EQ(count = one.count, 1u);
    EXPECT_EQ(Text(one.Records<DriverInfo1>(&count)[0].pName), u"A4 Printer");

    SpoolerBuffer six = list(6);
    const DriverInfo6* d6 = six.Records<DriverInfo6>(&count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(d6->cVersion, 3u);
    EXPECT_EQ(Text(d6->pEnvironment), u"Windows NT x86");
    EXPECT_EQ(Text(d6->pDriverPath), spooler.driverDirectory + u"\\3\\ZNWA4UNIV.dll");
    ASSERT_NE(d6->pDependentFiles, nullptr);
    EXPECT_EQ(std::u16string(d6->pDependentFiles, 25),
              std::u16string(u"ZNWA4UIV.dll\0ZNWA4V.gpd\0", 25));

    SpoolerBuffer eight = list(8);
    const DriverInfo8* d8 = eight.Records<DriverInfo8>(&count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(Text(d8->pszInfPath), spooler.drivers[0].infPath);
    spooler.drivers[0].infPath.clear();
    SpoolerBuffer unknown = list(8);
    EXPECT_EQ(unknown.Records<DriverInfo8>(&count)->pszInfPath, nullptr);
}

TEST_F(MemorySpoolerTest, PrinterEnumerationHonoursLocalAndConnectionFlags) {
    spooler.queues.push_back(MakeQueue(u"Local", u"LPT1:", u"A4 Printer"));
    MemorySpooler::Queue remote = MakeQueue(u"\\\\server\\Shared", u"", u"A4 Printer");
    remote.connection = true;
    spooler.queues.push_back(remote);
    spooler.queues.push_back(MakeQueue(u"Leaving", u"LPT1:", u"A4 Printer"));
    spooler.queues.back().pendingDeletion = true;
    auto names = [&](uint32_t flags) {
        SpoolerBuffer buffer = FetchTwice(
            spooler, [&](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
                return spooler.EnumPrintersW(flags, 2, bytes, size, needed, returned);
            });
        uint32_t count = 0;
        const PrinterInfo2* records = buffer.Records<PrinterInfo2>(&count);
        std::vector<std::u16string> result;
        for (uint32_t i = 0; i < count; ++i) {
            result.push_back(Text(records[i].pPrinterName));
        }
        return result;
    };
    EXPECT_THAT(names(kPrinterEnumLocal), ElementsAre(u"Local"));
    EXPECT_THAT(names(kPrinterEnumConnections), ElementsAre(u"\\\\server\\Shared"));
    EXPECT_THAT(names(0x46), ElementsAre(u"Local", u"\\\\server\\Shared"));
}

TEST_F(MemorySpoolerTest, GetPrinterDriverDirectoryAnswersThePathWithItsTerminator) {
    uint32_t needed = 0;
    EXPECT_FALSE(spooler.GetPrinterDriverDirectoryW(1, nullptr, 0, &needed));
    EXPECT_EQ(spooler.LastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(needed, (spooler.driverDirectory.size() + 1) * 2);
    std::vector<char16_t> path(needed / 2);
    ASSERT_TRUE(spooler.GetPrinterDriverDirectoryW(1, reinterpret_cast<uint8_t*>(path.data()),
                                                   needed, &needed));
    EXPECT_EQ(std::u16string(path.data()), spooler.driverDirectory);
}

TEST_F(MemorySpoolerTest, QueuesAreCreatedOpenedRePortedAndDeletedThroughHandles) {
    PrinterHandle created = spooler.AddPrinterW(Record(u"A4 Printer"));
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(spooler.OpenHandleCount(), 1u);
    EXPECT_TRUE(spooler.ClosePrinter(created));
    EXPECT_FALSE(spooler.ClosePrinter(created));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidHandle);

    PrinterHandle printer = nullptr;
    ASSERT_TRUE(spooler.OpenPrinterW(u"a4 printer", &printer, kPrinterAllAccess));
    uint32_t needed = 0;
    EXPECT_FALSE(spooler.GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(spooler.LastError(), kErrorInsufficientBuffer);
    std::vector<uint8_t> buffer(needed);
    ASSERT_TRUE(spooler.GetPrinterW(printer, 2, buffer.data(), needed, &needed));
    PrinterInfo2 record = *reinterpret_cast<const PrinterInfo2*>(buffer.data());
    EXPECT_EQ(Text(record.pDatatype), u"RAW");
    record.pPortName = u"LPT9:";
    EXPECT_FALSE(spooler.SetPrinterW(printer, record, 0));
    EXPECT_EQ(spooler.LastError(), kErrorUnknownPort);
    record.pPortName = u"COM1:";
    EXPECT_TRUE(spooler.SetPrinterW(printer, record, 0));
    EXPECT_EQ(spooler.FindQueue(u"A4 Printer")->port, u"COM1:");

    EXPECT_TRUE(spooler.DeletePrinter(printer));
    EXPECT_EQ(spooler.FindQueue(u"A4 Printer"), nullptr);
    EXPECT_FALSE(spooler.DeletePrinter(printer));
    EXPECT_TRUE(spooler.ClosePrinter(printer));
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    EXPECT_FALSE(spooler.OpenPrinterW(u"A4 Printer", &printer, kPrinterAllAccess));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidPrinterName);
    EXPECT_EQ(printer, nullptr);
}

TEST_F(MemorySpoolerTest, AddPrinterChecksWhatTheSpoolerChecks) {
    struct Case {
        PrinterInfo2 record;
        uint32_t error;
    };
    PrinterInfo2 badPort = Record(u"Q", u"NUL9:");
    PrinterInfo2 badDriver = Record(u"Q");
    badDriver.pDriverName = u"No Such Driver";
    PrinterInfo2 badProcessor = Record(u"Q");
    badProcessor.pPrintProcessor = u"Other";
    PrinterInfo2 badDatatype = Record(u"Q");
    badDatatype.pDatatype = u"XPS";
    PrinterInfo2 noName = Record(u"");
    ASSERT_NE(spooler.AddPrinterW(Record(u"Taken")), nullptr);
    // Deleted with jobs waiting: it stays until they print, and cannot be opened.
    PrinterHandle leaving = spooler.AddPrinterW(Record(u"Leaving"));
    spooler.queues.back().jobs = 1;
    EXPECT_TRUE(spooler.DeletePrinter(leaving));
    EXPECT_FALSE(spooler.OpenPrinterW(u"Leaving", &leaving, kPrinterAllAccess));
    const Case cases[] = {{badPort, kErrorUnknownPort},
                          {badDriver, kErrorUnknownPrinterDriver},
                          {badProcessor, kErrorUnknownPrintProcessor},
                          {badDatatype, kErrorInvalidDatatype},
                          {noName, kErrorInvalidParameter},
                          {Record(u"TAKEN"), kErrorPrinterAlreadyExists},
                          {Record(u"leaving"), kErrorPrinterAlreadyExists}};
    for (const Case& c : cases) {
        EXPECT_EQ(spooler.AddPrinterW(c.record), nullptr);
        EXPECT_EQ(spooler.LastError(), c.error);
    }
    EXPECT_EQ(spooler.queues.size(), 2u);
}

TEST_F(MemorySpoolerTest, ANullDatatypeBecomesRawOrAnUnopenableQueueAsConfigured) {
    PrinterInfo2 record = Record(u"Windows");
    record.pDatatype = nullptr;
    PrinterHandle printer = spooler.AddPrinterW(record);
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(spooler.FindQueue(u"Windows")->datatype, u"RAW");
    spooler.ClosePrinter(printer);

    spooler.nullDatatype = MemorySpooler::NullDatatype::Refused;
    record.pPrinterName = u"Wine";
    EXPECT_EQ(spooler.AddPrinterW(record), nullptr);
    EXPECT_EQ(spooler.LastError(), kErrorInvalidPrinterName);
    ASSERT_NE(spooler.FindQueue(u"Wine"), nullptr);  // left behind
    EXPECT_FALSE(spooler.OpenPrinterW(u"Wine", &printer, kPrinterAllAccess));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidPrinterName);
}

TEST_F(MemorySpoolerTest, TheDefaultPrinterMustExistAndGoesWithItsQueue) {
    EXPECT_FALSE(spooler.SetDefaultPrinterW(u"Nowhere"));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidPrinterName);
    PrinterHandle printer = spooler.AddPrinterW(Record(u"A4 Printer"));
    EXPECT_TRUE(spooler.SetDefaultPrinterW(u"A4 Printer"));
    EXPECT_EQ(spooler.defaultPrinter, u"A4 Printer");
    spooler.DeletePrinter(printer);
    spooler.ClosePrinter(printer);
    EXPECT_EQ(spooler.defaultPrinter, u"");
}

TEST_F(MemorySpoolerTest, DriversInUseCannotBeDeletedAndNamesIgnoreCase) {
    PrinterHandle printer = spooler.AddPrinterW(Record(u"A4 Printer"));
    EXPECT_FALSE(spooler.DeletePrinterDriverExW(u"a4 PRINTER", 3, 3));
    EXPECT_EQ(spooler.LastError(), kErrorPrinterDriverInUse);
    spooler.DeletePrinter(printer);
    spooler.ClosePrinter(printer);
    EXPECT_FALSE(spooler.DeletePrinterDriverExW(u"A4 Printer", 3, 4));  // no version 4
    EXPECT_EQ(spooler.LastError(), kErrorUnknownPrinterDriver);
    EXPECT_TRUE(spooler.DeletePrinterDriverExW(u"a4 PRINTER", 3, 3));
    EXPECT_TRUE(spooler.drivers.empty());
}

TEST_F(MemorySpoolerTest, AddPrinterDriverExKeepsBareNamesAndAsksForTheFiles) {
    DriverInfo6 record = {};
    record.cVersion = 3;
    record.pName = u"A3 Printer";
    record.pDriverPath = u"ZNWA3UNIV.dll";
    record.pDataFile = u"ZNWA3V.gpd";
    record.pConfigFile = u"ZNWA3UIV.dll";
    record.pHelpFile = u"znwa3.hlp";
    record.pDependentFiles = u"ZNWA3UIV.dll\0ZNWA3V.gpd\0";
    record.pszMfgName = u"ZNW";
    record.pszProvider = u"ZNW";
    record.dwlDriverVersion = 0x01D9000000000001ull;
    std::vector<std::u16string> asked;
    spooler.driverFileExists = [&](std::u16string_view file) {
        asked.emplace_back(file);
        return file != u"znwa3.hlp";
    };
    EXPECT_FALSE(spooler.AddPrinterDriverExW(record, kApdCopyAllFiles));
    EXPECT_EQ(spooler.LastError(), kErrorFileNotFound);
    EXPECT_EQ(spooler.FindDriver(u"A3 Printer"), nullptr);
    record.pHelpFile = nullptr;
    asked.clear();
    ASSERT_TRUE(spooler.AddPrinterDriverExW(record, kApdCopyAllFiles));
    EXPECT_THAT(asked, ElementsAre(u"ZNWA3UNIV.dll", u"ZNWA3V.gpd", u"ZNWA3UIV.dll",
                                   u"ZNWA3UIV.dll", u"ZNWA3V.gpd"));
    const MemorySpooler::Driver* driver = spooler.FindDriver(u"A3 Printer");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->provider, u"ZNW");
    EXPECT_EQ(driver->driverVersion, 0x01D9000000000001ull);
    EXPECT_THAT(driver->dependentFiles, ElementsAre(u"ZNWA3UIV.dll", u"ZNWA3V.gpd"));
    EXPECT_EQ(driver->infPath, u"");
    record.cVersion = 2;
    EXPECT_FALSE(spooler.AddPrinterDriverExW(record, kApdCopyAllFiles));
    EXPECT_EQ(spooler.LastError(), kErrorInvalidParameter);
}

TEST_F(MemorySpoolerTest, PackagesUploadInstallAndDeleteOrAreAbsent) {
    spooler.packages.push_back({u"C:\\stage\\ZNW.inf", {u"A3 Printer"}, u"", false});
    char16_t store[1024] = {};
    uint32_t chars = 1024;
    std::optional<int32_t> upload = spooler.UploadPrinterDriverPackageW(
        u"C:\\stage\\ZNW.inf", kUpdpSilentUpload | kUpdpUploadAlways, nullptr, store, &chars);
    ASSERT_EQ(upload, 0);
    EXPECT_EQ(std::u16string(store),
              u"C:\\Windows\\System32\\DriverStore\\FileRepository\\ZNW\\ZNW.inf");
    EXPECT_EQ(spooler.InstallPrinterDriverFromPackageW(store, u"Other", kIpdfpCopyAllFiles),
              HresultFromWin32(kErrorUnknownPrinterDriver));
    ASSERT_EQ(spooler.InstallPrinterDriverFromPackageW(store, u"a3 printer", kIpdfpCopyAllFiles),
              0);
    ASSERT_NE(spooler.FindDriver(u"A3 Printer"), nullptr);
    EXPECT_EQ(spooler.FindDriver(u"A3 Printer")->infPath, std::u16string(store));
    EXPECT_EQ(spooler.DeletePrinterDriverPackageW(store),
              HresultFromWin32(kErrorPrinterDriverPackageInUse));
    spooler.DeletePrinterDriverExW(u"A3 Printer", 3, 3);
    EXPECT_EQ(spooler.DeletePrinterDriverPackageW(store), 0);
    EXPECT_EQ(spooler.InstallPrinterDriverFromPackageW(u"", u"A3 Printer", 1),
              HresultFromWin32(kErrorInvalidParameter));

    uint32_t tooFew = 10;
    EXPECT_EQ(
        spooler.UploadPrinterDriverPackageW(u"C:\\stage\\ZNW.inf", 3, nullptr, store, &tooFew),
        HresultFromWin32(kErrorInsufficientBuffer));
    EXPECT_GT(tooFew, 10u);

    spooler.packageFunctionsPresent = false;
    spooler.ClearCalls();
    EXPECT_EQ(spooler.UploadPrinterDriverPackageW(u"C:\\stage\\ZNW.inf", 3, nullptr, store, &chars),
              std::nullopt);
    EXPECT_EQ(spooler.InstallPrinterDriverFromPackageW(store, u"A3 Printer", 1), std::nullopt);
    EXPECT_EQ(spooler.DeletePrinterDriverPackageW(store), std::nullopt);
    EXPECT_TRUE(spooler.Calls().empty());
}

TEST_F(MemorySpoolerTest, AnInjectedFailureHitsOnlyTheChosenCallAndChangesNothing) {
    spooler.FailCall(SpoolerOp::DeletePrinterDriverExW, kErrorPrinterDriverInUse, 1);
    EXPECT_FALSE(spooler.DeletePrinterDriverExW(u"A4 Printer", 3, 3));
    EXPECT_EQ(spooler.LastError(), kErrorPrinterDriverInUse);
    EXPECT_NE(spooler.FindDriver(u"A4 Printer"), nullptr);
    EXPECT_TRUE(spooler.DeletePrinterDriverExW(u"A4 Printer", 3, 3));

    // The second call of an enumeration: the one into the buffer.
    spooler.FailCall(SpoolerOp::EnumPortsW, kErrorNotEnoughMemory, 2);
    SpoolerBuffer ports = FetchTwice(
        spooler, [&](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPortsW(2, bytes, size, needed, returned);
        });
    EXPECT_EQ(ports.outcome, SpoolerFetch::FillFailed);
    EXPECT_EQ(ports.error, kErrorNotEnoughMemory);

    spooler.FailCall(SpoolerOp::SetDefaultPrinterW, 5, MemorySpooler::kEveryCall);
    spooler.queues.push_back(MakeQueue(u"Q", u"LPT1:", u"A4 Printer"));
    EXPECT_FALSE(spooler.SetDefaultPrinterW(u"Q"));
    EXPECT_FALSE(spooler.SetDefaultPrinterW(u"Q"));
    EXPECT_EQ(spooler.defaultPrinter, u"");
    EXPECT_EQ(spooler.CallCount(SpoolerOp::SetDefaultPrinterW), 2u);

    spooler.FailCall(SpoolerOp::AddPrinterW, 1801);
    EXPECT_EQ(spooler.AddPrinterW(Record(u"New")), nullptr);
    EXPECT_EQ(spooler.FindQueue(u"New"), nullptr);
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
}

TEST_F(MemorySpoolerTest, TheCallLogRecordsNamesLevelsFlagsAndBuffers) {
    uint32_t needed = 0;
    uint32_t returned = 0;
    spooler.EnumPrintersW(0x46, 2, nullptr, 0, &needed, &returned);
    PrinterHandle printer = nullptr;
    spooler.OpenPrinterW(u"Missing", &printer, kPrinterAllAccess);
    ASSERT_EQ(spooler.Calls().size(), 2u);
    EXPECT_EQ(spooler.Calls()[0].op, SpoolerOp::EnumPrintersW);
    EXPECT_EQ(spooler.Calls()[0].flags, 0x46u);
    EXPECT_EQ(spooler.Calls()[0].level, 2u);
    EXPECT_FALSE(spooler.Calls()[0].withBuffer);
    EXPECT_EQ(spooler.Calls()[1].name, u"Missing");
    EXPECT_EQ(spooler.Calls()[1].flags, kPrinterAllAccess);
}

}  // namespace
}  // namespace tde
