// Times a quiet install over an installed, older driver of the A4 model with two
// queues on it (the model's, with a comment, and "Labels" of another name), side
// by side: NEW.exe against OLD.exe, say an upgrade in place against a build that
// reinstalls (deletes both queues and the driver, then installs afresh). Each
// run starts from the same state, made with NEW.exe: the model installed on
// LPT1:, the comment set, "Labels" added on LPT2:, one byte of the installed GPD
// flipped. The two programs take turns in a shuffled order. Prints each run,
// each program's median and what each left of the shop's queues.
//   upgrade_probe RUNS NEW.exe OLD.exe
#include "support/shop_queues_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tde::test;

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

bool Prepare(const std::wstring& newExe) {
    Run(newExe, L"/uninstall /model \"A4 Printer\"");
    return Run(newExe, kInstall) == 0 && SetQueueComment(L"A4 Printer", L"till 2") &&
           AddShopQueue(L"Labels", L"LPT2:", L"A4 Printer", L"labels") &&
           !FlipFirstByte(InstalledDriverFile(L"ZNWA4V.gpd")).empty();
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
                QueueComment(L"A4 Printer") == L"till 2" && QueueComment(L"Labels") == L"labels";
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
