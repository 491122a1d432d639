// Measures launch-to-visible-window of Windows programs, side by side: each
// round starts every program once (in a shuffled order), times
// from CreateProcessW until the process owns a visible top-level window, then
// ends it. Prints each program's median, the ratio of the first program's
// median to the last one's, and the median of the per-round ratios.
//   startup_probe RUNS PROGRAM...
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

double Now(LARGE_INTEGER frequency) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the program shows a window; negative when it does not within 20 s.
double TimeOneStart(const std::wstring& program, LARGE_INTEGER frequency) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Now(frequency);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        std::fwprintf(stderr, L"cannot start %ls: error %lu\n", program.c_str(), GetLastError());
        return -1;
    }
    double elapsed = -1;
    Search search = {process.dwProcessId, false};
    while (Now(frequency) - start < 20000.0) {
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            elapsed = Now(frequency) - start;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
            break;  // ended without a window
        }
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

// The lower quartile: on a busy machine the quicker starts are the ones that
// other work disturbed least.
double LowerQuartile(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 4];
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: startup_probe RUNS PROGRAM...\n");
        return 2;
    }
    int runs = std::max(1, _wtoi(argv[1]));
    std::vector<std::wstring> programs(argv + 2, argv + argc);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);

    // One unmeasured start each: the first start pays for cold file caches.
    for (const auto& program : programs) {
        if (TimeOneStart(program, frequency) < 0) {
            std::fwprintf(stderr, L"%ls showed no window\n", program.c_str());
            return 1;
        }
    }
    std::vector<std::vector<double>> times(programs.size());
    // Each round starts the programs in a fresh order, so no program always
    // follows the same one.
    std::vector<size_t> order(programs.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::mt19937 shuffle(20261209);
    for (int round = 0; round < runs; ++round) {
        std::shuffle(order.begin(), order.end(), shuffle);
        for (size_t i : order) {
            double ms = TimeOneStart(programs[i], frequency);
            if (ms < 0) {
                std::fwprintf(stderr, L"%ls showed no window\n", programs[i].c_str());
                return 1;
            }
            times[i].push_back(ms);
            Sleep(200);  // let the ended process's teardown settle
        }
    }
    // Each round's starts ran moments apart, so the median of the per-round
    // ratios is less at the mercy of other work on the machine than the ratio
    // of two medians; both are printed.
    auto pairedRatio = [&](size_t i) {
        std::vector<double> ratios;
        for (int round = 0; round < runs; ++round) {
            ratios.push_back(times[i][round] / times.back()[round]);
        }
        return Median(ratios);
    };
    double floor = Median(times.back());
    for (size_t i = 0; i < programs.size(); ++i) {
        auto sorted = times[i];
        std::sort(sorted.begin(), sorted.end());
        std::wprintf(
            L"%-26ls median %6.1f ms  %.3fx (per round %.3fx)  lower quartile %6.1f ms  %.3fx  "
            L"min %.1f, max %.1f\n",
            BaseName(programs[i]).c_str(), Median(times[i]), Median(times[i]) / floor,
            pairedRatio(i), LowerQuartile(times[i]),
            LowerQuartile(times[i]) / LowerQuartile(times.back()), sorted.front(), sorted.back());
    }
    std::wprintf(L"%d runs each\n", runs);
    std::wprintf(L"ratio %ls / %ls: %.3f (medians), %.3f (median of the rounds' ratios)\n",
                 BaseName(programs.front()).c_str(), BaseName(programs.back()).c_str(),
                 Median(times.front()) / floor, pairedRatio(0));
    return 0;
}
