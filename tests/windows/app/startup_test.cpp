// Start-up with the real dialog from the exe's own resources, the restart
// manager's registration seen through the application's seam (Wine's own
// RegisterApplicationRestart is a stub that records nothing).
#include "app/app.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

namespace tde {
namespace {

std::atomic<int> registrations{0};
std::atomic<bool> nullCommandLine{false};
std::atomic<DWORD> registeredFlags{0xFFFFFFFF};

HRESULT WINAPI RecordRegistration(PCWSTR commandLine, DWORD flags) {
    ++registrations;
    nullCommandLine = commandLine == nullptr;
    registeredFlags = flags;
    return S_OK;
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (pid == search->process && IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

TEST(StartupTest, RegistersForRestartOnceBeforeTheDialogWithNoCommandLine) {
    std::atomic<int> registrationsWhenShown{-1};
    std::thread closer([&registrationsWhenShown] {
        for (int i = 0; i < 300; ++i) {
            Search search = {GetCurrentProcessId(), nullptr};
            EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr) {
                registrationsWhenShown = registrations.load();
                PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                return;
            }
            Sleep(100);
        }
    });
    CTarnDovEzuvarApp app(GetModuleHandleW(nullptr), RecordRegistration);
    EXPECT_FALSE(app.InitInstance());
    closer.join();
    EXPECT_EQ(registrationsWhenShown, 1) << "the dialog did not appear, or came first";
    EXPECT_EQ(registrations, 1);
    EXPECT_TRUE(nullCommandLine);
    EXPECT_EQ(registeredFlags, 0u) << "restart support only";
}

TEST(StartupTest, TheSystemRegistrarIsTheKernelsOwn) {
    // Present from Vista on, and in Wine.
    auto expected = reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "RegisterApplicationRestart"));
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(SystemRestartRegistrar()), expected);
}

}  // namespace
}  // namespace tde
