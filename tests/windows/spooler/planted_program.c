/* Stands in for a system program planted beside the installer or in the
 * current folder: when started it leaves "<its own path>.ran" behind. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    wchar_t path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    HANDLE mark;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    lstrcpyW(path + length, L".ran");
    mark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (mark != INVALID_HANDLE_VALUE) {
        CloseHandle(mark);
    }
    return 0;
}
