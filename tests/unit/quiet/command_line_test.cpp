// Command lines of unattended runs and the exit codes their ends earn.
#include "quiet/exit_code.h"

#include "install/catalogue.h"
#include "support/text.h"

#include <gtest/gtest.h>

namespace tde {
namespace {

using test::Narrow;

struct LineCase {
    const char16_t* arguments;
    RunMode mode;  // Dialog with an error text: invalid
    const char16_t* error;
    size_t model = 0;
    const char16_t* port = u"";
    bool portAuto = false, makeDefault = false;
    const char16_t* log = u"";
    bool portTcp = false;
};

constexpr RunMode I = RunMode::Install, U = RunMode::Uninstall, D = RunMode::Dialog,
                  R = RunMode::Rollback;

const LineCase kLines[] = {
    {u"", D, nullptr, 0, u"", false, false, u""},
    {u"  \t ", D, nullptr, 0, u"", false, false, u""},
    {u"/?", RunMode::Usage, nullptr, 0, u"", false, false, u""},
    {u"/quiet /bogus -?", RunMode::Usage, nullptr, 0, u"", false, false, u""},
    {u"/quiet /model \"A4 Printer\" /port USB001",  //
     I, nullptr, 0, u"USB001", false, false, u""},
    {u"-QUIET -Model:\"a3 printer\" -PORT=IP_10.0.0.5 /Default /LOG \"C:\\Logs\\a 3.log\"",  //
     I, nullptr, 1, u"IP_10.0.0.5", false, true, u"C:\\Logs\\a 3.log"},
    {u"/quiet /model=\"4IN PRINTER\" /port:COM1: /log:C:\\l.txt",  //
     I, nullptr, 2, u"COM1:", false, false, u"C:\\l.txt"},
    {u"/quiet /model \"A4 Printer\" /port AUTO", I, nullptr, 0, u"", true, false, u""},
    {u"/uninstall /model \"a4 printer\"", U, nullptr, 0, u"", false, false, u""},
    {u"/rollback /model \"a3 printer\" /log r.log", R, nullptr, 1, u"", false, false, u"r.log"},
    {u"/rollback /uninstall /model \"A3 Printer\"", D, u"/check, /uninstall, /port, /default"},
    {u"/quiet /uninstall /model \"A3 Printer\" /log x.log", U, nullptr, 1, u"", false, false,
     u"x.log"},
    {u"/uninstall /quiet /model \"A3 Printer\" /norestart", U, nullptr, 1, u"", false, false, u""},
    {u"/quiet /model \"A4 Printer\" /port USB001 /log -x.log /NoRestart /repair", I, nullptr, 0,
     u"USB001", false, false, u"-x.log"},
    {u"\"/model=A4 Printer\" /port \"US\"\"B1\" /quiet", I, nullptr, 0, u"US\"B1", false, false,
     u""},
    {u"/quiet /model \"A4 Printer\" /port \\\\srv\\\"q\\\"", I, nullptr, 0, u"\\\\srv\"q\"", false,
     false, u""},
    // Invalid: 1639.
    {u"/quiet /model \"A4 Printer\" /port USB001 /silent", D, u"Unknown switch: /silent"},
    {u"/quiet /model A4 Printer /port USB001", D, u"Unexpected argument: Printer"},
    {u"/quiet /model \"A5 Printer\" /port USB001", D, u"Unknown model: \"A5 Printer\""},
    {u"/quiet /model /port USB001", D, u"Missing value for /model"},
    {u"/quiet /model \"A4 Printer\" /port", D, u"Missing value for /port"},
    {u"/quiet /model: /port USB001", D, u"Missing value for /model"},
    {u"/quiet /model \"A4 Printer\" /port \"\"", D, u"Missing value for /port"},
    {u"/quiet /model \"A4 Printer\" /port USB001 /log", D, u"Missing value for /log"},
    {u"/quiet /model \"A4 Printer\"", D, u"/port is required to install"},
    {u"/quiet /port USB001", D, u"/model is required"},
    {u"/model \"A4 Printer\" /port USB001", D, u"Either /quiet or /uninstall is required"},
    {u"/quiet /quiet /model \"A4 Printer\" /port USB001", D, u"/quiet is given twice"},
    {u"/quiet:yes /model \"A4 Printer\" /port USB001", D, u"/quiet takes no value"},
    {u"/uninstall /model \"A4 Printer\" /port USB001", D, u"/port, /default and /repair do not go"},
    {u"/uninstall /model \"A4 Printer\" /repair", D, u"/port, /default and /repair do not go"},
    {u"/ /model \"A4 Printer\"", D, u"Unexpected argument: /"},
    {u"/check /model \"a3 printer\"", RunMode::Check, nullptr, 1},
    {u"/uninstall /check /model \"A4 Printer\"", D, u"/uninstall and /default do not go"},
    {u"/quiet /model \"A4 Printer\" /port tcp:[::1]:9101", I, nullptr, 0, u"tcp:[::1]:9101", false,
     false, u"", true},
    {u"/check /model \"A4 Printer\" /port:TCP:till", RunMode::Check, nullptr, 0, u"TCP:till", false,
     false, u"", true},
    {u"/quiet /model \"A4 Printer\" /port tcp:10.0.0.256", D, u"Malformed network printer"},
};

TEST(CommandLineTest, TableOfCommandLines) {
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(Narrow(c.arguments));
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments, catalogue.modelNames);
        if (c.error != nullptr) {
            EXPECT_FALSE(parsed.valid);
            EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << Narrow(parsed.error);
            continue;
        }
        ASSERT_TRUE(parsed.valid) << Narrow(parsed.error);
        EXPECT_EQ(parsed.line.mode, c.mode);
        if (c.mode == I || c.mode == U || c.mode == R || c.mode == RunMode::Check) {
            EXPECT_EQ(parsed.line.model, c.model);
            EXPECT_EQ(parsed.line.port, c.port);
            EXPECT_EQ(parsed.line.portAuto, c.portAuto);
            EXPECT_EQ(parsed.line.makeDefault, c.makeDefault);
            EXPECT_EQ(parsed.line.logPath, c.log);
            EXPECT_EQ(parsed.line.portTcp, c.portTcp);
        }
    }
}

TEST(CommandLineTest, TheLogPathIsReadOffAnInvalidLine) {
    EXPECT_EQ(LogPathOf(u"/quiet /bogus /LOG \"C:\\L\\a 4.log\" x"), u"C:\\L\\a 4.log");
    EXPECT_EQ(LogPathOf(u"/quiet -log:x.log /log"), u"");
    EXPECT_EQ(LogPathOf(u"/log /quiet"), u"");
}

TEST(CommandLineTest, TableOfRunEndsAndExitCodes) {
    EndState installed;
    installed.driverInstalled = installed.queueExists = installed.queueIsDefault = true;
    installed.driverFilesWhole = true;
    installed.queuePort = u"usb001";
    installed.queueDriver = u"A4 PRINTER";
    installed.queuesOnDriver = 1;
    auto with = [&](auto change) {
        EndState end = installed;
        change(end);
        return end;
    };
    struct Case {
        const char* what;
        RunFacts facts;
        uint32_t code;
        std::optional<bool> whole = {};  // what InstalledAndWhole says, where it matters
        const char* line = nullptr;      // a part of the result line
    };
    auto install = [](EndState end, bool makeDefault = true) {
        RunFacts f;
        f.model = u"A4 Printer";
        f.port = u"USB001";
        f.makeDefault = makeDefault;
        f.end = std::move(end);
        return f;
    };
    auto uninstall = [](EndState end) {
        RunFacts f;
        f.mode = RunMode::Uninstall;
        f.model = u"A4 Printer";
        f.end = std::move(end);
        return f;
    };
    auto rollback = [&](EndState end, bool marked) {
        RunFacts f = uninstall(std::move(end));
        f.mode = RunMode::Rollback;
        f.rollbackMarked = marked;
        return f;
    };
    RunFacts invalidAndLocked = install(installed);
    invalidAndLocked.commandLineValid = false;
    invalidAndLocked.lockTaken = false;
    RunFacts locked = install(installed);
    locked.lockTaken = false;
    RunFacts refused = locked;  // the run sets both
    refused.lockRefused = true;
    auto facts = [&](auto change, EndState end = EndState{}) {
        RunFacts f = install(std::move(end));
        change(f);
        return f;
    };

    const Case cases[] = {
        // The numbers themselves: fleet tools know them, not our constants.
        {"installed and checked", install(installed), 0},
        {"not default, none asked",
         install(with([](EndState& e) { e.queueIsDefault = false; }), false), 0},
        {"invalid beats the lock", invalidAndLocked, 1639},
        {"lock held", locked, 1618},
        {"lock refused", refused, 1603},
        {"/default as LocalSystem",
         facts([](RunFacts& f) { f.runsAsLocalSystem = true; }, installed), 1639},
        {"LocalSystem without /default",
         facts(
             [](RunFacts& f) {
                 f.runsAsLocalSystem = true;
                 f.makeDefault = false;
             },
             installed),
         0},
        {"port not listed", facts([](RunFacts& f) { f.portListed = false; }, installed), 1603},
        {"port auto found nothing", facts([](RunFacts& f) { f.portAuto = true; }), 1603},
        {"port auto found two",
         facts(
             [](RunFacts& f) {
                 f.portAuto = true;
                 f.usbPorts = {u"USB001", u"USB002"};
             },
             installed),
         1603},
        {"port auto found one",
         facts(
             [](RunFacts& f) {
                 f.portAuto = true;
                 f.usbPorts = {u"USB001"};
             },
             installed),
         0},
        {"check before the run failed",
         facts([](RunFacts& f) { f.checksPassed = false; }, installed), 1603},
        {"/check over an empty end state", facts([](RunFacts& f) { f.mode = RunMode::Check; }), 0},
        {"workflow failed, old driver still there",
         facts([](RunFacts& f) { f.workflowSucceeded = false; }, installed), 1603},
        {"lists unreadable", install(with([](EndState& e) { e.listsRead = false; })), 1603},
        {"driver files differ", install(with([](EndState& e) { e.driverFilesWhole = false; })),
         1603},
        {"no driver", install(with([](EndState& e) { e.driverInstalled = false; })), 1603},
        {"no queue", install(with([](EndState& e) { e.queueExists = false; })), 1603},
        {"queue on another port", install(with([](EndState& e) { e.queuePort = u"COM1:"; })), 1603},
        {"queue on another driver", install(with([](EndState& e) { e.queueDriver = u"Other"; })),
         1603},
        {"not default", install(with([](EndState& e) { e.queueIsDefault = false; })), 1603, true},
        {"uninstalled", uninstall(EndState{}), 0, {}, "A4 Printer removed. Exit code 0."},
        {"queue of the name on another driver stays", uninstall(with([](EndState& e) {
             e = EndState{};
             e.queueExists = true;
         })),
         0},
        {"uninstall, lists unreadable", uninstall(with([](EndState& e) {
             e = EndState{};
             e.listsRead = false;
         })),
         1603},
        {"driver left",
         uninstall(with([](EndState& e) { e.queuesOnDriver = 0; })),
         1603,
         {},
         "A4 Printer not removed: the driver is still installed"},
        {"rollback, nothing marked", rollback(installed, false), 0},
        {"rollback, marked, driver left", rollback(installed, true), 1603},
        {"queue left on the driver",
         uninstall(with([](EndState& e) { e.driverInstalled = false; })), 1603},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunVerdict verdict = DecideExitCode(c.facts);
        EXPECT_EQ(verdict.exitCode, c.code) << Narrow(verdict.reason);
        EXPECT_EQ(verdict.reason.empty(), c.code == kExitSuccess);
        const std::string line = Narrow(ResultLine(c.facts, verdict));
        EXPECT_NE(line.find("Exit code " + std::to_string(c.code) + "."), std::string::npos)
            << line;
        if (c.line != nullptr) {
            EXPECT_NE(line.find(c.line), std::string::npos) << line;
        }
        if (c.whole) {
            EXPECT_EQ(InstalledAndWhole(c.facts), *c.whole);
        }
    }
}

}  // namespace
}  // namespace tde
