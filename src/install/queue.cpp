#include "install/queue.h"

#include "base/collation.h"

#include <new>

namespace tde {

void DeletePrinterQueues(Spooler& spooler, Clock& clock,
                         const std::vector<std::u16string>& queueNames) {
    for (const std::u16string& name : queueNames) {
        PrinterHandle printer = nullptr;
        if (name.starts_with(u"\\\\")) {
            // A connection: deleting through a handle would delete the server's
            // shared queue, and with it every other machine's printer.
            spooler.DeletePrinterConnectionW(name.c_str());
        } else if (spooler.OpenPrinterW(name.c_str(), &printer, kPrinterAllAccess)) {
            spooler.DeletePrinter(printer);
            spooler.ClosePrinter(printer);
        }
        clock.Sleep(kQueueDeletionPauseMs);
    }
}

PrinterInfo2 MakeQueueRecord(const PrinterModel& model) {
    PrinterInfo2 record = {};
    record.pPrinterName = model.queueName.c_str();
    record.pPortName = model.portName.c_str();
    record.pDriverName = model.driverName.c_str();
    record.pPrintProcessor = u"WinPrint";
    // Named rather than left to the spooler: Windows would choose RAW anyway, but
    // a spooler that does not (Wine's) keeps a queue it then cannot open.
    record.pDatatype = u"RAW";
    record.Attributes = kPrinterAttributeLocal;
    return record;
}

QueueCreation CreatePrinterQueue(Spooler& spooler, Shell& shell, const PrinterModel& model) {
    spooler.SetLastError(0);
    PrinterHandle printer = spooler.AddPrinterW(MakeQueueRecord(model));
    if (printer == nullptr) {
        return {false, RefusalCode(spooler)};
    }
    if (model.makeDefault == 1) {
        spooler.SetDefaultPrinterW(model.queueName.c_str());
    }
    spooler.ClosePrinter(printer);
    ShowPrinterProperties(shell, model.queueName);
    return {true, 0};
}

namespace {

// The queue's level-2 record into `buffer`; 0 or the error of the failing call.
uint32_t ReadPrinterRecord(Spooler& spooler, PrinterHandle printer,
                           std::unique_ptr<uint8_t[]>& buffer) {
    uint32_t needed = 0;
    spooler.SetLastError(0);
    if (spooler.GetPrinterW(printer, 2, nullptr, 0, &needed) ||
        spooler.LastError() != kErrorInsufficientBuffer) {
        return RefusalCode(spooler);
    }
    // A record shorter than its fixed part would be read past its end.
    if (needed < sizeof(PrinterInfo2) || needed > kMaxSpoolerBufferBytes) {
        return kErrorInvalidData;
    }
    buffer.reset(new (std::nothrow) uint8_t[needed]);
    if (!buffer) {
        return kErrorNotEnoughMemory;
    }
    uint32_t stillNeeded = 0;
    spooler.SetLastError(0);
    return spooler.GetPrinterW(printer, 2, buffer.get(), needed, &stillNeeded)
               ? kErrorSuccess
               : RefusalCode(spooler);
}

}  // namespace

uint32_t SetPrinterPort(Spooler& spooler, std::u16string_view queueName,
                        std::u16string_view portName) {
    const std::u16string name(queueName);
    const std::u16string port(portName);
    PrinterHandle printer = nullptr;
    spooler.SetLastError(0);
    if (!spooler.OpenPrinterW(name.c_str(), &printer, kPrinterAllAccess)) {
        return RefusalCode(spooler);
    }
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t error = ReadPrinterRecord(spooler, printer, buffer);
    if (error == kErrorSuccess) {
        PrinterInfo2 record = *reinterpret_cast<const PrinterInfo2*>(buffer.get());
        record.pPortName = port.c_str();
        // The descriptor as read would set the owner too, which an administrator
        // who is not the owner may be refused; none leaves the security alone.
        record.pSecurityDescriptor = nullptr;
        spooler.SetLastError(0);
        error = spooler.SetPrinterW(printer, record, 0) ? kErrorSuccess : RefusalCode(spooler);
    }
    if (error == kErrorSuccess) {
        error = ReadPrinterRecord(spooler, printer, buffer);
        const char16_t* after = error == kErrorSuccess
                                    ? reinterpret_cast<const PrinterInfo2*>(buffer.get())->pPortName
                                    : nullptr;
        if (error == kErrorSuccess && (after == nullptr || !SameNameIgnoringCase(after, port))) {
            error = kErrorUnidentifiedError;
        }
    }
    spooler.ClosePrinter(printer);
    return error;
}

std::u16string PrinterPropertiesParameters(std::u16string_view queueName) {
    std::u16string parameters = u" printui.dll, PrintUIEntry /p /n\"";
    parameters += queueName;
    parameters += u"\" ";
    return parameters;
}

void ShowPrinterProperties(Shell& shell, std::u16string_view queueName) {
    ShellRequest request;
    if (SystemProgramRequest(shell, u"rundll32.exe", PrinterPropertiesParameters(queueName),
                             kSwShowNormal, request)) {
        shell.Execute(request);
    }
}

}  // namespace tde
