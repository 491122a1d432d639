// The log file on Windows (here: Wine): where and when it appears, its lines,
// recreation after deletion, removal at normal exit, the console report, and
// links planted at the path.
#include "log/log.h"
#include "log/log_file_win32.h"

#include "support/wine_child.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace tde {
namespace {

using testing_support::ChildResult;
using testing_support::OutputValue;
using testing_support::RunChild;
using testing_support::ThisProgramFolder;

std::string TempFolder() {
    char folder[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    return std::string(folder, length < MAX_PATH ? length : 0);
}

std::optional<std::string> ReadAll(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

bool WriteAll(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size();
    CloseHandle(file);
    return ok;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t FileTimeNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

constexpr std::uint64_t kSecond = 10000000;

// "YYYY-MM-DD HH:MM:SS" of the local clock, comparable as text.
std::string LocalSecondNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

// One entry as written: timestamp, level, message, single line feed.
const std::regex kEntry(
    R"(\[(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\.(\d{3})\] \[Info\] ([^\n]*)\n)");

// Files the test makes in the temporary folder, removed at the end.
class TempFiles : public testing::Test {
  protected:
    std::string Path(const std::string& name) {
        std::string path =
            TempFolder() + "tde_logtest_" + std::to_string(GetCurrentProcessId()) + "_" + name;
        made_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            DeleteFileA(it->c_str());
            RemoveDirectoryA(it->c_str());
        }
    }

  private:
    std::vector<std::string> made_;
};

std::wstring ChildProgram() {
    return ThisProgramFolder() + L"tde_log_child.exe";
}

// ---- The process's log file ----

TEST(ProcessLogFile, AppearsEmptyInTempOnFirstCallAndIsGoneAfterNormalExit) {
    const std::uint64_t before = FileTimeNow();
    const ChildResult child = RunChild(ChildProgram(), L"make \"Start install\" second");
    const std::uint64_t after = FileTimeNow();
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 0u);
    EXPECT_EQ(OutputValue(child.output, "logged"), "2");

    const std::string path = OutputValue(child.output, "path");
    ASSERT_FALSE(path.empty()) << child.output;
    // Named after the second at which it was made, in the temporary folder.
    bool named = false;
    for (std::uint64_t t = before - kSecond; t <= after + kSecond; t += kSecond) {
        named = named || path == TempFolder() + LogFileNameAt(t);
    }
    EXPECT_TRUE(named) << path;
    EXPECT_TRUE(
        std::regex_match(path.substr(TempFolder().size()), std::regex(R"(file_\d{8}_\d{6}\.txt)")))
        << path;
    EXPECT_EQ(OutputValue(child.output, "size"), "0");  // created empty
    EXPECT_EQ(OutputValue(child.output, "same"), "1");  // one path per process
    EXPECT_FALSE(Exists(path)) << "left behind after a normal exit: " << path;
}

TEST(ProcessLogFile, SurvivesAnAbnormalEnd) {
    const ChildResult child = RunChild(ChildProgram(), L"terminate \"Start install\" \"50% done\"");
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 3u);
    const std::string path = OutputValue(child.output, "path");
    ASSERT_FALSE(path.empty()) << child.output;
    const std::optional<std::string> content = ReadAll(path);
    DeleteFileA(path.c_str());
    ASSERT_TRUE(content.has_value()) << "no file after an abnormal end";

    std::smatch first;
    ASSERT_TRUE(std::regex_search(*content, first, kEntry));
    EXPECT_EQ(first.position(0), 0);
    EXPECT_EQ(first[3], "Start install");
    const std::string rest = first.suffix();
    std::smatch second;
    ASSERT_TRUE(std::regex_match(rest, second, kEntry)) << rest;
    EXPECT_EQ(second[3], "50% done");
}

// ---- Entries, through this process's own log file ----

class ProcessLogEntries : public testing::Test {
  protected:
    void SetUp() override {
        path_ = &GetLogFilePath();
        ASSERT_FALSE(path_->empty()) << "logging is off in this process";
        ASSERT_EQ(path_->rfind(TempFolder(), 0), 0u) << *path_;
        const std::optional<std::string> content = ReadAll(*path_);
        before_ = content ? content->size() : 0;
    }
    // What the entries of this test appended.
    std::string Appended() {
        const std::optional<std::string> content = ReadAll(*path_);
        EXPECT_TRUE(content.has_value());
        return content && content->size() >= before_ ? content->substr(before_) : std::string();
    }
    const std::string& path() const { return *path_; }

  private:
    const std::string* path_ = nullptr;
    size_t before_ = 0;
};

TEST_F(ProcessLogEntries, LinesMatchTheFormat) {
    const std::string earliest = LocalSecondNow();
    LogFormattedWide(path(), L"Install %s on port %s: %d", L"A4 Printer", L"USB001", 7);
    LogFormatted(path(), "%s=%d", "count", 3);
    const std::string latest = LocalSecondNow();

    const std::string appended = Appended();
    EXPECT_EQ(appended.find('\r'), std::string::npos) << "line ends are LF only";
    std::smatch entry;
    ASSERT_TRUE(std::regex_search(appended, entry, kEntry)) << appended;
    EXPECT_EQ(entry.position(0), 0);
    EXPECT_EQ(entry[3], "Install A4 Printer on port USB001: 7");
    EXPECT_GE(entry[1].str(), earliest);
    EXPECT_LE(entry[1].str(), latest);

    const std::string rest = entry.suffix();
    ASSERT_TRUE(std::regex_match(rest, entry, kEntry)) << rest;
    EXPECT_EQ(entry[3], "count=3");
}

TEST_F(ProcessLogEntries, PercentAndLineBreakAreWrittenVerbatim) {
    // A system error text with a line break, passed as an argument.
    LogFormattedWide(path(), L"%s", L"Code:5--->100% of %s %d\r\nsecond line");
    const std::string appended = Appended();
    ASSERT_TRUE(std::regex_match(appended, std::regex(R"(\[[^\]]*\] \[Info\] )"
                                                      R"(Code:5--->100% of %s %d\r\n)"
                                                      R"(second line\n)")))
        << appended;
    // One timestamp only: the second line of the message is not a new entry.
    EXPECT_EQ(std::count(appended.begin(), appended.end(), '['), 2);
}

TEST_F(ProcessLogEntries, WideTextIsWrittenInTheAnsiCodePage) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "expectations are for code page 1252, this system uses " << GetACP();
    }
    // U+00E9 is 0xE9 in 1252; U+4E2D has no place there and becomes '?'.
    LogFormattedWide(path(), L"caf%s %s", L"\u00e9", L"\u4e2d");
    const std::string appended = Appended();
    const std::string expected = "[Info] caf\xE9 ?\n";
    ASSERT_GE(appended.size(), expected.size()) << appended;
    EXPECT_EQ(appended.substr(appended.size() - expected.size()), expected);
}

TEST_F(ProcessLogEntries, TheFileIsNeverLookedUpByNameAgain) {
    // Moved away between entries: the next one follows the file, not the name.
    const std::string moved = path() + ".moved";
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(MoveFileA(path().c_str(), moved.c_str())) << GetLastError();
    LogFormattedWide(path(), L"%s", L"after the move");
    const bool madeAtTheName = Exists(path());
    const std::optional<std::string> content = ReadAll(moved);
    MoveFileA(moved.c_str(), path().c_str());
    EXPECT_FALSE(madeAtTheName);
    ASSERT_TRUE(content.has_value());
    EXPECT_NE(content->find("] [Info] after the move\n"), std::string::npos);
}

// ---- Failures ----

TEST(Failures, ReportedOnStandardOutputAndNothingForAnEmptyPath) {
    const std::string missing =
        TempFolder() + "tde_no_such_folder_" + std::to_string(GetCurrentProcessId()) + "\\log.txt";
    const ChildResult child =
        RunChild(ChildProgram(), L"fail \"" + std::wstring(missing.begin(), missing.end()) + L"\"");
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 0u);
    // Exactly one report (stdout is a text-mode stream, so its line feed may
    // arrive as CR LF): the entries for the empty path made no output at all.
    EXPECT_TRUE(std::regex_match(
        child.output,
        std::regex(
            R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[Error\] Write log file failed!\r?\n)")))
        << child.output;
}

class FilesOfOthers : public TempFiles {};

TEST_F(FilesOfOthers, AppendsWhileAnotherProgramReadsAndNeverByName) {
    // A path no handle is held for is never opened: its lines are dropped.
    const std::string path = Path("shared.txt");
    ASSERT_TRUE(WriteAll(path, ""));
    EXPECT_FALSE(AppendLineToFile(path, "by name"));
    LogFormatted(path, "%s", "by name");
    EXPECT_EQ(ReadAll(path), "");
    EXPECT_TRUE(ProcessLogWriter().IsSwitchedOff(path));

    const std::string held = Path("held.txt");
    ASSERT_EQ(OpenRequestedLogFile(std::wstring(held.begin(), held.end()), held),
              RequestedLogOpen::Opened);
    HANDLE reader = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(AppendLineToFile(held, "one"));
    CloseHandle(reader);
    EXPECT_TRUE(AppendLineToFile(held, "two"));
    EXPECT_EQ(ReadAll(held), "one\ntwo\n");
}

TEST_F(FilesOfOthers, TheRequestedFileIsEmptiedOnceItIsKnownToBeThere) {
    // An earlier run's file is emptied; entries follow through the one handle.
    const std::string path = Path("requested.txt");
    const std::wstring wide(path.begin(), path.end());
    ASSERT_TRUE(WriteAll(path, "an earlier run\n"));
    EXPECT_EQ(OpenRequestedLogFile(wide, path), RequestedLogOpen::Opened);
    EXPECT_EQ(ReadAll(path), "");
    EXPECT_TRUE(AppendLineToFile(path, "a"));
    LogFormatted(path, "%s", "b");
    EXPECT_NE(ReadAll(path)->find("] [Info] b\n"), std::string::npos);

    // The final path names a file elsewhere, as after a junction in a parent
    // folder (which Wine cannot make): nothing is emptied, a file this open
    // made is deleted again.
    auto elsewhere = [](void*) { return std::wstring(L"\\\\?\\C:\\Windows\\elsewhere.log"); };
    const std::string kept = Path("kept.txt");
    ASSERT_TRUE(WriteAll(kept, "kept\n"));
    EXPECT_EQ(OpenRequestedLogFile(std::wstring(kept.begin(), kept.end()), kept, false, elsewhere),
              RequestedLogOpen::Elsewhere);
    EXPECT_EQ(ReadAll(kept), "kept\n");
    const std::string fresh = Path("fresh.txt");
    EXPECT_EQ(
        OpenRequestedLogFile(std::wstring(fresh.begin(), fresh.end()), fresh, false, elsewhere),
        RequestedLogOpen::Elsewhere);
    EXPECT_FALSE(Exists(fresh));
    EXPECT_TRUE(IsRequestedPath(L"\\\\?\\UNC\\Server\\Logs\\A.LOG", L"\\\\server\\logs\\a.log"));
    EXPECT_FALSE(IsRequestedPath(L"\\\\?\\C:\\Logs\\a.log", L"C:\\Temp\\a.log"));

    // A folder where the file should be: no log.
    const std::string folder = Path("folder.txt");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(OpenRequestedLogFile(std::wstring(folder.begin(), folder.end()), folder),
              RequestedLogOpen::Failed);
    EXPECT_FALSE(AppendLineToFile(folder, "x"));
}

// ---- Links planted at the log path ----

class PlantedLinks : public TempFiles {
  protected:
    void SetUp() override {
        target_ = Path("target.txt");
        ASSERT_TRUE(WriteAll(target_, kKept));
    }
    // The target still holds what it held.
    void ExpectTargetUntouched() { EXPECT_EQ(ReadAll(target_), kKept); }
    // None of the entry points writes through the link at path.
    void ExpectNotWrittenThrough(const std::string& link) {
        SCOPED_TRACE(link);
        EXPECT_FALSE(AppendLineToFile(link, "through the link"));
        EXPECT_EQ(OpenRequestedLogFile(std::wstring(link.begin(), link.end()), link),
                  RequestedLogOpen::Link);
        ExpectTargetUntouched();

        LogFormatted(link, "%s", "through the link");
        LogFormattedWide(link, L"%s", L"through the link");
        ExpectTargetUntouched();
        EXPECT_TRUE(ProcessLogWriter().IsSwitchedOff(link));
    }

    static constexpr const char* kKept = "the file a link points at\n";
    std::string target_;
};

TEST_F(PlantedLinks, HardLinkIsNotWrittenThrough) {
    const std::string link = Path("hard.txt");
    SetLastError(0xdeadbeef);
    if (!CreateHardLinkA(link.c_str(), target_.c_str(), nullptr)) {
        GTEST_SKIP() << "CreateHardLinkA failed: " << GetLastError();
    }
    ExpectNotWrittenThrough(link);
}

TEST_F(PlantedLinks, SymbolicLinkIsNotWrittenThrough) {
    // Looked up: the declaration needs a newer _WIN32_WINNT than the build's.
    using CreateSymbolicLinkFunction = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    auto createSymbolicLink = reinterpret_cast<CreateSymbolicLinkFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "CreateSymbolicLinkW")));
    if (createSymbolicLink == nullptr) {
        GTEST_SKIP() << "no CreateSymbolicLinkW";
    }
    const std::string link = Path("symbolic.txt");
    const std::wstring wideLink(link.begin(), link.end());
    const std::wstring wideTarget(target_.begin(), target_.end());
    SetLastError(0xdeadbeef);
    const BOOLEAN made = createSymbolicLink(wideLink.c_str(), wideTarget.c_str(), 0);
    const DWORD attributes = GetFileAttributesA(link.c_str());
    // Wine 8 answers success without making a link.
    if (!made || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "symbolic links cannot be made here (result " << int(made) << ", error "
                     << GetLastError() << ")";
    }
    ExpectNotWrittenThrough(link);
}

TEST_F(PlantedLinks, JunctionIsNotWrittenThrough) {
    const std::string targetFolder = Path("target_folder");
    const std::string junction = Path("junction.txt");
    ASSERT_TRUE(CreateDirectoryA(targetFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(junction.c_str(), nullptr));
    HANDLE folder = CreateFileA(junction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);

    // A mount-point reparse buffer: substitute name "\??\<target>", print name "<target>".
    const std::wstring printName(targetFolder.begin(), targetFolder.end());
    const std::wstring substitute = L"\\??\\" + printName;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD printBytes = static_cast<WORD>(printName.size() * sizeof(wchar_t));
    std::vector<BYTE> buffer(8 + 8 + substituteBytes + printBytes + 4);
    WORD* header = reinterpret_cast<WORD*>(buffer.data() + 8);
    *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
    *reinterpret_cast<WORD*>(buffer.data() + 4) = static_cast<WORD>(buffer.size() - 8);
    header[0] = 0;
    header[1] = substituteBytes;
    header[2] = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    header[3] = printBytes;
    std::memcpy(buffer.data() + 16, substitute.c_str(), substituteBytes + sizeof(wchar_t));
    std::memcpy(buffer.data() + 16 + header[2], printName.c_str(), printBytes + sizeof(wchar_t));
    DWORD returned = 0;
    SetLastError(0xdeadbeef);
    const BOOL made =
        DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(folder);
    if (!made) {
        GTEST_SKIP() << "junctions cannot be made here (error " << error << ")";
    }
    EXPECT_FALSE(AppendLineToFile(junction, "x"));
    EXPECT_NE(OpenRequestedLogFile(std::wstring(junction.begin(), junction.end()), junction),
              RequestedLogOpen::Opened);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((targetFolder + "\\*.*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++entries;  // "." and ".." only
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_LE(entries, 2);
}

TEST_F(PlantedLinks, LinkPlantedBetweenEntriesStopsTheLogForTheRun) {
    const std::string path = Path("swapped.txt");
    ASSERT_TRUE(WriteAll(path, ""));
    LogFormatted(path, "%s", "first");
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    SetLastError(0xdeadbeef);
    if (!CreateHardLinkA(path.c_str(), target_.c_str(), nullptr)) {
        GTEST_SKIP() << "CreateHardLinkA failed: " << GetLastError();
    }
    LogFormatted(path, "%s", "second");
    ExpectTargetUntouched();
    EXPECT_TRUE(ProcessLogWriter().IsSwitchedOff(path));

    // Once the link is gone the log stays off rather than starting a fresh file.
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    LogFormatted(path, "%s", "third");
    EXPECT_FALSE(Exists(path));
}

TEST_F(PlantedLinks, HardLinkAtTheProcessLogNameIsPassedOver) {
    // The name a fresh process will choose is known in advance to the second:
    // plant a link at every name of the next seconds.
    std::vector<std::string> names;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // A name already taken (this process's own log, made this second) is
        // waited out rather than linked over.
        const std::uint64_t now = FileTimeNow();
        names.clear();
        bool taken = false;
        for (int s = 0; s <= 20; ++s) {
            names.push_back(TempFolder() + LogFileNameAt(now + s * kSecond));
            taken = taken || Exists(names.back());
        }
        if (!taken) {
            break;
        }
        names.clear();
        Sleep(1100);
    }
    ASSERT_FALSE(names.empty()) << "the coming log names stay taken";
    std::vector<std::string> planted;
    for (const std::string& name : names) {
        SetLastError(0xdeadbeef);
        if (!CreateHardLinkA(name.c_str(), target_.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            for (const std::string& link : planted) {
                DeleteFileA(link.c_str());
            }
            GTEST_SKIP() << "CreateHardLinkA failed: " << error;
        }
        planted.push_back(name);
    }
    const ChildResult child = RunChild(ChildProgram(), L"make \"Start install\"");
    for (const std::string& link : planted) {
        DeleteFileA(link.c_str());
    }
    ASSERT_TRUE(child.started);
    EXPECT_EQ(child.exitCode, 0u);
    // The name someone else made is never opened: a free one with random bits is.
    const std::string path = OutputValue(child.output, "path");
    EXPECT_TRUE(std::regex_match(path.substr(std::min(path.size(), TempFolder().size())),
                                 std::regex(R"(file_\d{8}_\d{6}_[0-9a-f]{16}\.txt)")))
        << child.output;
    ExpectTargetUntouched();
}

}  // namespace
}  // namespace tde
