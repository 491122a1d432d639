#include "support/spooler_fixtures_win32.h"

#include <winspool.h>

#include <algorithm>

namespace tde::test {

namespace {

const wchar_t kWindowsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t kDevicesKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices";
const wchar_t kPrinterPortsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\PrinterPorts";
const wchar_t kPrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers";

template <typename Record, typename Call>
std::vector<std::wstring> Names(Call call, LPWSTR Record::*field) {
    DWORD needed = 0;
    DWORD count = 0;
    call(nullptr, 0, &needed, &count);
    std::vector<std::wstring> names;
    if (needed == 0) {
        return names;
    }
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed, &count)) {
        return names;
    }
    const Record* records = reinterpret_cast<const Record*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        names.emplace_back(records[i].*field != nullptr ? records[i].*field : L"");
    }
    return names;
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::wstring> QueuesUsing(const std::wstring& driver) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<std::wstring> names;
    if (needed == 0) {
        return names;
    }
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return names;
    }
    const auto* records = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (records[i].pDriverName != nullptr && driver == records[i].pDriverName) {
            names.emplace_back(records[i].pPrinterName);
        }
    }
    return names;
}

void DeleteValue(HKEY root, const wchar_t* key, const std::wstring& name) {
    HKEY opened;
    if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
        RegDeleteValueW(opened, name.c_str());
        RegCloseKey(opened);
    }
}

bool WaitForState(SC_HANDLE service, DWORD state) {
    for (int i = 0; i < 100; ++i) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                  sizeof(status), &needed)) {
            return false;
        }
        if (status.dwCurrentState == state) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

}  // namespace

std::vector<std::wstring> ListedQueues() {
    return Names<PRINTER_INFO_2W>(
        [](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
            return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer, size, needed, count);
        },
        &PRINTER_INFO_2W::pPrinterName);
}

std::vector<std::wstring> ListedDrivers() {
    return Names<DRIVER_INFO_1W>(
        [](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
            return EnumPrinterDriversW(nullptr, nullptr, 1, buffer, size, needed, count);
        },
        &DRIVER_INFO_1W::pName);
}

std::vector<std::wstring> ListedPorts() {
    return Names<PORT_INFO_2W>(
        [](BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
            return EnumPortsW(nullptr, 2, buffer, size, needed, count);
        },
        &PORT_INFO_2W::pPortName);
}

std::wstring DriverDirectory() {
    wchar_t path[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path),
                                    sizeof(path), &needed)) {
        return std::wstring();
    }
    return path;
}

std::wstring DefaultPrinter() {
    wchar_t name[512] = {};
    DWORD size = 512;
    return GetDefaultPrinterW(name, &size) ? std::wstring(name) : std::wstring();
}

bool RemoveQueue(const std::wstring& name) {
    if (!Contains(ListedQueues(), name)) {
        return true;
    }
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) {
        DeletePrinter(printer);
        ClosePrinter(printer);
    }
    if (Contains(ListedQueues(), name)) {
        HKEY printers;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_ALL_ACCESS, &printers) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(printers, name.c_str());
            RegCloseKey(printers);
        }
        DeleteValue(HKEY_CURRENT_USER, kDevicesKey, name);
        DeleteValue(HKEY_CURRENT_USER, kPrinterPortsKey, name);
    }
    return !Contains(ListedQueues(), name);
}

bool AddLocalQueue(Spooler& spooler, const std::u16string& name, const std::u16string& port,
                   const std::u16string& driver, std::string* why) {
    PrinterInfo2 record = {};
    record.pPrinterName = name.c_str();
    record.pPortName = port.c_str();
    record.pDriverName = driver.c_str();
    record.pPrintProcessor = u"WinPrint";
    record.pDatatype = u"RAW";
    record.Attributes = kPrinterAttributeLocal;
    PrinterHandle printer = spooler.AddPrinterW(record);
    if (printer == nullptr) {
        *why = "AddPrinterW failed with " + std::to_string(spooler.LastError());
        return false;
    }
    spooler.ClosePrinter(printer);
    return true;
}

QueueCleanup::QueueCleanup(std::wstring name) : name_(std::move(name)) {
    RemoveQueue(name_);
}

QueueCleanup::~QueueCleanup() {
    RemoveQueue(name_);
}

TestDriver::TestDriver(std::wstring name, std::wstring fileStem)
    : name_(std::move(name)), moduleFile_(fileStem + L".dll"), dataFile_(fileStem + L".gpd") {}

TestDriver::~TestDriver() {
    Remove();
}

bool TestDriver::Install(std::string* why) {
    Remove();
    std::wstring directory = DriverDirectory();
    if (directory.empty()) {
        *why = "no printer driver directory";
        return false;
    }
    if (!CopyFileW(TestDriverModule().c_str(), (directory + L"\\" + moduleFile_).c_str(), FALSE)) {
        *why = "cannot copy the stand-in driver module, error " + std::to_string(GetLastError());
        return false;
    }
    HANDLE data = CreateFileW((directory + L"\\" + dataFile_).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (data == INVALID_HANDLE_VALUE) {
        *why = "cannot write the data file, error " + std::to_string(GetLastError());
        return false;
    }
    const char text[] = "*GPDSpecVersion: \"1.0\"\r\n";
    DWORD written = 0;
    WriteFile(data, text, sizeof(text) - 1, &written, nullptr);
    CloseHandle(data);

    DRIVER_INFO_6W driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(name_.c_str());
    driver.pDriverPath = const_cast<wchar_t*>(moduleFile_.c_str());
    driver.pDataFile = const_cast<wchar_t*>(dataFile_.c_str());
    driver.pConfigFile = const_cast<wchar_t*>(moduleFile_.c_str());
    driver.pszMfgName = const_cast<wchar_t*>(L"ZNW");
    driver.pszProvider = const_cast<wchar_t*>(L"ZNW");
    if (!AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&driver), APD_COPY_ALL_FILES)) {
        *why = "AddPrinterDriverExW failed, error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

void TestDriver::Remove() {
    for (const std::wstring& queue : QueuesUsing(name_)) {
        RemoveQueue(queue);
    }
    wchar_t* name = const_cast<wchar_t*>(name_.c_str());
    // Wine accepts only flags 0 here; Windows also takes the installer's 3.
    if (Contains(ListedDrivers(), name_) && !DeletePrinterDriverExW(nullptr, nullptr, name, 0, 3)) {
        DeletePrinterDriverExW(nullptr, nullptr, name, DPD_DELETE_UNUSED_FILES, 3);
    }
    std::wstring directory = DriverDirectory();
    if (!directory.empty()) {
        for (const std::wstring& file : {moduleFile_, dataFile_}) {
            DeleteFileW((directory + L"\\" + file).c_str());
            DeleteFileW((directory + L"\\3\\" + file).c_str());
        }
    }
}

DefaultPrinterGuard::DefaultPrinterGuard() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kWindowsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, L"Device", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        had_ = true;
        value_ = value;
    }
    RegCloseKey(key);
}

DefaultPrinterGuard::~DefaultPrinterGuard() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kWindowsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    if (had_) {
        RegSetValueExW(key, L"Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(value_.c_str()),
                       static_cast<DWORD>((value_.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, L"Device");
    }
    RegCloseKey(key);
}

DWORD SpoolerServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return 0;
    }
    DWORD state = 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof(status), &needed)) {
            state = status.dwCurrentState;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

SpoolerServiceGuard::~SpoolerServiceGuard() {
    if (initial_ != SERVICE_STOPPED && initial_ != SERVICE_RUNNING) {
        return;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return;
    }
    if (SC_HANDLE service = OpenServiceW(manager, L"Spooler", SERVICE_ALL_ACCESS)) {
        DWORD now = SpoolerServiceState();
        if (initial_ == SERVICE_STOPPED && now != SERVICE_STOPPED) {
            SERVICE_STATUS status = {};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            WaitForState(service, SERVICE_STOPPED);
        } else if (initial_ == SERVICE_RUNNING && now != SERVICE_RUNNING) {
            StartServiceW(service, 0, nullptr);
            WaitForState(service, SERVICE_RUNNING);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

}  // namespace tde::test
