#include "app/unattended.h"

namespace tde {

namespace {

bool SameName(std::u16string_view a, std::u16string_view b) {
    return SameNameIgnoringCase(a, b);
}

std::u16string_view Text(const char16_t* text) {
    return text != nullptr ? text : u"";
}

}  // namespace

EndState ReadEndState(Spooler& spooler, std::u16string_view model) {
    EndState end;
    const SpoolerBuffer drivers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrinterDriversW(1, buffer, size, needed, count);
        });
    uint32_t driverCount = 0;
    const DriverInfo1* driver = drivers.Records<DriverInfo1>(&driverCount);
    for (uint32_t i = 0; i < driverCount; ++i) {
        end.driverInstalled = end.driverInstalled || SameName(Text(driver[i].pName), model);
    }
    const SpoolerBuffer printers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrintersW(kPrinterEnumLocal | kPrinterEnumConnections, 2, buffer,
                                         size, needed, count);
        });
    uint32_t printerCount = 0;
    const PrinterInfo2* printer = printers.Records<PrinterInfo2>(&printerCount);
    for (uint32_t i = 0; i < printerCount; ++i) {
        const std::u16string_view driverName = Text(printer[i].pDriverName);
        if (SameName(driverName, model)) {
            ++end.queuesOnDriver;
        }
        if (SameName(Text(printer[i].pPrinterName), model)) {
            end.queueExists = true;
            end.queuePort = Text(printer[i].pPortName);
            end.queueDriver = driverName;
        }
    }
    return end;
}

std::vector<std::u16string> QueuesOnDriver(const std::vector<SpoolerEntry>& printers,
                                           std::u16string_view model) {
    std::vector<std::u16string> names;
    for (const SpoolerEntry& printer : printers) {
        if (SameName(printer.driverName, model)) {
            names.push_back(printer.printerName);
        }
    }
    return names;
}

uint32_t DeleteDriverForRemoval(Spooler& spooler, std::u16string_view driverName) {
    const std::u16string name(driverName);
    spooler.SetLastError(0);  // a stale 87 or 3001 would pick the wrong next step
    if (spooler.DeletePrinterDriverExW(name.c_str(),
                                       kDpdDeleteUnusedFiles | kDpdDeleteSpecificVersion, 3)) {
        return kErrorSuccess;
    }
    uint32_t error = spooler.LastError();
    if (error == kErrorInvalidParameter) {
        if (spooler.DeletePrinterDriverExW(name.c_str(), 0, 0)) {
            return kErrorSuccess;
        }
        error = spooler.LastError();
    }
    return error;
}

void UninstallModel(Spooler& spooler, ServiceControl& services, Clock& clock,
                    bool reportsVistaOrLater, std::u16string_view model,
                    const RunReporter& report) {
    report(u"Start uninstall");
    std::vector<SpoolerEntry> drivers;
    std::vector<SpoolerEntry> printers;
    EnumInstalledDrivers(spooler, reportsVistaOrLater, drivers);
    EnumInstalledPrinters(spooler, reportsVistaOrLater, printers);

    const std::vector<std::u16string> queues = QueuesOnDriver(printers, model);
    for (const std::u16string& queue : queues) {
        report(u"Deleting the printer \"" + queue + u"\", which uses the driver \"" +
               std::u16string(model) + u"\"");
    }
    DeletePrinterQueues(spooler, clock, queues);

    for (const SpoolerEntry& driver : drivers) {
        if (!SameName(driver.driverName, model)) {
            continue;
        }
        report(u"Deleting the driver \"" + driver.driverName + u"\"");
        uint32_t error = DeleteDriverForRemoval(spooler, driver.driverName);
        if (error == kErrorPrinterDriverInUse) {
            if (!RestartSpooler(services, clock)) {
                continue;
            }
            error = DeleteDriverForRemoval(spooler, driver.driverName);
        }
        if (error == kErrorSuccess && !driver.infPath.empty()) {
            spooler.DeletePrinterDriverPackageW(driver.infPath.c_str());
        }
    }
}

InstallOutcome InstallQuietly(InstallPlatform& platform, InstallRequest request,
                              const RunReporter& report) {
    const std::u16string model = request.model.driverName;
    InstalledLists lists;
    const InstallOutcome outcome = RunInstallationWorkflow(platform, lists, std::move(request));
    // The lists are as step 4 read them; step 7 deleted the queues whose driver
    // name is exactly the model's.
    for (const SpoolerEntry& printer : lists.installedPrinters) {
        if (printer.driverName == model) {
            report(u"The printer \"" + printer.printerName + u"\" used the driver \"" + model +
                   u"\" and was deleted before the installation");
        }
    }
    return outcome;
}

}  // namespace tde
