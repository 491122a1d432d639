/* Stands in for a system program the installer starts (certutil, rundll32), or
 * one planted where the installer must never look for one: it does nothing but
 * append one line to "<its own path>.calls" and exit 0.
 * The line, in UTF-8: local time "YYYY-MM-DD HH:MM:SS.mmm", a tab, the show
 * command it was started with (-1 when none was given), a tab, its working
 * folder, a tab, and its command line exactly as it received it. With TDE_RECORDING_DELAY_MS set it
 * then waits that long before it exits, so a caller's wait for it can be seen. */
#include <stdlib.h>
#include <windows.h>

static void Append(HANDLE file, const wchar_t* text) {
    char narrow[8192];
    DWORD written = 0;
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
    if (length > 1) {
        WriteFile(file, narrow, (DWORD)(length - 1), &written, NULL);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    wchar_t path[MAX_PATH + 8];
    wchar_t head[64];
    wchar_t folder[MAX_PATH + 1] = {0};
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    STARTUPINFOW startup;
    SYSTEMTIME now;
    HANDLE record;
    int shown = -1;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    lstrcpyW(path + length, L".calls");
    GetLocalTime(&now);
    GetStartupInfoW(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) {
        shown = startup.wShowWindow;
    }
    wsprintfW(head, L"%04u-%02u-%02u %02u:%02u:%02u.%03u\t%d\t", now.wYear, now.wMonth, now.wDay,
              now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, shown);
    /* Several calls may come at once: append under no sharing, retrying briefly. */
    for (int attempt = 0; attempt < 50; ++attempt) {
        record =
            CreateFileW(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (record != INVALID_HANDLE_VALUE) {
            Append(record, head);
            GetCurrentDirectoryW(MAX_PATH + 1, folder);
            Append(record, folder);
            Append(record, L"\t");
            Append(record, GetCommandLineW());
            Append(record, L"\n");
            CloseHandle(record);
            if (GetEnvironmentVariableW(L"TDE_RECORDING_DELAY_MS", head, 16) > 0) {
                Sleep((DWORD)_wtoi(head));
            }
            return 0;
        }
        Sleep(20);
    }
    return 2;
}
