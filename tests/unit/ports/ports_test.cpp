// The port list: which of the spooler's ports are offered and in which order a
// sorted combo box shows them.
#include "ports/ports.h"
#include "spooler/memory_spooler.h"

#include "base/collation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {
namespace {

MemorySpooler SpoolerWithPorts(const std::vector<std::u16string>& names) {
    MemorySpooler spooler;
    for (const std::u16string& name : names) {
        spooler.ports.push_back({name});
    }
    return spooler;
}

std::vector<std::u16string> ListFrom(MemorySpooler& spooler) {
    return SortedPortList(ReadPortNames(spooler));
}

TEST(PortFilterTest, TakesTheThreePrefixesExactlyAndCaseSensitively) {
    for (const char16_t* offered : {u"COM1", u"LPT1:", u"USB001", u"USB", u"COMx", u"LPT"}) {
        EXPECT_TRUE(IsOfferedPort(offered)) << "should be offered";
    }
    for (const char16_t* refused :
         {u"com3", u"Com3", u"IP_10.0.0.1", u"WSD-1234", u"DOT4_001", u"US", u"", u"C", u"FILE:",
          u"nul:", u"XPSPort:", u"PORTPROMPT:", u"usb001", u" COM1"}) {
        EXPECT_FALSE(IsOfferedPort(refused)) << "should not be offered";
    }
}

TEST(PortListTest, ListsSerialParallelAndUsbPortsAlphabeticallyWithTheFirstSelected) {
    MemorySpooler spooler = SpoolerWithPorts(
        {u"USB001", u"FILE:", u"COM2", u"PORTPROMPT:", u"LPT1", u"nul:", u"XPSPort:", u"COM1"});
    std::vector<std::u16string> list = ListFrom(spooler);
    EXPECT_THAT(list, ElementsAre(u"COM1", u"COM2", u"LPT1", u"USB001"));
    // Index 0, the one selected, is a serial port even with a USB printer connected.
    EXPECT_EQ(list.front(), u"COM1");
}

TEST(PortListTest, SortsAlphabeticallyNotNumerically) {
    MemorySpooler spooler = SpoolerWithPorts({u"COM2", u"COM10"});
    EXPECT_THAT(ListFrom(spooler), ElementsAre(u"COM10", u"COM2"));
}

TEST(PortListTest, LeavesOutLowerCaseNetworkAndDot4Ports) {
    MemorySpooler spooler =
        SpoolerWithPorts({u"com3", u"IP_192.168.1.20", u"WSD-6c1e1b5a-0001", u"DOT4_001", u"LPT2"});
    EXPECT_THAT(ListFrom(spooler), ElementsAre(u"LPT2"));
}

TEST(PortListTest, TakesAPortNamedExactlyUsbButNotUs) {
    MemorySpooler spooler = SpoolerWithPorts({u"US", u"USB"});
    EXPECT_THAT(ListFrom(spooler), ElementsAre(u"USB"));
}

TEST(PortListTest, KeepsDuplicatesAndTheSpoolersColons) {
    MemorySpooler spooler = SpoolerWithPorts(
        {u"COM1:", u"COM2:", u"COM3:", u"COM4:", u"FILE:", u"LPT1:", u"LPT2:", u"LPT3:", u"LPT1:"});
    EXPECT_THAT(ListFrom(spooler), ElementsAre(u"COM1:", u"COM2:", u"COM3:", u"COM4:", u"LPT1:",
                                               u"LPT1:", u"LPT2:", u"LPT3:"));
}

TEST(PortListTest, DoesNotDependOnTheSpoolersOrderExceptAmongEqualNames) {
    std::vector<std::u16string> names = {u"USB002", u"COM10", u"LPT1", u"COM2",
                                         u"USB001", u"COM1",  u"LPT3", u"COM1:"};
    std::vector<std::u16string> expected = SortedPortList(names);
    std::sort(names.begin(), names.end());
    do {
        ASSERT_EQ(SortedPortList(names), expected);
    } while (std::next_permutation(names.begin(), names.begin() + 5));
    EXPECT_TRUE(std::is_sorted(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return CompareNamesIgnoreCase(a, b) < 0;
    }));
}

// Names equal but for letter case: the combo box's binary search inserts before
// the first equal item it meets. Wine's combo box gave exactly this order.
TEST(PortListTest, InsertsNamesEqualButForCaseWhereTheComboBoxDoes) {
    std::vector<std::u16string> list =
        SortedPortList({u"COMa", u"COMb", u"COMA", u"COMB", u"COMa", u"COMc", u"COMC", u"COMA"});
    EXPECT_THAT(
        list, ElementsAre(u"COMA", u"COMA", u"COMa", u"COMa", u"COMB", u"COMb", u"COMC", u"COMc"));
}

TEST(PortListTest, SortedInsertPositionFindsEndsAndMiddles) {
    std::vector<std::u16string> items = {u"COM1", u"COM3", u"LPT1"};
    EXPECT_EQ(SortedInsertPosition({}, u"COM1"), 0u);
    EXPECT_EQ(SortedInsertPosition(items, u"COM0"), 0u);
    EXPECT_EQ(SortedInsertPosition(items, u"COM2"), 1u);
    EXPECT_EQ(SortedInsertPosition(items, u"com3"), 1u);
    EXPECT_EQ(SortedInsertPosition(items, u"USB001"), 3u);
}

TEST(PortListTest, StaysEmptyWhenTheSpoolerHasNoPortsAndAsksOnlyOnce) {
    MemorySpooler spooler;
    EXPECT_THAT(ReadPortNames(spooler), IsEmpty());
    ASSERT_EQ(spooler.Calls().size(), 1u);
    EXPECT_EQ(spooler.Calls()[0].op, SpoolerOp::EnumPortsW);
    EXPECT_EQ(spooler.Calls()[0].level, 2u);
    EXPECT_FALSE(spooler.Calls()[0].withBuffer);
}

TEST(PortListTest, StaysEmptyWhenNoPortPassesTheFilter) {
    MemorySpooler spooler = SpoolerWithPorts({u"FILE:", u"nul:"});
    EXPECT_THAT(ListFrom(spooler), IsEmpty());
}

TEST(PortListTest, ReadsNothingWhenTheSecondEnumerationFails) {
    MemorySpooler spooler = SpoolerWithPorts({u"COM1", u"LPT1"});
    spooler.FailCall(SpoolerOp::EnumPortsW, kErrorInsufficientBuffer, 2);
    EXPECT_THAT(ReadPortNames(spooler), IsEmpty());
    EXPECT_EQ(spooler.CallCount(SpoolerOp::EnumPortsW), 2u);
}

TEST(PortListTest, ReadsEveryNameInTheSpoolersOrder) {
    MemorySpooler spooler = SpoolerWithPorts({u"LPT1", u"FILE:", u"COM1"});
    EXPECT_THAT(ReadPortNames(spooler), ElementsAre(u"LPT1", u"FILE:", u"COM1"));
    EXPECT_THAT(OfferedPorts(ReadPortNames(spooler)), ElementsAre(u"LPT1", u"COM1"));
}

}  // namespace
}  // namespace tde
