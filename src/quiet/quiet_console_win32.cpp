#include "base/win32.h"
#include "quiet/quiet_run.h"
#include "text/text.h"

#include <string>

namespace tde {

bool QuietShell::ExecuteAndWait(const ShellRequest& request) {
    bool timedOut = false;
    const bool started = StartAndWait(request, waitMs_, &timedOut);
    if (timedOut) {
        report_(request.file + u" did not end within " + DecimalText(waitMs_ / 1000) +
                u" seconds; the run goes on without waiting for it");
    }
    return started;
}

namespace {

HANDLE UsableStdHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        GetFileType(handle) == FILE_TYPE_UNKNOWN) {
        return nullptr;
    }
    return handle;
}

}  // namespace

QuietConsole::QuietConsole() {
    // Handles given by the starter (a redirection, a deployment agent's pipe) win.
    out_ = UsableStdHandle(STD_OUTPUT_HANDLE);
    err_ = UsableStdHandle(STD_ERROR_HANDLE);
    if (out_ != nullptr && err_ != nullptr) {
        return;
    }
    // A GUI program started from a console gets no handles; write to that console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    console_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (console_ == INVALID_HANDLE_VALUE) {
        return;
    }
    if (out_ == nullptr) {
        out_ = console_;
    }
    if (err_ == nullptr) {
        err_ = console_;
    }
}

QuietConsole::~QuietConsole() {
    if (console_ != INVALID_HANDLE_VALUE) {
        CloseHandle(console_);
    }
}

void QuietConsole::Write(HANDLE handle, std::u16string_view text) {
    if (handle == nullptr) {
        return;
    }
    std::wstring line(text.begin(), text.end());
    line += L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const std::string bytes = ToAnsi(line);
    if (bytes.empty()) {
        return;
    }
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace tde
