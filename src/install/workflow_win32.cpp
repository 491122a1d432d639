#include "install/workflow_win32.h"

#include "base/win32.h"
#include "log/log.h"

#include <windows.h>

#include <cstdio>

namespace tde {

Win32Machine::Win32Machine()
    : spooler(CreateWin32Spooler()),
      services(CreateWin32ServiceControl()),
      clock(CreateWin32Clock()),
      checks(CreateWin32PreflightQueries()) {}

InstallPlatform Win32Machine::Platform(Shell& shell, const TextTable& texts, InstallLog& log,
                                       InstallerUi& ui) {
    return {*spooler, *services, shell, files, facts, *clock, messages, texts, log, ui, *checks};
}

void Win32InstallerUi::EnableInstallButton(bool enable) {
    EnableWindow(GetDlgItem(static_cast<HWND>(dialog_), buttonId_), enable ? TRUE : FALSE);
}

void Win32InstallerUi::ShowTip(std::u16string_view text) {
    const std::wstring caption = Wide(texts_.GetText(u"tip.dlgtitle"));
    MessageBoxW(static_cast<HWND>(dialog_), Wide(text).c_str(), caption.c_str(),
                MB_OK | MB_ICONINFORMATION);
}

void Win32InstallLog::Write(std::u16string_view line) {
    LogFormattedWide(GetLogFilePath(), L"%s", Wide(line).c_str());
}

void Win32InstallLog::Keep() {
    const std::string& path = GetLogFilePath();
    if (path.empty()) {
        return;
    }
    KeepLogFileAtExit();
    LogFormatted(path, "The log is kept at %s", path.c_str());
}

std::optional<std::u16string> Win32SystemMessages::Message(uint32_t code, uint16_t languageId) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, languageId, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return std::nullopt;
    }
    std::u16string message(buffer, buffer + length);
    std::printf("Error: %ls\n", buffer);
    LocalFree(buffer);
    return message;
}

}  // namespace tde
