// The writer's behaviour over a recording platform: lines, levels, the console
// report on failure, links, exceptions and per-file locking.
#include "log/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using testing::ElementsAre;
using testing::IsEmpty;

namespace tde {
namespace {

class RecordingPlatform : public LogPlatform {
  public:
    std::string CurrentTimestamp() override {
        if (throwFromTimestamp) {
            throw std::runtime_error("clock gone");
        }
        return "[T" + std::to_string(++timestamps) + "]";
    }

    AppendOutcome AppendLine(const std::string& path, const std::string& line) override {
        ++appendCalls;
        if (onAppend) {
            onAppend(path, line);
        }
        auto outcome = outcomes.find(path);
        if (outcome != outcomes.end() && outcome->second != AppendOutcome::Written) {
            return outcome->second;
        }
        std::lock_guard<std::mutex> hold(filesLock);
        files[path].push_back(line);
        return AppendOutcome::Written;
    }

    void ConsoleWrite(std::string_view text) override { console.push_back(std::string(text)); }
    void ConsoleColour(std::uint16_t attribute) override {
        console.push_back("<colour " + std::to_string(attribute) + ">");
    }
    void ConsoleFlush() override { console.push_back("<flush>"); }

    std::atomic<int> timestamps{0};
    std::atomic<int> appendCalls{0};
    bool throwFromTimestamp = false;
    std::map<std::string, AppendOutcome> outcomes;
    std::function<void(const std::string&, const std::string&)> onAppend;
    std::mutex filesLock;
    std::map<std::string, std::vector<std::string>> files;
    std::vector<std::string> console;
};

std::vector<std::string> ErrorReport(const std::string& timestamp, const std::string& text) {
    return {timestamp, " [", "<colour 12>", "Error", "<colour 7>", "] ", text, "\n", "<flush>"};
}

TEST(LogWriter, ComposesTimestampLevelAndMessageIntoOneLine) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    writer.WriteEntry(LogLevel::Info, "a.txt", "Start install");
    writer.WriteEntry(LogLevel::Info, "a.txt", "two\r\nlines 100%");
    EXPECT_THAT(platform.files["a.txt"],
                ElementsAre("[T1] [Info] Start install", "[T2] [Info] two\r\nlines 100%"));
    EXPECT_THAT(platform.console, IsEmpty());
}

TEST(LogWriter, DropsEntriesBelowTheMinimumLevel) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    EXPECT_EQ(writer.MinimumLevel(), 0);
    writer.WriteEntry(LogLevel::Trace, "a.txt", "kept at the default");
    writer.SetMinimumLevel(static_cast<int>(LogLevel::Warn));
    writer.WriteEntry(LogLevel::Info, "a.txt", "dropped");
    writer.WriteEntry(LogLevel::Warn, "a.txt", "kept");
    writer.WriteEntry(LogLevel::Error, "a.txt", "kept too");
    EXPECT_THAT(platform.files["a.txt"], ElementsAre("[T1] [Trace] kept at the default",
                                                     "[T2] [Warn] kept", "[T3] [Error] kept too"));
}

TEST(LogWriter, FailedOpenIsReportedInColourAndTheNextEntryTriesAgain) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    platform.outcomes["gone.txt"] = AppendOutcome::OpenFailed;
    writer.WriteEntry(LogLevel::Info, "gone.txt", "lost");
    // The line took timestamp 1; the report takes a fresh one.
    EXPECT_EQ(platform.console, ErrorReport("[T2]", "Write log file failed!"));

    platform.console.clear();
    platform.outcomes.erase("gone.txt");
    writer.WriteEntry(LogLevel::Info, "gone.txt", "back");
    EXPECT_THAT(platform.files["gone.txt"], ElementsAre("[T3] [Info] back"));
    EXPECT_THAT(platform.console, IsEmpty());
}

TEST(LogWriter, ALinkAtThePathSwitchesThatFileOffSilently) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    platform.outcomes["planted.txt"] = AppendOutcome::RefusedLink;
    writer.WriteEntry(LogLevel::Info, "planted.txt", "first");
    EXPECT_TRUE(writer.IsSwitchedOff("planted.txt"));
    EXPECT_EQ(platform.appendCalls, 1);

    // Even once the link is gone nothing more is tried for that file this run.
    platform.outcomes.erase("planted.txt");
    writer.WriteEntry(LogLevel::Info, "planted.txt", "second");
    EXPECT_EQ(platform.appendCalls, 1);
    EXPECT_THAT(platform.files["planted.txt"], IsEmpty());
    EXPECT_THAT(platform.console, IsEmpty());

    // Other files go on.
    EXPECT_FALSE(writer.IsSwitchedOff("other.txt"));
    writer.WriteEntry(LogLevel::Info, "other.txt", "fine");
    EXPECT_THAT(platform.files["other.txt"], ElementsAre("[T2] [Info] fine"));
}

TEST(LogWriter, APathNoFileIsHeldForIsReportedOnceAndSwitchedOff) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    platform.outcomes["loose.txt"] = AppendOutcome::NotHeld;
    writer.WriteEntry(LogLevel::Info, "loose.txt", "dropped");
    writer.WriteEntry(LogLevel::Info, "loose.txt", "dropped too");
    EXPECT_EQ(platform.appendCalls, 1);
    EXPECT_EQ(platform.console, ErrorReport("[T2]", "Write log file failed!"));
}

TEST(LogWriter, SwitchOffStopsEntriesToThatPathOnly) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    writer.SwitchOff("off.txt");
    writer.WriteEntry(LogLevel::Error, "off.txt", "x");
    writer.WriteEntry(LogLevel::Info, "on.txt", "y");
    EXPECT_EQ(platform.appendCalls, 1);
    EXPECT_THAT(platform.files["on.txt"], ElementsAre("[T1] [Info] y"));
}

TEST(LogWriter, ExceptionsAreReportedAndNeverReachTheCaller) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    platform.onAppend = [](const std::string&, const std::string&) {
        throw std::runtime_error("disk on fire");
    };
    writer.WriteEntry(LogLevel::Info, "a.txt", "lost");
    EXPECT_EQ(platform.console, ErrorReport("[T2]", "disk on fire"));

    platform.onAppend = [](const std::string&, const std::string&) { throw 42; };
    platform.console.clear();
    writer.WriteEntry(LogLevel::Info, "a.txt", "lost too");
    EXPECT_EQ(platform.console, ErrorReport("[T4]", "Unknown exception"));

    // The lock was released: the next entry gets through.
    platform.onAppend = nullptr;
    writer.WriteEntry(LogLevel::Info, "a.txt", "after");
    EXPECT_THAT(platform.files["a.txt"], ElementsAre("[T5] [Info] after"));
}

TEST(LogWriter, AReportThatFailsItselfIsSwallowed) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    platform.throwFromTimestamp = true;
    EXPECT_NO_THROW(writer.WriteEntry(LogLevel::Info, "a.txt", "lost"));
    EXPECT_NO_THROW(writer.ReportOnConsole("nothing to say it with"));
    EXPECT_THAT(platform.files["a.txt"], IsEmpty());
    EXPECT_THAT(platform.console, IsEmpty());
}

TEST(LogWriter, EntriesForOneFileNeverOverlap) {
    RecordingPlatform platform;
    LogWriter writer(platform);
    std::mutex inFlightLock;
    std::map<std::string, int> inFlight;
    std::atomic<int> overlaps{0};
    platform.onAppend = [&](const std::string& path, const std::string&) {
        {
            std::lock_guard<std::mutex> hold(inFlightLock);
            if (++inFlight[path] > 1) {
                ++overlaps;
            }
        }
        std::this_thread::yield();
        std::lock_guard<std::mutex> hold(inFlightLock);
        --inFlight[path];
    };

    constexpr int kThreads = 6;
    constexpr int kEntries = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&writer, t] {
            const std::string path = (t % 2 == 0) ? "even.txt" : "odd.txt";
            for (int i = 0; i < kEntries; ++i) {
                writer.WriteEntry(LogLevel::Info, path, "thread " + std::to_string(t));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(platform.files["even.txt"].size(), static_cast<size_t>(kThreads / 2 * kEntries));
    EXPECT_EQ(platform.files["odd.txt"].size(), static_cast<size_t>(kThreads / 2 * kEntries));
}

}  // namespace
}  // namespace tde
