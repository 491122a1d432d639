/* A stand-in "Standard TCP/IP Port" monitor for the tests under Wine. It keeps
 * the PORT_DATA_1 of each port it is given under its own registry key, as the
 * real monitor keeps its ports, lists them, answers GetConfigInfo, and writes
 * one line per Xcv call (command|access|object) to the file named by its key's
 * "Log" value. The spooler unloads it after every operation: all state is in
 * the registry. */
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#define MONITOR L"Standard TCP/IP Port"
#define MONITOR_KEY L"System\\CurrentControlSet\\Control\\Print\\Monitors\\" MONITOR
#define PORT_DATA_SIZE 964
#define CONFIG_INFO_SIZE 132
#define MAX_PORTS 32

typedef struct {
    WCHAR object[80];
    ACCESS_MASK access;
} Xcv;

static void PortKey(WCHAR* path, LPCWSTR port) {
    wsprintfW(path, L"%s\\Ports\\%.63s", MONITOR_KEY, port);
}

static void Record(const Xcv* xcv, LPCWSTR command) {
    WCHAR path[MAX_PATH], line[160];
    DWORD size = sizeof path, written = 0;
    HANDLE file;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, MONITOR_KEY, L"Log", RRF_RT_REG_SZ, NULL, path, &size)) {
        return;
    }
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        int n = wsprintfW(line, L"%.40s|%lu|%.80s\n", command, xcv->access, xcv->object);
        WriteFile(file, line, n * sizeof(WCHAR), &written, NULL);
        CloseHandle(file);
    }
}

static BOOL WINAPI ListPorts(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE ports, DWORD size,
                             LPDWORD needed, LPDWORD returned) {
    WCHAR names[MAX_PORTS][64], path[MAX_PATH], *text;
    DWORD count = 0, i, length = 64,
          entry = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    HKEY key;
    (void)monitor;
    (void)server;
    wsprintfW(path, L"%s\\Ports", MONITOR_KEY);
    if (!RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key)) {
        while (count < MAX_PORTS &&
               !RegEnumKeyExW(key, count, names[count], &length, NULL, NULL, NULL, NULL)) {
            length = 64;
            ++count;
        }
        RegCloseKey(key);
    }
    *needed = 0;
    *returned = 0;
    for (i = 0; i < count; ++i) {
        *needed += entry + (lstrlenW(names[i]) + 1) * sizeof(WCHAR) +
                   (level == 1 ? 0 : 2 * sizeof(MONITOR));
    }
    if (size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    text = (WCHAR*)(ports + count * entry);
    for (i = 0; i < count; ++i) {
        PORT_INFO_2W* info = (PORT_INFO_2W*)(ports + i * entry); /* level 1 is its first field */
        info->pPortName = lstrcpyW(text, names[i]);
        text += lstrlenW(text) + 1;
        if (level != 1) {
            info->pMonitorName = lstrcpyW(text, MONITOR);
            text += lstrlenW(text) + 1;
            info->pDescription = lstrcpyW(text, MONITOR);
            text += lstrlenW(text) + 1;
            info->fPortType = PORT_TYPE_WRITE;
            info->Reserved = 0;
        }
    }
    *returned = count;
    return TRUE;
}

static BOOL WINAPI OpenXcv(HANDLE monitor, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv) {
    Xcv* opened = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Xcv));
    (void)monitor;
    if (opened == NULL) {
        return FALSE;
    }
    lstrcpynW(opened->object, object != NULL ? object : L"", 80);
    opened->access = access;
    *xcv = opened;
    return TRUE;
}

static DWORD WINAPI ExchangeXcv(HANDLE handle, LPCWSTR command, PBYTE input, DWORD inputSize,
                                PBYTE output, DWORD outputSize, PDWORD needed) {
    const Xcv* xcv = handle;
    WCHAR path[MAX_PATH];
    Record(xcv, command);
    if (!lstrcmpW(command, L"AddPort")) {
        HKEY key;
        DWORD disposition = 0, error;
        if (inputSize != PORT_DATA_SIZE) {
            return ERROR_INVALID_PARAMETER;
        }
        PortKey(path, (LPCWSTR)input);
        error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_WRITE, NULL, &key,
                                &disposition);
        if (error) {
            return error;
        }
        if (disposition != REG_OPENED_EXISTING_KEY) {
            error = RegSetValueExW(key, L"PortData", 0, REG_BINARY, input, inputSize);
        }
        RegCloseKey(key);
        return disposition == REG_OPENED_EXISTING_KEY ? ERROR_ALREADY_EXISTS : error;
    }
    if (!lstrcmpW(command, L"GetConfigInfo")) {
        *needed = PORT_DATA_SIZE;
        if (inputSize != CONFIG_INFO_SIZE || *(const DWORD*)(input + 128) != 1) {
            return ERROR_INVALID_PARAMETER;
        }
        if (outputSize < PORT_DATA_SIZE) {
            return ERROR_INSUFFICIENT_BUFFER;
        }
        PortKey(path, xcv->object);
        return RegGetValueW(HKEY_LOCAL_MACHINE, path, L"PortData", RRF_RT_REG_BINARY, NULL, output,
                            &outputSize);
    }
    return ERROR_INVALID_PARAMETER;
}

static BOOL WINAPI CloseXcv(HANDLE xcv) {
    return HeapFree(GetProcessHeap(), 0, xcv);
}

static void WINAPI Shutdown(HANDLE monitor) {
    (void)monitor;
}

static MONITOR2 table;

LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    (void)init;
    table.cbSize = sizeof table;
    table.pfnEnumPorts = ListPorts;
    table.pfnXcvOpenPort = OpenXcv;
    table.pfnXcvDataPort = ExchangeXcv;
    table.pfnXcvClosePort = CloseXcv;
    table.pfnShutdown = Shutdown;
    *monitor = &table; /* any non-null handle */
    return &table;
}
