// The log's line, timestamp and file name formats, and the narrow formatting.
#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace tde {
namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(FormatTimestamp, MillisecondsAlwaysThreeDigits) {
    const std::tm t = MakeTime(2025, 3, 6, 13, 36, 14);
    EXPECT_EQ(FormatTimestamp(t, 7), "[2025-03-06 13:36:14.007]");
    EXPECT_EQ(FormatTimestamp(t, 45), "[2025-03-06 13:36:14.045]");
    EXPECT_EQ(FormatTimestamp(t, 123), "[2025-03-06 13:36:14.123]");
    EXPECT_EQ(FormatTimestamp(t, 0), "[2025-03-06 13:36:14.000]");
    EXPECT_EQ(FormatTimestamp(t, 9), "[2025-03-06 13:36:14.009]");
    EXPECT_EQ(FormatTimestamp(t, 10), "[2025-03-06 13:36:14.010]");
    EXPECT_EQ(FormatTimestamp(t, 99), "[2025-03-06 13:36:14.099]");
    EXPECT_EQ(FormatTimestamp(t, 100), "[2025-03-06 13:36:14.100]");
    EXPECT_EQ(FormatTimestamp(t, 999), "[2025-03-06 13:36:14.999]");
}

TEST(FormatTimestamp, PadsDateAndTimeFieldsAndClampsBadMilliseconds) {
    EXPECT_EQ(FormatTimestamp(MakeTime(2009, 1, 2, 3, 4, 5), 6), "[2009-01-02 03:04:05.006]");
    EXPECT_EQ(FormatTimestamp(MakeTime(1999, 12, 31, 23, 59, 59), 500),
              "[1999-12-31 23:59:59.500]");
    EXPECT_EQ(FormatTimestamp(MakeTime(2025, 3, 6, 0, 0, 0), -3), "[2025-03-06 00:00:00.000]");
    EXPECT_EQ(FormatTimestamp(MakeTime(2025, 3, 6, 0, 0, 0), 1000), "[2025-03-06 00:00:00.999]");
}

TEST(FormatLogLine, TimestampLevelAndVerbatimMessage) {
    EXPECT_EQ(FormatLogLine("[2025-03-06 13:36:14.007]", LogLevel::Info, "Start install"),
              "[2025-03-06 13:36:14.007] [Info] Start install");
    // A system error text ends in a line break; percent signs stay as they are.
    EXPECT_EQ(FormatLogLine("[t]", LogLevel::Info, "Code:5--->Access denied.\r\n"),
              "[t] [Info] Code:5--->Access denied.\r\n");
    EXPECT_EQ(FormatLogLine("[t]", LogLevel::Info, "100% %s %d"), "[t] [Info] 100% %s %d");
    EXPECT_EQ(FormatLogLine("[t]", LogLevel::Warn, ""), "[t] [Warn] ");
    // Bytes of the ANSI code page and embedded NULs pass through untouched.
    const std::string binary("a\0\xE9\xFF", 4);
    EXPECT_EQ(FormatLogLine("[t]", LogLevel::Info, binary),
              std::string("[t] [Info] a\0\xE9\xFF", 15));
}

TEST(LogLevelName, FiveNamesAndAClearAnswerForAnythingElse) {
    EXPECT_EQ(LogLevelName(LogLevel::Trace), "Trace");
    EXPECT_EQ(LogLevelName(LogLevel::Debug), "Debug");
    EXPECT_EQ(LogLevelName(LogLevel::Info), "Info");
    EXPECT_EQ(LogLevelName(LogLevel::Warn), "Warn");
    EXPECT_EQ(LogLevelName(LogLevel::Error), "Error");
    EXPECT_EQ(LogLevelName(static_cast<LogLevel>(5)), "Unknown");
    EXPECT_EQ(LogLevelName(static_cast<LogLevel>(-1)), "Unknown");
    EXPECT_EQ(FormatLogLine("[t]", static_cast<LogLevel>(77), "m"), "[t] [Unknown] m");
}

TEST(FormatLogFileName, FileAndLocalTimeToTheSecond) {
    EXPECT_EQ(FormatLogFileName(MakeTime(2025, 3, 6, 13, 36, 14)), "file_20250306_133614.txt");
    EXPECT_EQ(FormatLogFileName(MakeTime(2009, 1, 2, 3, 4, 5)), "file_20090102_030405.txt");
}

TEST(UnixSecondsFromFileTime, EpochsAndRoundingDown) {
    // 1970-01-01 and 2000-01-01 (946684800) as FILETIME counts.
    EXPECT_EQ(UnixSecondsFromFileTime(116444736000000000ULL), 0);
    EXPECT_EQ(UnixSecondsFromFileTime(125911584000000000ULL), 946684800);
    EXPECT_EQ(UnixSecondsFromFileTime(125911584000000000ULL + 9999999), 946684800);
    EXPECT_EQ(UnixSecondsFromFileTime(125911584000000000ULL + 10000000), 946684801);
    EXPECT_EQ(UnixSecondsFromFileTime(0), -11644473600LL);
}

bool Format(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = FormatNarrowV(out, format, args);
    va_end(args);
    return ok;
}

TEST(FormatNarrowV, FormatsWithoutALengthLimit) {
    std::string out;
    ASSERT_TRUE(Format(out, "Install %s on %s: %d", "A4 Printer", "USB001", 3));
    EXPECT_EQ(out, "Install A4 Printer on USB001: 3");

    const std::string big(100000, 'x');
    ASSERT_TRUE(Format(out, "<%s>", big.c_str()));
    ASSERT_EQ(out.size(), big.size() + 2);
    EXPECT_EQ(out.front(), '<');
    EXPECT_EQ(out.back(), '>');
    EXPECT_EQ(out.substr(1, big.size()), big);

    ASSERT_TRUE(Format(out, "%s", ""));
    EXPECT_EQ(out, "");
}

TEST(FormatNarrowV, ArgumentsAreNotFormattedAgain) {
    std::string out;
    ASSERT_TRUE(Format(out, "%s", "50% %s %n\nnext"));
    EXPECT_EQ(out, "50% %s %n\nnext");
    ASSERT_TRUE(Format(out, "100%%"));
    EXPECT_EQ(out, "100%");
}

TEST(FormatNarrowV, NullFormatIsRefusedAndLeavesTheOutputAlone) {
    std::string out = "before";
    EXPECT_FALSE(Format(out, nullptr));
    EXPECT_EQ(out, "before");
}

}  // namespace
}  // namespace tde
