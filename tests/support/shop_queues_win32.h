// What a shop does to its printers between two runs, straight through
// winspool.drv and independently of the code under test: a comment set, a
// queue of its own added on the model's driver, an installed driver file changed.
// Header only, so the upgrade benchmark can use it without the test libraries.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace tde::test {

// The queue's level-2 record in `buffer`; null when it cannot be opened or read.
inline PRINTER_INFO_2W* ReadQueue(HANDLE printer, std::vector<BYTE>& buffer) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    buffer.assign(needed + 1, 0);
    return GetPrinterW(printer, 2, buffer.data(), needed, &needed)
               ? reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())
               : nullptr;
}

// The queue's comment; "(no queue)" when it cannot be opened or read.
inline std::wstring QueueComment(const std::wstring& name) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, nullptr)) {
        return L"(no queue)";
    }
    std::vector<BYTE> buffer;
    const PRINTER_INFO_2W* record = ReadQueue(printer, buffer);
    std::wstring comment = record == nullptr             ? L"(no queue)"
                           : record->pComment == nullptr ? L""
                                                         : record->pComment;
    ClosePrinter(printer);
    return comment;
}

// Sets the queue's comment and nothing else; its security stays as it is.
inline bool SetQueueComment(const std::wstring& name, const wchar_t* comment) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) {
        return false;
    }
    std::vector<BYTE> buffer;
    PRINTER_INFO_2W* record = ReadQueue(printer, buffer);
    bool set = record != nullptr;
    if (set) {
        record->pComment = const_cast<wchar_t*>(comment);
        record->pSecurityDescriptor = nullptr;
        set = SetPrinterW(printer, 2, buffer.data(), 0);
    }
    ClosePrinter(printer);
    return set;
}

// A local queue of the shop's own, raw data through WinPrint.
inline bool AddShopQueue(const wchar_t* name, const wchar_t* port, const wchar_t* driver,
                         const wchar_t* comment) {
    PRINTER_INFO_2W queue = {};
    queue.pPrinterName = const_cast<wchar_t*>(name);
    queue.pPortName = const_cast<wchar_t*>(port);
    queue.pDriverName = const_cast<wchar_t*>(driver);
    queue.pComment = const_cast<wchar_t*>(comment);
    queue.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    queue.pDatatype = const_cast<wchar_t*>(L"RAW");
    queue.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&queue));
    if (printer == nullptr) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// The full path of a version-3 driver file; empty when the folder cannot be had.
inline std::wstring InstalledDriverFile(const wchar_t* fileName) {
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(folder), size,
                                    &size)) {
        return L"";
    }
    return std::wstring(folder) + L"\\3\\" + fileName;
}

// Flips the file's first byte in place; the bytes it held before, empty when it
// cannot be read or written.
inline std::string FlipFirstByte(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD done = 0;
    bool flipped = !bytes.empty() &&
                   ReadFile(file, bytes.data(), DWORD(bytes.size()), &done, nullptr) &&
                   done == bytes.size();
    if (flipped) {
        const char first = static_cast<char>(~bytes[0]);
        flipped = SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
                  WriteFile(file, &first, 1, &done, nullptr) && done == 1;
    }
    CloseHandle(file);
    return flipped ? bytes : "";
}

}  // namespace tde::test
