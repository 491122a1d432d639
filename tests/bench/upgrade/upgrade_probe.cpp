// Times a quiet install over an installed, older driver of the A4 model with two
// queues on it (the model's, with a comment, and "Labels" of another name), side
// by side: NEW.exe against OLD.exe, say an upgrade in place against a build that
// reinstalls (deletes both queues and the driver, then installs afresh). Each
// run starts from the same state, made with NEW.exe: the model installed on
// LPT1:, the comment set, "Labels" added on LPT2:, one byte of the installed GPD
// flipped. The two programs take turns in a shuffled order. Prints each run,
// each program's median and what each left of the shop's queues.
//   upgrade_probe RUNS NEW.exe OLD.exe
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const wchar_t kInstall[] = L"/quiet /model \"A4 Printer\" /port LPT1:";

double Now() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs the program to its end; its exit code, 0xFFFFFFFF when it did not start.
DWORD Run(const std::wstring& exe, const std::wstring& arguments, double* ms = nullptr) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const double start = Now();
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fwprintf(stderr, L"cannot start %ls: error %lu\n", exe.c_str(), GetLastError());
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (ms != nullptr) {
        *ms = Now() - start;
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The queue's comment; "(no queue)" when it cannot be opened.
std::wstring CommentOf(const wchar_t* name) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name), &printer, nullptr)) {
        return L"(no queue)";
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 1);
    std::wstring comment;
    if (GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        const wchar_t* text = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pComment;
        comment = text != nullptr ? text : L"";
    }
    ClosePrinter(printer);
    return comment;
}

bool SetComment(const wchar_t* name, const wchar_t* comment) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name), &printer, &defaults)) {
        return false;
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 1);
    bool set = GetPrinterW(printer, 2, buffer.data(), needed, &needed);
    if (set) {
        auto* record = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
        record->pComment = const_cast<wchar_t*>(comment);
        record->pSecurityDescriptor = nullptr;
        set = SetPrinterW(printer, 2, buffer.data(), 0);
    }
    ClosePrinter(printer);
    return set;
}

bool AddLabels() {
    PRINTER_INFO_2W labels = {};
    labels.pPrinterName = const_cast<wchar_t*>(L"Labels");
    labels.pPortName = const_cast<wchar_t*>(L"LPT2:");
    labels.pDriverName = const_cast<wchar_t*>(L"A4 Printer");
    labels.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    labels.pDatatype = const_cast<wchar_t*>(L"RAW");
    labels.pComment = const_cast<wchar_t*>(L"labels");
    labels.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&labels));
    if (printer == nullptr) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// Flips the first byte of the installed GPD: the driver's files are then not the package's.
bool AlterDataFile() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 3, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumPrinterDriversW(nullptr, nullptr, 3, buffer.data(), needed, &needed, &count)) {
        return false;
    }
    const wchar_t* path = nullptr;
    auto* drivers = reinterpret_cast<DRIVER_INFO_3W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (lstrcmpiW(drivers[i].pName, L"A4 Printer") == 0) {
            path = drivers[i].pDataFile;
        }
    }
    HANDLE file = path == nullptr ? INVALID_HANDLE_VALUE
                                  : CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    unsigned char byte = 0;
    DWORD done = 0;
    bool flipped = ReadFile(file, &byte, 1, &done, nullptr) && done == 1;
    byte = static_cast<unsigned char>(~byte);
    flipped = flipped && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
              WriteFile(file, &byte, 1, &done, nullptr) && done == 1;
    CloseHandle(file);
    return flipped;
}

bool Prepare(const std::wstring& newExe) {
    Run(newExe, L"/uninstall /model \"A4 Printer\"");
    return Run(newExe, kInstall) == 0 && SetComment(L"A4 Printer", L"till 2") && AddLabels() &&
           AlterDataFile();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: upgrade_probe RUNS NEW.exe OLD.exe\n");
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    const std::wstring exes[2] = {argv[2], argv[3]};
    const wchar_t* const names[2] = {L"new", L"old"};
    std::vector<double> times[2];
    int kept[2] = {0, 0};
    std::mt19937 random(20261210);
    for (int round = 0; round < runs; ++round) {
        int order[2] = {0, 1};
        std::shuffle(order, order + 2, random);
        for (int which : order) {
            if (!Prepare(exes[0])) {
                std::fwprintf(stderr, L"round %d: the starting state could not be made\n", round);
                return 1;
            }
            double ms = 0;
            const DWORD code = Run(exes[which], kInstall, &ms);
            const bool queuesKept =
                CommentOf(L"A4 Printer") == L"till 2" && CommentOf(L"Labels") == L"labels";
            kept[which] += queuesKept ? 1 : 0;
            times[which].push_back(ms);
            std::wprintf(L"upgrade-run exe=%ls round=%d ms=%.0f exit=%lu queues_kept=%d\n",
                         names[which], round, ms, code, queuesKept ? 1 : 0);
        }
    }
    Run(exes[0], L"/uninstall /model \"A4 Printer\"");
    for (int which = 0; which < 2; ++which) {
        std::wprintf(L"%ls: median %.0f ms over %d runs; the shop's queues kept in %d\n",
                     names[which], Median(times[which]), runs, kept[which]);
    }
    return 0;
}
