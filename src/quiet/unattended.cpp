#include "quiet/unattended.h"
#include "quiet/waiting_jobs.h"

#include "base/collation.h"

namespace tde {

namespace {

bool SameName(std::u16string_view a, std::u16string_view b) {
    return SameNameIgnoringCase(a, b);
}

std::u16string_view Text(const char16_t* text) {
    return text != nullptr ? text : u"";
}

// False, with the end state saying so, when the list could not be read.
bool Read(const SpoolerBuffer& buffer, EndState& end) {
    if (buffer.outcome == SpoolerFetch::Filled || buffer.outcome == SpoolerFetch::NothingNeeded) {
        return true;
    }
    end.listsRead = false;
    end.readError = buffer.error;
    return false;
}

bool Read(const SpoolerBuffer& buffer) {
    return buffer.outcome == SpoolerFetch::Filled || buffer.outcome == SpoolerFetch::NothingNeeded;
}

SpoolerBuffer FetchPrinters(Spooler& spooler, uint32_t flags) {
    return FetchTwice(spooler,
                      [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
                          return spooler.EnumPrintersW(flags, 2, buffer, size, needed, count);
                      });
}

std::u16string_view FileName(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

EndState ReadEndState(Spooler& spooler, std::u16string_view model) {
    EndState end;
    const SpoolerBuffer drivers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrinterDriversW(1, buffer, size, needed, count);
        });
    if (!Read(drivers, end)) {
        return end;
    }
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
    if (!Read(printers, end)) {
        return end;
    }
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

std::u16string CompareDriverFiles(Spooler& spooler, FingerprintSource& fingerprints,
                                  std::u16string_view driverName,
                                  const std::vector<std::u16string>& items) {
    const SpoolerBuffer drivers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrinterDriversW(6, buffer, size, needed, count);
        });
    uint32_t count = 0;
    const DriverInfo6* records = drivers.Records<DriverInfo6>(&count);
    const DriverInfo6* record = nullptr;
    for (uint32_t i = 0; i < count && record == nullptr; ++i) {
        if (SameName(Text(records[i].pName), driverName)) {
            record = &records[i];
        }
    }
    if (record == nullptr) {
        return u"the spooler reports no files for the driver";
    }
    // Dependent files may come as bare names beside the driver module.
    const std::u16string_view driverPath = Text(record->pDriverPath);
    const std::u16string folder(
        driverPath.substr(0, driverPath.size() - FileName(driverPath).size()));
    std::vector<std::u16string> files;
    for (const char16_t* path :
         {record->pDriverPath, record->pDataFile, record->pConfigFile, record->pHelpFile}) {
        if (path != nullptr && *path != 0) {
            files.emplace_back(path);
        }
    }
    // The list ends at an empty name, and never past the buffer the records live in.
    const char16_t* begin = reinterpret_cast<const char16_t*>(drivers.bytes.get());
    const char16_t* end = begin + drivers.size / sizeof(char16_t);
    for (const char16_t* p = record->pDependentFiles;
         p != nullptr && p >= begin && p < end && *p != 0;) {
        const char16_t* stop = p;
        while (stop < end && *stop != 0) {
            ++stop;
        }
        const std::u16string_view name(p, static_cast<size_t>(stop - p));
        files.push_back(FileName(name) == name ? folder + std::u16string(name)
                                               : std::u16string(name));
        p = stop + 1;
    }
    for (const std::u16string& item : items) {
        const std::u16string_view name = FileName(item);
        const std::u16string* file = nullptr;
        for (const std::u16string& candidate : files) {
            if (SameName(FileName(candidate), name)) {
                file = &candidate;
                break;
            }
        }
        if (file == nullptr) {
            return std::u16string(name) + u" is not among the driver's files";
        }
        const std::optional<FileFingerprint> expected = fingerprints.OfItem(item);
        const std::optional<FileFingerprint> found = fingerprints.OfFile(*file);
        if (!expected || !found || !(*expected == *found)) {
            return *file + (found ? u" differs from this package's " : u" cannot be read for ") +
                   std::u16string(name);
        }
    }
    return {};
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

Removal UninstallModel(Spooler& spooler, ServiceControl& services, Clock& clock,
                       bool reportsVistaOrLater, std::u16string_view model,
                       const RunReporter& report) {
    report(u"Start uninstall");
    Removal removal;
    // Lists that cannot be read would look like nothing to remove.
    const EndState before = ReadEndState(spooler, model);
    if (!before.listsRead) {
        removal.listsRead = false;
        return removal;
    }
    removal.found = before.driverInstalled || before.queuesOnDriver > 0;
    if (!removal.found) {
        report(u"No driver \"" + std::u16string(model) +
               u"\" and no printer on it is installed: nothing to remove");
        return removal;
    }
    // A queue deleted with its jobs stays until they have printed, and keeps the driver in use.
    const WaitingJobs jobs = QueuesHoldingJobs(spooler);
    removal.listsRead = jobs.listRead;
    removal.jobsWaiting = JobsOnDriver(jobs, model, /*ignoreCase=*/true);
    if (!removal.listsRead || !removal.jobsWaiting.empty()) {
        return removal;
    }
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
    return removal;
}

bool ReportChecks(CheckPlatform& platform, const TextTable& texts, const InstallRequest& request,
                  CheckScope scope, const RunReporter& report, bool* spoolerStopped) {
    const std::vector<Finding> findings =
        RunPreflight(platform, request.model, request.dataFile, scope);
    for (const Finding& finding : findings) {
        report(FindingText(texts, finding));
        if (spoolerStopped != nullptr && finding.kind == FindingKind::SpoolerStopped) {
            *spoolerStopped = true;
        }
    }
    return !AnyBlocking(findings);
}

EndState ReportInstalledState(Spooler& spooler, std::u16string_view model,
                              const RunReporter& report) {
    const std::u16string name(model);
    const EndState end = ReadEndState(spooler, model);
    if (!end.listsRead) {
        report(u"Whether \"" + name +
               u"\" is installed is unknown: the spooler's lists cannot be read (error " +
               DecimalText(end.readError) + u")");
        return end;
    }
    report(end.driverInstalled ? u"The driver \"" + name + u"\" is installed"
                               : u"No driver \"" + name + u"\" is installed");
    const SpoolerBuffer printers =
        FetchTwice(spooler, [&](uint8_t* buffer, uint32_t size, uint32_t* needed, uint32_t* count) {
            return spooler.EnumPrintersW(kPrinterEnumLocal | kPrinterEnumConnections, 2, buffer,
                                         size, needed, count);
        });
    uint32_t count = 0;
    const PrinterInfo2* printer = printers.Records<PrinterInfo2>(&count);
    for (uint32_t i = 0; i < count; ++i) {
        const std::u16string_view driver = Text(printer[i].pDriverName);
        const bool named = SameName(Text(printer[i].pPrinterName), model);
        if (SameName(driver, model) || named) {
            report(u"The printer \"" + std::u16string(Text(printer[i].pPrinterName)) +
                   u"\" uses the driver \"" + std::u16string(driver) + u"\" on port " +
                   std::u16string(Text(printer[i].pPortName)));
        }
    }
    if (end.queuesOnDriver == 0) {
        report(u"No printer uses the driver \"" + name + u"\"");
    }
    return end;
}

InstallOutcome InstallQuietly(InstallPlatform& platform, InstallRequest request,
                              const RunReporter& report) {
    InstallPlatform checked = platform;
    checked.checkFirst = false;
    const std::u16string model = request.model.driverName;
    const std::u16string queueName = request.model.queueName;
    InstalledLists lists;
    const InstallOutcome outcome = RunInstallationWorkflow(checked, lists, std::move(request));
    // The lists are as read before anything changed; removing the earlier
    // installation deleted the queues whose driver name is exactly the model's,
    // unless staging failed first or the spooler refused.
    const SpoolerBuffer after =
        FetchPrinters(platform.spooler, kPrinterEnumLocal | kPrinterEnumConnections);
    uint32_t count = 0;
    const PrinterInfo2* listed = after.Records<PrinterInfo2>(&count);
    for (const SpoolerEntry& printer : lists.installedPrinters) {
        if (printer.driverName != model) {
            continue;
        }
        bool gone = true;
        for (uint32_t i = 0; i < count && gone; ++i) {
            gone = !SameName(Text(listed[i].pPrinterName), printer.printerName);
        }
        // AddPrinterW refuses a name still taken, so the model's queue made anew was deleted.
        gone = gone || (outcome == InstallOutcome::QueueCreated &&
                        SameName(printer.printerName, queueName));
        if (!Read(after)) {
            report(u"The printer \"" + printer.printerName + u"\" used the driver \"" + model +
                   u"\" and may have been deleted: the spooler's printers cannot be read now");
        } else if (gone) {
            report(u"The printer \"" + printer.printerName + u"\" used the driver \"" + model +
                   u"\" and was deleted before the installation");
        }
    }
    return outcome;
}

bool MarkCreation(CreationMarks& marks, std::u16string_view model, bool queueExists,
                  const RunReporter& report) {
    const std::u16string name(model);
    if (queueExists ? marks.Clear(model) : marks.Set(model)) {
        return true;
    }
    report(u"The mark for the package's rollback of \"" + name + u"\" cannot be " +
           (queueExists ? u"cleared" : u"written") + u"; nothing is installed.");
    return false;
}

bool RollBackInstall(CreationMarks& marks, std::u16string_view model,
                     const std::function<void()>& uninstall, const RunReporter& report) {
    const std::u16string name(model);
    if (!marks.IsSet(model)) {
        report(u"No install marked \"" + name + u"\" as created by it: nothing is removed.");
        return false;
    }
    uninstall();
    if (!marks.Clear(model)) {
        report(u"The mark for the package's rollback of \"" + name + u"\" cannot be cleared.");
    }
    return true;
}

}  // namespace tde
