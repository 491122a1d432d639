// The spooler of this machine through winspool.drv. Nothing of winspool.drv is
// linked: the program is often started from a downloads folder, where a planted
// winspool.drv beside it would be loaded before any code of ours runs. The
// library is loaded from the system folder only and every function resolved
// at run time.
#include "spooler/spooler.h"

#include "base/win32.h"

#include <windows.h>
#include <winspool.h>

#include <cstddef>

namespace tde {

// The portable records are handed to the spooler as they are.
#define TDE_SAME_FIELD(Ours, Theirs, field) \
    static_assert(offsetof(Ours, field) == offsetof(Theirs, field), #field)
static_assert(sizeof(PortInfo2) == sizeof(PORT_INFO_2W));
TDE_SAME_FIELD(PortInfo2, PORT_INFO_2W, pPortName);
TDE_SAME_FIELD(PortInfo2, PORT_INFO_2W, fPortType);
static_assert(sizeof(PrinterInfo2) == sizeof(PRINTER_INFO_2W));
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, pPortName);
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, pDevMode);
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, pDatatype);
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, pSecurityDescriptor);
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, Attributes);
TDE_SAME_FIELD(PrinterInfo2, PRINTER_INFO_2W, AveragePPM);
static_assert(sizeof(DriverInfo1) == sizeof(DRIVER_INFO_1W));
static_assert(sizeof(DriverInfo6) == sizeof(DRIVER_INFO_6W));
TDE_SAME_FIELD(DriverInfo6, DRIVER_INFO_6W, pDependentFiles);
TDE_SAME_FIELD(DriverInfo6, DRIVER_INFO_6W, ftDriverDate);
TDE_SAME_FIELD(DriverInfo6, DRIVER_INFO_6W, dwlDriverVersion);
TDE_SAME_FIELD(DriverInfo6, DRIVER_INFO_6W, pszProvider);
static_assert(sizeof(DriverInfo8) == sizeof(DRIVER_INFO_8W));
TDE_SAME_FIELD(DriverInfo8, DRIVER_INFO_8W, dwlDriverVersion);
TDE_SAME_FIELD(DriverInfo8, DRIVER_INFO_8W, pszInfPath);
TDE_SAME_FIELD(DriverInfo8, DRIVER_INFO_8W, dwlMinInboxDriverVerVersion);
#undef TDE_SAME_FIELD

namespace {

// Exact signatures of the functions, taken from the SDK declarations.
using EnumPortsFn = decltype(&::EnumPortsW);
using EnumPrintersFn = decltype(&::EnumPrintersW);
using EnumPrinterDriversFn = decltype(&::EnumPrinterDriversW);
using GetPrinterDriverDirectoryFn = decltype(&::GetPrinterDriverDirectoryW);
using AddPrinterDriverExFn = decltype(&::AddPrinterDriverExW);
using DeletePrinterDriverExFn = decltype(&::DeletePrinterDriverExW);
using OpenPrinterFn = decltype(&::OpenPrinterW);
using DeletePrinterFn = decltype(&::DeletePrinter);
using DeletePrinterConnectionFn = decltype(&::DeletePrinterConnectionW);
using ClosePrinterFn = decltype(&::ClosePrinter);
using GetPrinterFn = decltype(&::GetPrinterW);
using SetPrinterFn = decltype(&::SetPrinterW);
using AddPrinterFn = decltype(&::AddPrinterW);
using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCWSTR);
using GetDefaultPrinterFn = BOOL(WINAPI*)(LPWSTR, LPDWORD);
using DeletePrinterDriverPackageFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR);
using UploadPrinterDriverPackageFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, HWND,
                                                      LPWSTR, PULONG);
using InstallPrinterDriverFromPackageFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                                           DWORD);

// winspool.drv exports its default-printer setter under this ordinal, without a name.
constexpr WORD kSetDefaultPrinterOrdinal = 204;

bool Missing() {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
}

class Win32Spooler final : public Spooler {
  public:
    Win32Spooler() : module_(static_cast<HMODULE>(LoadSystemLibrary(L"winspool.drv"))) {
        enumPorts_ = SystemFunction<EnumPortsFn>(module_, "EnumPortsW");
        enumPrinters_ = SystemFunction<EnumPrintersFn>(module_, "EnumPrintersW");
        enumPrinterDrivers_ = SystemFunction<EnumPrinterDriversFn>(module_, "EnumPrinterDriversW");
        getPrinterDriverDirectory_ =
            SystemFunction<GetPrinterDriverDirectoryFn>(module_, "GetPrinterDriverDirectoryW");
        addPrinterDriverEx_ = SystemFunction<AddPrinterDriverExFn>(module_, "AddPrinterDriverExW");
        deletePrinterDriverEx_ =
            SystemFunction<DeletePrinterDriverExFn>(module_, "DeletePrinterDriverExW");
        openPrinter_ = SystemFunction<OpenPrinterFn>(module_, "OpenPrinterW");
        deletePrinter_ = SystemFunction<DeletePrinterFn>(module_, "DeletePrinter");
        deletePrinterConnection_ =
            SystemFunction<DeletePrinterConnectionFn>(module_, "DeletePrinterConnectionW");
        closePrinter_ = SystemFunction<ClosePrinterFn>(module_, "ClosePrinter");
        getPrinter_ = SystemFunction<GetPrinterFn>(module_, "GetPrinterW");
        setPrinter_ = SystemFunction<SetPrinterFn>(module_, "SetPrinterW");
        addPrinter_ = SystemFunction<AddPrinterFn>(module_, "AddPrinterW");
        // By number: the export carries no name.
        setDefaultPrinter_ = SystemFunction<SetDefaultPrinterFn>(
            module_, MAKEINTRESOURCEA(kSetDefaultPrinterOrdinal));
        getDefaultPrinter_ = SystemFunction<GetDefaultPrinterFn>(module_, "GetDefaultPrinterW");
    }
    ~Win32Spooler() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Win32Spooler(const Win32Spooler&) = delete;
    Win32Spooler& operator=(const Win32Spooler&) = delete;

    bool EnumPortsW(uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override {
        DWORD n = 0;
        DWORD r = 0;
        if (enumPorts_ == nullptr) {
            return Missing();
        }
        BOOL ok = enumPorts_(nullptr, level, buffer, bufferSize, &n, &r);
        return Report(ok, n, r, needed, returned);
    }

    bool EnumPrintersW(uint32_t flags, uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                       uint32_t* needed, uint32_t* returned) override {
        DWORD n = 0;
        DWORD r = 0;
        if (enumPrinters_ == nullptr) {
            return Missing();
        }
        BOOL ok = enumPrinters_(flags, nullptr, level, buffer, bufferSize, &n, &r);
        return Report(ok, n, r, needed, returned);
    }

    bool EnumPrinterDriversW(uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                             uint32_t* returned) override {
        DWORD n = 0;
        DWORD r = 0;
        if (enumPrinterDrivers_ == nullptr) {
            return Missing();
        }
        BOOL ok = enumPrinterDrivers_(nullptr, nullptr, level, buffer, bufferSize, &n, &r);
        return Report(ok, n, r, needed, returned);
    }

    bool GetPrinterDriverDirectoryW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                    uint32_t* needed) override {
        DWORD n = 0;
        if (getPrinterDriverDirectory_ == nullptr) {
            return Missing();
        }
        BOOL ok = getPrinterDriverDirectory_(nullptr, nullptr, level, buffer, bufferSize, &n);
        if (needed != nullptr) {
            *needed = n;
        }
        return ok != FALSE;
    }

    bool AddPrinterDriverExW(const DriverInfo6& driver, uint32_t copyFlags) override {
        if (addPrinterDriverEx_ == nullptr) {
            return Missing();
        }
        DriverInfo6 record = driver;  // the call takes a writable record
        return addPrinterDriverEx_(nullptr, 6, reinterpret_cast<BYTE*>(&record), copyFlags) !=
               FALSE;
    }

    bool DeletePrinterDriverExW(const char16_t* driverName, uint32_t deleteFlags,
                                uint32_t versionFlag) override {
        if (deletePrinterDriverEx_ == nullptr) {
            return Missing();
        }
        return deletePrinterDriverEx_(nullptr, nullptr, AsMutableWide(driverName), deleteFlags,
                                      versionFlag) != FALSE;
    }

    std::optional<int32_t> DeletePrinterDriverPackageW(const char16_t* infPath) override {
        auto fn =
            SystemFunction<DeletePrinterDriverPackageFn>(module_, "DeletePrinterDriverPackageW");
        if (fn == nullptr) {
            return std::nullopt;
        }
        return fn(nullptr, AsWide(infPath), nullptr);
    }

    std::optional<int32_t> UploadPrinterDriverPackageW(const char16_t* infPath, uint32_t flags,
                                                       WindowHandle owner, char16_t* destInfPath,
                                                       uint32_t* destInfPathChars) override {
        auto fn =
            SystemFunction<UploadPrinterDriverPackageFn>(module_, "UploadPrinterDriverPackageW");
        if (fn == nullptr) {
            return std::nullopt;
        }
        ULONG chars = destInfPathChars != nullptr ? *destInfPathChars : 0;
        HRESULT result = fn(nullptr, AsWide(infPath), nullptr, flags, static_cast<HWND>(owner),
                            reinterpret_cast<wchar_t*>(destInfPath), &chars);
        DWORD error = GetLastError();
        if (destInfPathChars != nullptr) {
            *destInfPathChars = chars;
        }
        ::SetLastError(error);
        return result;
    }

    std::optional<int32_t> InstallPrinterDriverFromPackageW(const char16_t* infPath,
                                                            const char16_t* driverName,
                                                            uint32_t flags) override {
        auto fn = SystemFunction<InstallPrinterDriverFromPackageFn>(
            module_, "InstallPrinterDriverFromPackageW");
        if (fn == nullptr) {
            return std::nullopt;
        }
        return fn(nullptr, AsWide(infPath), AsWide(driverName), nullptr, flags);
    }

    bool OpenPrinterW(const char16_t* printerName, PrinterHandle* printer,
                      uint32_t desiredAccess) override {
        if (printer != nullptr) {
            *printer = nullptr;
        }
        if (openPrinter_ == nullptr) {
            return Missing();
        }
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, desiredAccess};
        HANDLE handle = nullptr;
        BOOL ok = openPrinter_(AsMutableWide(printerName), &handle, &defaults);
        if (printer != nullptr) {
            *printer = ok ? static_cast<PrinterHandle>(handle) : nullptr;
        }
        return ok != FALSE;
    }

    bool DeletePrinter(PrinterHandle printer) override {
        if (deletePrinter_ == nullptr) {
            return Missing();
        }
        return deletePrinter_(static_cast<HANDLE>(printer)) != FALSE;
    }

    bool DeletePrinterConnectionW(const char16_t* printerName) override {
        if (deletePrinterConnection_ == nullptr) {
            return Missing();
        }
        return deletePrinterConnection_(AsMutableWide(printerName)) != FALSE;
    }

    bool ClosePrinter(PrinterHandle printer) override {
        if (closePrinter_ == nullptr) {
            return Missing();
        }
        return closePrinter_(static_cast<HANDLE>(printer)) != FALSE;
    }

    bool GetPrinterW(PrinterHandle printer, uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                     uint32_t* needed) override {
        DWORD n = 0;
        if (getPrinter_ == nullptr) {
            return Missing();
        }
        BOOL ok = getPrinter_(static_cast<HANDLE>(printer), level, buffer, bufferSize, &n);
        if (needed != nullptr) {
            *needed = n;
        }
        return ok != FALSE;
    }

    bool SetPrinterW(PrinterHandle printer, const PrinterInfo2& info, uint32_t command) override {
        if (setPrinter_ == nullptr) {
            return Missing();
        }
        PrinterInfo2 record = info;
        return setPrinter_(static_cast<HANDLE>(printer), 2, reinterpret_cast<BYTE*>(&record),
                           command) != FALSE;
    }

    PrinterHandle AddPrinterW(const PrinterInfo2& info) override {
        if (addPrinter_ == nullptr) {
            Missing();
            return nullptr;
        }
        // The spooler may load the driver's configuration module in this
        // process; its imports sit beside it.
        AddDriverFolderToDllSearch(*this);
        PrinterInfo2 record = info;
        return static_cast<PrinterHandle>(
            addPrinter_(nullptr, 2, reinterpret_cast<BYTE*>(&record)));
    }

    bool SetDefaultPrinterW(const char16_t* printerName) override {
        if (setDefaultPrinter_ == nullptr) {
            return Missing();
        }
        return setDefaultPrinter_(AsWide(printerName)) != FALSE;
    }

    bool GetDefaultPrinterW(char16_t* buffer, uint32_t* chars) override {
        if (getDefaultPrinter_ == nullptr) {
            return Missing();
        }
        DWORD size = *chars;
        const BOOL ok = getDefaultPrinter_(reinterpret_cast<LPWSTR>(buffer), &size);
        *chars = size;
        return ok != FALSE;
    }

    uint32_t LastError() const override { return GetLastError(); }
    void SetLastError(uint32_t error) override { ::SetLastError(error); }

  private:
    // Hands the counts out without touching the last error.
    static bool Report(BOOL ok, DWORD n, DWORD r, uint32_t* needed, uint32_t* returned) {
        if (needed != nullptr) {
            *needed = n;
        }
        if (returned != nullptr) {
            *returned = r;
        }
        return ok != FALSE;
    }

    HMODULE module_;
    EnumPortsFn enumPorts_;
    EnumPrintersFn enumPrinters_;
    EnumPrinterDriversFn enumPrinterDrivers_;
    GetPrinterDriverDirectoryFn getPrinterDriverDirectory_;
    AddPrinterDriverExFn addPrinterDriverEx_;
    DeletePrinterDriverExFn deletePrinterDriverEx_;
    OpenPrinterFn openPrinter_;
    DeletePrinterFn deletePrinter_;
    DeletePrinterConnectionFn deletePrinterConnection_;
    ClosePrinterFn closePrinter_;
    GetPrinterFn getPrinter_;
    SetPrinterFn setPrinter_;
    AddPrinterFn addPrinter_;
    SetDefaultPrinterFn setDefaultPrinter_;
    GetDefaultPrinterFn getDefaultPrinter_;
};

}  // namespace

std::unique_ptr<Spooler> CreateWin32Spooler() {
    return std::make_unique<Win32Spooler>();
}

bool AddDriverFolderToDllSearch(Spooler& spooler) {
    using AddDllDirectoryFn = void*(WINAPI*)(const wchar_t*);
    static bool added = false;
    if (added) {
        return true;
    }
    auto addDirectory = SystemFunction<AddDllDirectoryFn>(L"kernel32.dll", "AddDllDirectory");
    uint32_t needed = 0;
    spooler.GetPrinterDriverDirectoryW(1, nullptr, 0, &needed);
    if (addDirectory == nullptr || needed == 0 || needed > 4 * MAX_PATH) {
        return false;
    }
    std::vector<uint8_t> buffer(needed + sizeof(wchar_t), 0);
    if (!spooler.GetPrinterDriverDirectoryW(1, buffer.data(), needed, &needed)) {
        return false;
    }
    // The version-3 folder, where the spooler keeps the files of registered
    // drivers; only administrators can write there.
    std::wstring folder = reinterpret_cast<const wchar_t*>(buffer.data());
    folder += L"\\3";
    DWORD error = GetLastError();
    added = addDirectory(folder.c_str()) != nullptr;
    SetLastError(error);
    return added;
}

}  // namespace tde
