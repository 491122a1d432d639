// The installed-driver and printer queries over the in-memory spooler.
#include "install/install.h"
#include "spooler/memory_spooler.h"
#include "support/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {

// Readable failures for entry lists.
void PrintTo(const SpoolerEntry& entry, std::ostream* out) {
    using test::Narrow;
    *out << "{" << Narrow(entry.printerName) << ", " << Narrow(entry.driverName) << ", "
         << Narrow(entry.infPath) << "}";
}
bool operator==(const SpoolerEntry& a, const SpoolerEntry& b) {
    return a.printerName == b.printerName && a.driverName == b.driverName && a.infPath == b.infPath;
}

namespace {

const char16_t kA4Inf[] =
    u"C:\\Windows\\System32\\DriverStore\\FileRepository\\znwa4.inf_x86_1\\znwa4.inf";

MemorySpooler::Driver MakeDriver(std::u16string name, std::u16string infPath) {
    MemorySpooler::Driver driver;
    driver.name = std::move(name);
    driver.infPath = std::move(infPath);
    return driver;
}

MemorySpooler::Queue MakeQueue(std::u16string name, std::u16string driver,
                               bool connection = false) {
    MemorySpooler::Queue queue;
    queue.name = std::move(name);
    queue.port = u"LPT1:";
    queue.driver = std::move(driver);
    queue.connection = connection;
    return queue;
}

class QueriesTest : public testing::Test {
  protected:
    void SetUp() override {
        spooler.drivers = {MakeDriver(u"A4 Printer", kA4Inf), MakeDriver(u"Generic", u"")};
        spooler.queues = {MakeQueue(u"A4 Printer", u"A4 Printer"), MakeQueue(u"Office", u"Generic"),
                          MakeQueue(u"\\\\desk\\A4 Printer", u"A4 Printer", true)};
        model.driverName = u"A4 Printer";
    }
    MemorySpooler spooler;
    PrinterModel model;
    std::vector<SpoolerEntry> list = {{u"stale", u"stale", u"stale"}};
};

TEST_F(QueriesTest, DriversCarryTheirInfPathsFromVistaOn) {
    EnumInstalledDrivers(spooler, true, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"", u"A4 Printer", kA4Inf},
                                  SpoolerEntry{u"", u"Generic", u""}));
    ASSERT_EQ(spooler.Calls().size(), 2u);
    EXPECT_EQ(spooler.Calls()[0].level, 8u);
    EXPECT_EQ(spooler.Calls()[1].level, 8u);
}

TEST_F(QueriesTest, DriversOnWindowsXpAreReadAtLevelSixWithoutInfPaths) {
    EnumInstalledDrivers(spooler, false, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"", u"A4 Printer", u""},
                                  SpoolerEntry{u"", u"Generic", u""}));
    EXPECT_EQ(spooler.Calls()[0].level, 6u);
}

TEST_F(QueriesTest, DriverListEndsEmptyWheneverTheEnumerationCannotComplete) {
    spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorNotEnoughMemory, 2);
    EnumInstalledDrivers(spooler, true, list);
    EXPECT_THAT(list, IsEmpty());

    list = {{u"stale", u"stale", u"stale"}};
    spooler.drivers.clear();
    EnumInstalledDrivers(spooler, true, list);
    EXPECT_THAT(list, IsEmpty());
}

TEST_F(QueriesTest, PrintersIncludeConnectionsAndTheirDriversInfPath) {
    EnumInstalledPrinters(spooler, true, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"A4 Printer", u"A4 Printer", kA4Inf},
                                  SpoolerEntry{u"Office", u"Generic", u""},
                                  SpoolerEntry{u"\\\\desk\\A4 Printer", u"A4 Printer", kA4Inf}));
    const SpoolerCall& printers = spooler.Calls().back();
    EXPECT_EQ(printers.op, SpoolerOp::EnumPrintersW);
    EXPECT_EQ(printers.flags, kPrinterEnumLocal | kPrinterEnumConnections);
    EXPECT_EQ(printers.level, 2u);
}

TEST_F(QueriesTest, PrintersMatchTheirDriverForTheInfPathExactly) {
    spooler.queues = {MakeQueue(u"Lower", u"a4 printer")};
    EnumInstalledPrinters(spooler, true, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"Lower", u"a4 printer", u""}));
}

// Two records of one driver name (two driver packages): both are listed, and
// the first one's INF path is the one a printer of that driver carries.
TEST_F(QueriesTest, TheFirstOfTwoSameNamedDriverRecordsGivesTheInfPath) {
    const std::u16string second =
        u"C:\\Windows\\System32\\DriverStore\\FileRepository\\znwa4.inf_x86_2\\znwa4.inf";
    spooler.drivers = {MakeDriver(u"Generic", u""), MakeDriver(u"A4 Printer", kA4Inf),
                       MakeDriver(u"A4 Printer", second)};
    EnumInstalledDrivers(spooler, true, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"", u"Generic", u""},
                                  SpoolerEntry{u"", u"A4 Printer", kA4Inf},
                                  SpoolerEntry{u"", u"A4 Printer", second}));
    EnumInstalledPrinters(spooler, true, list);
    EXPECT_THAT(list, ElementsAre(SpoolerEntry{u"A4 Printer", u"A4 Printer", kA4Inf},
                                  SpoolerEntry{u"Office", u"Generic", u""},
                                  SpoolerEntry{u"\\\\desk\\A4 Printer", u"A4 Printer", kA4Inf}));
}

TEST_F(QueriesTest, PrintersOnWindowsXpHaveNoInfPathsAndNoDriverEnumeration) {
    EnumInstalledPrinters(spooler, false, list);
    ASSERT_EQ(list.size(), 3u);
    for (const SpoolerEntry& entry : list) {
        EXPECT_EQ(entry.infPath, u"");
    }
    EXPECT_EQ(spooler.CallCount(SpoolerOp::EnumPrinterDriversW), 0u);
}

TEST_F(QueriesTest, PrintersAreStillListedWhenTheDriverListFails) {
    spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorNotEnoughMemory, 1);
    EnumInstalledPrinters(spooler, true, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].infPath, u"");
}

TEST_F(QueriesTest, PrinterListEndsEmptyWhenTheEnumerationFailsOrThereAreNone) {
    spooler.FailCall(SpoolerOp::EnumPrintersW, kErrorInsufficientBuffer, 2);
    EnumInstalledPrinters(spooler, true, list);
    EXPECT_THAT(list, IsEmpty());
    spooler.queues.clear();
    EnumInstalledPrinters(spooler, true, list);
    EXPECT_THAT(list, IsEmpty());
}

TEST_F(QueriesTest, DriverIsInstalledIgnoresLetterCaseUnlikeTheListMatching) {
    model.driverName = u"a4 PRINTER";
    EXPECT_TRUE(IsDriverInstalled(spooler, model));
    EXPECT_EQ(spooler.Calls()[0].level, 1u);
    EnumInstalledDrivers(spooler, true, list);
    EXPECT_EQ(
        std::count_if(list.begin(), list.end(),
                      [&](const SpoolerEntry& e) { return e.driverName == model.driverName; }),
        0);
    model.driverName = u"A4 Printer 2";
    EXPECT_FALSE(IsDriverInstalled(spooler, model));
}

TEST_F(QueriesTest, DriverIsNotInstalledWhenTheEnumerationFailsOrIsEmpty) {
    spooler.FailCall(SpoolerOp::EnumPrinterDriversW, kErrorNotEnoughMemory, 2);
    EXPECT_FALSE(IsDriverInstalled(spooler, model));
    spooler.drivers.clear();
    EXPECT_FALSE(IsDriverInstalled(spooler, model));
}

TEST_F(QueriesTest, PrinterIsInstalledOnlyUnderItsExactName) {
    EXPECT_TRUE(IsPrinterInstalled(spooler, u"A4 Printer"));
    EXPECT_EQ(spooler.Calls()[0].flags, 0x46u);
    EXPECT_TRUE(IsPrinterInstalled(spooler, u"\\\\desk\\A4 Printer"));
    EXPECT_FALSE(IsPrinterInstalled(spooler, u"a4 printer"));
    EXPECT_FALSE(IsPrinterInstalled(spooler, u"A4 Printe"));
    EXPECT_FALSE(IsPrinterInstalled(spooler, u"A4 Printer "));
    EXPECT_FALSE(IsPrinterInstalled(spooler, u""));
}

TEST_F(QueriesTest, NoPrintersAtAllAnswersFalseWithoutASecondCall) {
    spooler.queues.clear();
    EXPECT_FALSE(IsPrinterInstalled(spooler, u"A4 Printer"));
    EXPECT_EQ(spooler.CallCount(SpoolerOp::EnumPrintersW), 1u);
}

TEST_F(QueriesTest, PrinterIsNotInstalledWhenTheSecondEnumerationFails) {
    spooler.FailCall(SpoolerOp::EnumPrintersW, kErrorInsufficientBuffer, 2);
    EXPECT_FALSE(IsPrinterInstalled(spooler, u"A4 Printer"));
}

}  // namespace
}  // namespace tde
