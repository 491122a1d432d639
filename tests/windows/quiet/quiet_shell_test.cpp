// The shell of runs without a window: a program that does not end in time is
// left behind with a line saying so, and the properties window never starts.
#include "quiet/quiet_run.h"

#include <gtest/gtest.h>

namespace tde {
namespace {

TEST(QuietShellTest, WaitsAtMostItsLimitAndStartsNoPropertiesWindow) {
    std::vector<std::u16string> lines;
    const RunReporter report = [&](std::u16string_view line) { lines.emplace_back(line); };
    ShellRequest request;
    request.show = kSwHide;

    // ping waits a second between its echoes: about three seconds against a limit of 0.3.
    QuietShell impatient(report, 300);
    request.file = impatient.SystemFolder() + u"\\cmd.exe";
    request.parameters = u"/c ping -n 4 127.0.0.1 >nul";
    EXPECT_TRUE(impatient.ExecuteAndWait(request));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(request.file + u" did not end within 0 seconds", 0), 0u);

    lines.clear();
    QuietShell patient(report);
    request.parameters = u"/c exit 3";
    EXPECT_TRUE(patient.ExecuteAndWait(request));
    EXPECT_TRUE(lines.empty());

    request.file = patient.SystemFolder() + u"\\rundll32.exe";
    request.parameters = u" printui.dll, PrintUIEntry /p /n\"A4 Printer\" ";
    EXPECT_FALSE(patient.Execute(request));
}

}  // namespace
}  // namespace tde
