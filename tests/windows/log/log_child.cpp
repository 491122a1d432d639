// Helper of the log file tests. Modes:
//   make MESSAGE...       make the log, log each message, end normally
//   terminate MESSAGE...  the same, then end abnormally
//   fail PATH             log to empty paths, then to PATH (which cannot be opened)
// Prints "key=value" lines on standard output.
#include "log/log.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring Widen(const char* text) {
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(needed > 0 ? needed : 1, L'\0');
    if (needed > 0) {
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed);
    }
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "make" || mode == "terminate") {
        const std::string& path = tde::GetLogFilePath();
        std::printf("path=%s\n", path.c_str());
        std::printf("size=%lld\n", FileSize(path));
        std::printf("same=%d\n", &tde::GetLogFilePath() == &path ? 1 : 0);
        for (int i = 2; i < argc; ++i) {
            tde::LogFormattedWide(tde::GetLogFilePath(), L"%s", Widen(argv[i]).c_str());
        }
        std::printf("logged=%d\n", argc - 2);
        std::fflush(stdout);
        if (mode == "terminate") {
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    if (mode == "fail" && argc == 3) {
        tde::LogFormatted(std::string(), "%s", "never");
        tde::LogFormattedWide(std::string(), L"%s", L"never");
        tde::LogFormatted(argv[2], "%s", "lost");
        std::fflush(stdout);
        return 0;
    }
    return 2;
}
