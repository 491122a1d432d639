// The two-call helper and the name comparison.
#include "spooler/memory_spooler.h"

#include "base/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace tde {
namespace {

// Answers for FetchTwice from a script instead of a spooler.
struct ScriptedCall {
    ScriptedCall(uint32_t size, bool fills, uint32_t count)
        : sizeAnswer(size), fillSucceeds(fills), countAnswer(count) {}
    uint32_t sizeAnswer;
    bool fillSucceeds;
    uint32_t countAnswer;
    bool sizeQuerySucceeds = false;
    int calls = 0;
    std::vector<uint32_t> sizesSeen;
    bool operator()(uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* returned) {
        ++calls;
        sizesSeen.push_back(buffer == nullptr ? 0 : size);
        *needed = sizeAnswer;
        if (buffer == nullptr) {
            return sizeQuerySucceeds;
        }
        *returned = countAnswer;
        return fillSucceeds;
    }
};

TEST(FetchTwiceTest, AllocatesExactlyTheAnsweredSizeAndKeepsTheCount) {
    MemorySpooler spooler;
    ScriptedCall script{40, true, 3};
    SpoolerBuffer buffer = FetchTwice(spooler, std::ref(script));
    EXPECT_EQ(buffer.outcome, SpoolerFetch::Filled);
    EXPECT_EQ(buffer.size, 40u);
    EXPECT_EQ(buffer.count, 3u);
    EXPECT_EQ(script.calls, 2);
    EXPECT_EQ(script.sizesSeen, (std::vector<uint32_t>{0, 40}));
}

TEST(FetchTwiceTest, StopsAfterTheSizeQueryWhenNothingIsNeeded) {
    // An empty list answers either way; only a reason of its own is no list.
    const struct {
        bool answered;
        uint32_t lastError;
        SpoolerFetch outcome;
        uint32_t error;
    } rows[] = {
        {false, 0, SpoolerFetch::NothingNeeded, 0},
        {false, kErrorInsufficientBuffer, SpoolerFetch::NothingNeeded, 0},
        {true, kErrorInvalidPrinterName, SpoolerFetch::NothingNeeded, 0},
        {false, kErrorRpcServerUnavailable, SpoolerFetch::QueryFailed, kErrorRpcServerUnavailable},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lastError);
        MemorySpooler spooler;
        spooler.SetLastError(row.lastError);
        ScriptedCall script{0, true, 0};
        script.sizeQuerySucceeds = row.answered;
        SpoolerBuffer buffer = FetchTwice(spooler, std::ref(script));
        EXPECT_EQ(buffer.outcome, row.outcome);
        EXPECT_EQ(buffer.error, row.error);
        EXPECT_EQ(buffer.bytes, nullptr);
        EXPECT_EQ(script.calls, 1);
    }
}

TEST(FetchTwiceTest, TreatsAnAbsurdSizeAsAnAllocationFailure) {
    MemorySpooler spooler;
    ScriptedCall script{kMaxSpoolerBufferBytes + 1, true, 1};
    SpoolerBuffer buffer = FetchTwice(spooler, std::ref(script));
    EXPECT_EQ(buffer.outcome, SpoolerFetch::AllocationFailed);
    EXPECT_EQ(script.calls, 1);
    uint32_t count = 99;
    buffer.Records<PortInfo2>(&count);
    EXPECT_EQ(count, 0u);
}

TEST(FetchTwiceTest, AFailedFillYieldsNoRecordsAndKeepsTheError) {
    MemorySpooler spooler;
    ScriptedCall script{64, false, 2};
    spooler.SetLastError(kErrorInsufficientBuffer);
    SpoolerBuffer buffer = FetchTwice(spooler, std::ref(script));
    EXPECT_EQ(buffer.outcome, SpoolerFetch::FillFailed);
    EXPECT_EQ(buffer.error, kErrorInsufficientBuffer);
    uint32_t count = 99;
    buffer.Records<DriverInfo1>(&count);
    EXPECT_EQ(count, 0u);
}

TEST(FetchTwiceTest, NeverHandsOutMoreRecordsThanTheBufferHolds) {
    MemorySpooler spooler;
    ScriptedCall script{static_cast<uint32_t>(2 * sizeof(PrinterInfo2) + 6), true, 1000};
    SpoolerBuffer buffer = FetchTwice(spooler, std::ref(script));
    uint32_t count = 0;
    buffer.Records<PrinterInfo2>(&count);
    EXPECT_EQ(count, 2u);
}

TEST(FetchTwiceTest, ZeroFillsTheBufferWhenAsked) {
    MemorySpooler spooler;
    bool allZero = false;
    auto call = [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* returned) {
        *needed = 256;
        if (buffer == nullptr) {
            return false;
        }
        allZero = std::all_of(buffer, buffer + size, [](uint8_t b) { return b == 0; });
        *returned = 0;
        return true;
    };
    FetchTwice(spooler, call, /*zeroFill=*/true);
    EXPECT_TRUE(allZero);
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// Each pair's order as Wine's CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE)
// answered it on this project's machines (the Windows test compares the rest live).
TEST(CompareNamesTest, OrdersLikeTheSystemsCaseInsensitiveComparison) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int order;
    };
    const Case cases[] = {{u"COM1", u"COM2", -1},
                          {u"COM10", u"COM2", -1},
                          {u"COM1:", u"COM10", -1},
                          {u"COMa", u"COMA", 0},
                          {u"usb001", u"USB001", 0},
                          {u"LPT1:", u"FILE:", 1},
                          {u"ab", u"a b", 1},
                          {u"co-op", u"coop", 1},
                          {u"coop", u"co-op", -1},
                          {u"USB-1", u"USB1", 1},
                          {u"USB'1", u"USB1", 1},
                          {u"a-b", u"a'b", 1},
                          {u"ab", u"a-c", -1},
                          {u"-", u"", 1},
                          {u"-ab", u"a-b", 1},
                          {u"ab-", u"a-b", -1},
                          {u"a--b", u"a-b", 1},
                          {u"a-'b", u"a'-b", 1},
                          {u"'ab", u"a-b", 1},
                          {u"a-b", u"ab'", 1},
                          {u"a-bc", u"ab-c", 1},
                          {u"a--", u"a-", 1},
                          {u"-a", u"a", 1},
                          {u"a'", u"a-", -1},
                          {u"--", u"'", 1},
                          {u"a-", u"-a", -1},
                          {u"ab-c", u"a-b-c", -1},
                          {u"a\t", u"a", 1},
                          {u"USB\x7f", u"USB ", -1},
                          {u"Z", u"a", 1},
                          {u"_", u"0", -1},
                          {u"9", u"a", -1},
                          {u"~", u"+", -1},
                          {u"XPSPort:", u"USB001", 1},
                          // Latin-1: accents after the plain letter, ligatures as two letters.
                          {u"\u00e9", u"e", 1},
                          {u"\u00e9", u"f", -1},
                          {u"\u00e6", u"ae", 0},
                          {u"\u00df", u"ss", 0},
                          {u"\u00fea", u"tb", 1},
                          {u"\u00f0a", u"db", -1},
                          {u"x\u00ady", u"xy", 0},
                          {u"\u00bca", u"0b", 1},
                          {u"e\u00e9", u"\u00e9e", -1},
                          {u"\u00e9z", u"ea", 1},
                          {u"\u00c9", u"\u00e9", 0},
                          {u"\u00d7", u"0", -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareNamesIgnoreCase(c.a, c.b)), c.order) << "case " << (&c - cases);
        EXPECT_EQ(Sign(CompareNamesIgnoreCase(c.b, c.a)), -c.order);
    }
}

TEST(CompareNamesTest, IsATotalOrderOverAMixOfNames) {
    std::vector<std::u16string> names = {
        u"COM1",  u"com1",  u"COM1:", u"COM10", u"COM2", u"LPT1",  u"USB001", u"USB",
        u"US",    u"FILE:", u"nul:",  u"a-b",   u"ab",   u"a'b",   u"-ab",    u"a b",
        u"\xe9t", u"Et",    u"\xc9T", u"",      u"-",    u"COM\t", u"COM 1",  u"COM-1"};
    for (const auto& a : names) {
        EXPECT_EQ(CompareNamesIgnoreCase(a, a), 0);
        for (const auto& b : names) {
            EXPECT_EQ(Sign(CompareNamesIgnoreCase(a, b)), -Sign(CompareNamesIgnoreCase(b, a)));
            for (const auto& c : names) {
                if (CompareNamesIgnoreCase(a, b) < 0 && CompareNamesIgnoreCase(b, c) < 0) {
                    EXPECT_LT(CompareNamesIgnoreCase(a, c), 0);
                }
            }
        }
    }
}

TEST(CompareNamesTest, FoldsLatin1CapitalsButNotTheMultiplicationSign) {
    EXPECT_EQ(CompareNamesIgnoreCase(u"\xc9t\xc0", u"\xe9t\xe0"), 0);
    EXPECT_NE(CompareNamesIgnoreCase(u"\xd7", u"\xf7"), 0);
}

}  // namespace
}  // namespace tde
