// Queue deletion, creation, re-porting and the printer properties window.
#include "install/install.h"
#include "spooler/memory_spooler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::Each;
using testing::ElementsAre;

namespace tde {
namespace {

std::u16string Text(const char16_t* text) {
    return text != nullptr ? text : u"(null)";
}

class QueueTest : public testing::Test {
  protected:
    void SetUp() override {
        spooler.ports = {{u"COM1:"}, {u"LPT1:"}, {u"USB001"}};
        MemorySpooler::Driver driver;
        driver.name = u"A4 Printer";
        spooler.drivers = {driver};
        model.driverName = u"A4 Printer";
        model.queueName = u"A4 Printer";
        model.portName = u"USB001";
        model.makeDefault = 1;
    }
    void AddQueue(std::u16string name, std::u16string port = u"LPT1:") {
        MemorySpooler::Queue queue;
        queue.name = std::move(name);
        queue.port = std::move(port);
        queue.driver = u"A4 Printer";
        spooler.queues.push_back(queue);
    }

    MemorySpooler spooler;
    FakeClock clock;
    RecordingShell shell;
    PrinterModel model;
};

TEST_F(QueueTest, DeletesAllTenQueuesWithAPauseAfterEach) {
    std::vector<std::u16string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back(u"A4 Printer (" + std::u16string(1, u'0' + i) + u")");
        AddQueue(names.back());
    }
    AddQueue(u"Unrelated");
    DeletePrinterQueues(spooler, clock, names);
    ASSERT_EQ(spooler.queues.size(), 1u);
    EXPECT_EQ(spooler.queues[0].name, u"Unrelated");
    EXPECT_EQ(clock.sleeps.size(), 10u);
    EXPECT_THAT(clock.sleeps, Each(200u));
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    for (const SpoolerCall& call : spooler.Calls()) {
        if (call.op == SpoolerOp::OpenPrinterW) {
            EXPECT_EQ(call.flags, kPrinterAllAccess);
        }
    }
}

TEST_F(QueueTest, PausesAlsoAfterANameThatNoLongerExists) {
    AddQueue(u"Present");
    DeletePrinterQueues(spooler, clock, {u"Gone", u"Present"});
    EXPECT_THAT(clock.sleeps, ElementsAre(200u, 200u));
    EXPECT_TRUE(spooler.queues.empty());
    EXPECT_EQ(spooler.CallCount(SpoolerOp::DeletePrinter), 1u);
}

TEST_F(QueueTest, ClosesTheQueueEvenWhenItsDeletionFails) {
    AddQueue(u"Busy");
    spooler.FailCall(SpoolerOp::DeletePrinter, 5);
    DeletePrinterQueues(spooler, clock, {u"Busy"});
    EXPECT_NE(spooler.FindQueue(u"Busy"), nullptr);
    EXPECT_EQ(spooler.CallCount(SpoolerOp::ClosePrinter), 1u);
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    EXPECT_THAT(clock.sleeps, ElementsAre(200u));
}

TEST_F(QueueTest, TheQueueRecordIsAsTabledWithTheRawDatatypeNamed) {
    PrinterInfo2 record = MakeQueueRecord(model);
    EXPECT_EQ(record.pServerName, nullptr);
    EXPECT_EQ(Text(record.pPrinterName), u"A4 Printer");
    EXPECT_EQ(record.pShareName, nullptr);
    EXPECT_EQ(Text(record.pPortName), u"USB001");
    EXPECT_EQ(Text(record.pDriverName), u"A4 Printer");
    EXPECT_EQ(record.pComment, nullptr);
    EXPECT_EQ(record.pLocation, nullptr);
    EXPECT_EQ(record.pDevMode, nullptr);
    EXPECT_EQ(record.pSepFile, nullptr);
    EXPECT_EQ(Text(record.pPrintProcessor), u"WinPrint");
    EXPECT_EQ(Text(record.pDatatype), u"RAW");
    EXPECT_EQ(record.pParameters, nullptr);
    EXPECT_EQ(record.pSecurityDescriptor, nullptr);
    EXPECT_EQ(record.Attributes, 0x40u);
    EXPECT_EQ(record.Priority + record.DefaultPriority + record.StartTime + record.UntilTime +
                  record.Status + record.cJobs + record.AveragePPM,
              0u);
}

TEST_F(QueueTest, CreatesTheQueueMakesItDefaultClosesItAndOpensItsProperties) {
    QueueCreation result = CreatePrinterQueue(spooler, shell, model);
    EXPECT_TRUE(result.created);
    const MemorySpooler::Queue* queue = spooler.FindQueue(u"A4 Printer");
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->port, u"USB001");
    EXPECT_EQ(queue->datatype, u"RAW");
    EXPECT_EQ(queue->printProcessor, u"WinPrint");
    EXPECT_EQ(spooler.defaultPrinter, u"A4 Printer");
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].parameters, u" printui.dll, PrintUIEntry /p /n\"A4 Printer\" ");
    // The default is set before the handle is closed and the window opened.
    std::vector<SpoolerOp> order;
    for (const SpoolerCall& call : spooler.Calls()) {
        order.push_back(call.op);
    }
    EXPECT_THAT(order, ElementsAre(SpoolerOp::AddPrinterW, SpoolerOp::SetDefaultPrinterW,
                                   SpoolerOp::ClosePrinter));
}

TEST_F(QueueTest, LeavesTheDefaultPrinterAloneWhenNotAsked) {
    AddQueue(u"Office");
    spooler.defaultPrinter = u"Office";
    model.makeDefault = 0;
    EXPECT_TRUE(CreatePrinterQueue(spooler, shell, model).created);
    EXPECT_EQ(spooler.defaultPrinter, u"Office");
    EXPECT_EQ(spooler.CallCount(SpoolerOp::SetDefaultPrinterW), 0u);
}

TEST_F(QueueTest, AFailedCreationReportsTheErrorAndDoesNothingElse) {
    model.portName = u"LPT9:";
    QueueCreation result = CreatePrinterQueue(spooler, shell, model);
    EXPECT_FALSE(result.created);
    EXPECT_EQ(result.error, kErrorUnknownPort);
    // A refusal that sets no error still reports one, never a stale one.
    spooler.FailCall(SpoolerOp::AddPrinterW, MemorySpooler::kLeaveLastError);
    EXPECT_EQ(CreatePrinterQueue(spooler, shell, model).error, kErrorUnidentifiedError);
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_EQ(spooler.defaultPrinter, u"");
    EXPECT_EQ(spooler.CallCount(SpoolerOp::ClosePrinter), 0u);
}

// The mend: a spooler that refuses queues without a datatype (Wine's) still gets
// a sound queue, one it can open again.
TEST_F(QueueTest, TheNewQueueCanBeOpenedOnASpoolerThatRefusesAMissingDatatype) {
    spooler.nullDatatype = MemorySpooler::NullDatatype::Refused;
    ASSERT_TRUE(CreatePrinterQueue(spooler, shell, model).created);
    PrinterHandle printer = nullptr;
    EXPECT_TRUE(spooler.OpenPrinterW(u"A4 Printer", &printer, kPrinterAllAccess));
    spooler.ClosePrinter(printer);
}

TEST_F(QueueTest, ADefaultPrinterFailureGoesUnnoticed) {
    spooler.FailCall(SpoolerOp::SetDefaultPrinterW, 1801);
    EXPECT_TRUE(CreatePrinterQueue(spooler, shell, model).created);
    EXPECT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
}

TEST_F(QueueTest, SetPrinterPortMovesTheQueueAndChangesNothingElse) {
    AddQueue(u"A4 Printer", u"LPT1:");
    MemorySpooler::Queue& queue = spooler.queues.back();
    queue.comment = u"front desk";
    queue.location = u"hall";
    queue.shareName = u"A4";
    queue.priority = 7;
    queue.attributes = kPrinterAttributeLocal | 0x8;
    queue.devMode = u"58 mm labels";
    queue.security = u"shop staff";
    spooler.defaultPrinter = u"Other";
    MemorySpooler::Queue before = queue;

    EXPECT_EQ(SetPrinterPort(spooler, u"A4 Printer", u"USB001"), 0u);
    const MemorySpooler::Queue* after = spooler.FindQueue(u"A4 Printer");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->port, u"USB001");
    EXPECT_EQ(after->driver, before.driver);
    EXPECT_EQ(after->comment, before.comment);
    EXPECT_EQ(after->location, before.location);
    EXPECT_EQ(after->shareName, before.shareName);
    EXPECT_EQ(after->datatype, before.datatype);
    EXPECT_EQ(after->printProcessor, before.printProcessor);
    EXPECT_EQ(after->priority, before.priority);
    EXPECT_EQ(after->attributes, before.attributes);
    EXPECT_EQ(after->devMode, before.devMode);
    EXPECT_EQ(after->securitySets, 0);  // no descriptor handed in: the security stays
    EXPECT_EQ(spooler.queues.size(), 1u);
    EXPECT_EQ(spooler.defaultPrinter, u"Other");
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    // Command 0, then the port read back.
    const std::vector<SpoolerCall>& calls = spooler.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[calls.size() - 4].op, SpoolerOp::SetPrinterW);
    EXPECT_EQ(calls[calls.size() - 4].flags, 0u);
    EXPECT_EQ(calls[calls.size() - 2].op, SpoolerOp::GetPrinterW);
}

TEST_F(QueueTest, SetPrinterPortStopsAtEachFailureWithItsCode) {
    AddQueue(u"A4 Printer", u"LPT1:");
    // Not there at all.
    EXPECT_EQ(SetPrinterPort(spooler, u"Missing", u"USB001"), kErrorInvalidPrinterName);
    EXPECT_EQ(spooler.CallCount(SpoolerOp::GetPrinterW), 0u);
    // The size query fails with something other than "buffer too small".
    spooler.FailCall(SpoolerOp::GetPrinterW, kErrorInvalidHandle, 1);
    EXPECT_EQ(SetPrinterPort(spooler, u"A4 Printer", u"USB001"), kErrorInvalidHandle);
    EXPECT_EQ(spooler.CallCount(SpoolerOp::GetPrinterW), 1u);
    // The record itself cannot be read.
    spooler.FailCall(SpoolerOp::GetPrinterW, kErrorNotEnoughMemory, 2);
    EXPECT_EQ(SetPrinterPort(spooler, u"A4 Printer", u"USB001"), kErrorNotEnoughMemory);
    // The spooler refuses the port, or refuses silently.
    EXPECT_EQ(SetPrinterPort(spooler, u"A4 Printer", u"LPT9:"), kErrorUnknownPort);
    spooler.FailCall(SpoolerOp::SetPrinterW, MemorySpooler::kLeaveLastError);
    EXPECT_EQ(SetPrinterPort(spooler, u"A4 Printer", u"USB001"), kErrorUnidentifiedError);
    EXPECT_EQ(spooler.FindQueue(u"A4 Printer")->port, u"LPT1:");
    EXPECT_EQ(spooler.CallCount(SpoolerOp::SetPrinterW), 2u);
    EXPECT_EQ(spooler.OpenHandleCount(), 0u);
    EXPECT_EQ(spooler.CallCount(SpoolerOp::ClosePrinter), 4u);
}

TEST_F(QueueTest, PropertiesStartRundll32FromTheSystemFolderWithTheExactCommandLine) {
    ShowPrinterProperties(shell, u"A3 Printer");
    ASSERT_EQ(shell.requests.size(), 1u);
    const ShellRequest& request = shell.requests[0];
    EXPECT_EQ(request.file, u"C:\\Windows\\system32\\rundll32.exe");
    EXPECT_EQ(
        ProcessCommandLine(request),
        u"\"C:\\Windows\\system32\\rundll32.exe\"  printui.dll, PrintUIEntry /p /n\"A3 Printer\" ");
    EXPECT_EQ(request.parameters, u" printui.dll, PrintUIEntry /p /n\"A3 Printer\" ");
    EXPECT_EQ(request.directory, u"C:\\Windows\\system32");  // never the installer's folder
    EXPECT_EQ(request.show, 1);

    shell.systemFolder = u"D:\\WINNT\\system32\\";
    ShowPrinterProperties(shell, u"X");
    EXPECT_EQ(shell.requests.back().file, u"D:\\WINNT\\system32\\rundll32.exe");
    EXPECT_EQ(shell.requests.back().directory, u"D:\\WINNT\\system32");
}

TEST_F(QueueTest, PropertiesStartNothingByBareNameWhenTheSystemFolderIsUnknown) {
    shell.systemFolder.clear();
    ShowPrinterProperties(shell, u"A4 Printer");
    EXPECT_TRUE(shell.requests.empty());
}

}  // namespace
}  // namespace tde
