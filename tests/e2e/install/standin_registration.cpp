// Leaves in the spooler what an installation leaves, through the product's own
// spooler code, so that the end-to-end checks can be shown to read such a state
// from another process. Usage:
//   standin_registration <driver name> <port> <module> <file stem> <make default 0|1>
// copies <module> into the driver directory as <stem>UI.dll and <stem>.dll, writes
// <stem>.gpd and <stem>.hlp, registers the driver as version 3 with those four
// as dependent files, creates the queue of the same name on <port> and, when
// asked, makes it the default printer. Exit code 0, or the step that failed.
#include "spooler/spooler.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::u16string U16(const std::wstring& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.c_str()), text.size());
}

bool WriteSmallFile(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
    return true;
}

int Fail(int step, const char* what, uint32_t error) {
    std::printf("%s failed, error %u\n", what, error);
    return step;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::printf("usage: standin_registration NAME PORT MODULE STEM DEFAULT\n");
        return 1;
    }
    const std::wstring name = argv[1], port = argv[2], module = argv[3], stem = argv[4];
    const bool makeDefault = std::wstring(argv[5]) == L"1";
    std::unique_ptr<tde::Spooler> spooler = tde::CreateWin32Spooler();

    wchar_t directory[MAX_PATH] = {};
    uint32_t needed = 0;
    if (!spooler->GetPrinterDriverDirectoryW(1, reinterpret_cast<uint8_t*>(directory),
                                             sizeof(directory), &needed)) {
        return Fail(2, "GetPrinterDriverDirectoryW", spooler->LastError());
    }
    const std::wstring base = std::wstring(directory) + L"\\";
    const std::u16string config = U16(stem + L"UI.dll"), driverFile = U16(stem + L".dll"),
                         data = U16(stem + L".gpd"), help = U16(stem + L".hlp");
    if (!CopyFileW(module.c_str(), (base + stem + L"UI.dll").c_str(), FALSE) ||
        !CopyFileW(module.c_str(), (base + stem + L".dll").c_str(), FALSE) ||
        !WriteSmallFile(base + stem + L".gpd", "*GPDSpecVersion: \"1.0\"\r\n") ||
        !WriteSmallFile(base + stem + L".hlp", "help\r\n")) {
        return Fail(3, "placing the driver files", GetLastError());
    }
    std::u16string dependent = config + u'\0' + driverFile + u'\0' + help + u'\0' + data + u'\0';
    const std::u16string displayName = U16(name);
    tde::DriverInfo6 driver = {};
    driver.cVersion = 3;
    driver.pName = displayName.c_str();
    driver.pDriverPath = driverFile.c_str();
    driver.pDataFile = data.c_str();
    driver.pConfigFile = config.c_str();
    driver.pHelpFile = help.c_str();
    driver.pDependentFiles = dependent.c_str();
    driver.pszMfgName = u"ZNW";
    driver.pszProvider = u"ZNW";
    if (!spooler->AddPrinterDriverExW(driver, tde::kApdCopyAllFiles)) {
        return Fail(4, "AddPrinterDriverExW", spooler->LastError());
    }

    const std::u16string portName = U16(port);
    tde::PrinterInfo2 queue = {};
    queue.pPrinterName = displayName.c_str();
    queue.pPortName = portName.c_str();
    queue.pDriverName = displayName.c_str();
    queue.pPrintProcessor = u"WinPrint";
    queue.pDatatype = u"RAW";
    queue.Attributes = tde::kPrinterAttributeLocal;
    tde::PrinterHandle printer = spooler->AddPrinterW(queue);
    if (printer == nullptr) {
        return Fail(5, "AddPrinterW", spooler->LastError());
    }
    spooler->ClosePrinter(printer);
    if (makeDefault && !spooler->SetDefaultPrinterW(displayName.c_str())) {
        return Fail(6, "the default-printer function", spooler->LastError());
    }
    return 0;
}
