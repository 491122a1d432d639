#include "install/workflow.h"

#include "install/driver.h"
#include "install/queue.h"

#include <optional>

namespace tde {

InstallRequest MakeInstallRequest(const ModelCatalogue& catalogue, int selectedIndex,
                                  std::u16string_view portName, uint32_t defaultCheckState) {
    size_t index = 0;
    if (selectedIndex >= 0 && static_cast<size_t>(selectedIndex) < catalogue.modelNames.size() &&
        static_cast<size_t>(selectedIndex) < catalogue.models.size()) {
        index = static_cast<size_t>(selectedIndex);
    }
    InstallRequest request;
    request.model = catalogue.models.at(index);
    const ModelName& name = catalogue.modelNames.at(index);
    request.model.driverName = name.displayName;
    request.model.queueName = name.displayName;
    request.model.portName = std::u16string(portName);
    request.model.makeDefault = defaultCheckState != 0 ? 1 : 0;
    request.dataFile = name.dataFile;
    return request;
}

namespace {

class Run {
  public:
    Run(InstallPlatform& platform, InstalledLists& lists, InstallRequest request)
        : p_(platform), lists_(lists), request_(std::move(request)) {}

    InstallOutcome Execute() {
        p_.ui.EnableInstallButton(false);  // no second run while this one lasts
        if (p_.checkFirst && !PassesChecks()) {
            p_.ui.EnableInstallButton(true);  // nothing else has happened yet
            return InstallOutcome::ChecksFailed;
        }
        // The publisher's certificate is trusted first only on Windows 8 and later.
        trustCertificate_ = ReportsWindows8OrLater(p_.facts);
        const bool vistaOrLater = ReportsVistaOrLater(p_.facts);
        // The installed drivers and printers, read before anything changes.
        EnumInstalledDrivers(p_.spooler, vistaOrLater, lists_.installedDrivers);
        EnumInstalledPrinters(p_.spooler, vistaOrLater, lists_.installedPrinters);

        // The port and the default box came with the request.
        staging_ = StagingFolderPath(p_.shell);
        p_.log.Write(kLogStartInstall);
        // The new files are unpacked before anything of the earlier installation
        // is removed: a folder that cannot be made or an item that does not unpack
        // then ends the run with the shop's working printer still in place.
        std::optional<InstallOutcome> outcome = Stage();  // make and fill the staging folder
        if (!outcome) {
            RemoveEarlierInstallation();  // its queues, then its driver
            outcome = Install();
        }
        End();  // the button back on, the staging folder gone
        return *outcome;
    }

    InstallOutcome ExecuteUpdate(uint32_t& refusal) {
        p_.ui.EnableInstallButton(false);
        trustCertificate_ = ReportsWindows8OrLater(p_.facts);
        staging_ = StagingFolderPath(p_.shell);
        p_.log.Write(kLogStartInstall);
        std::optional<InstallOutcome> outcome = Stage();
        if (!outcome) {
            refusal = RegisterDriverFiles();
            outcome =
                refusal == 0 ? InstallOutcome::DriverUpdated : InstallOutcome::DriverNotUpdated;
        }
        End();
        return *outcome;
    }

  private:
    std::u16string Text(std::u16string_view key) const { return p_.texts.GetText(key); }
    std::u16string ErrorText(uint32_t code) { return SystemErrorText(p_.messages, code); }

    void LogCopyFailure(std::u16string_view item, uint32_t error) {
        p_.log.Write(FormatText(Text(textkey::kCopyFileFailLog), {item, ErrorText(error)}));
    }

    void RemoveEarlierInstallation() {
        const PrinterModel& model = request_.model;
        std::vector<std::u16string> oldQueues;  // every queue on the model's driver
        for (const SpoolerEntry& printer : lists_.installedPrinters) {
            if (printer.driverName == model.driverName) {
                oldQueues.push_back(printer.printerName);
            }
        }
        const SpoolerEntry* oldDriver = nullptr;  // the model's driver, if installed
        for (const SpoolerEntry& driver : lists_.installedDrivers) {
            if (driver.driverName == model.driverName) {
                oldDriver = &driver;
                break;
            }
        }
        DeletePrinterQueues(p_.spooler, p_.clock, oldQueues);
        if (oldDriver != nullptr) {
            RemoveInstalledDriver(p_.spooler, p_.services, p_.clock, oldDriver->driverName,
                                  oldDriver->infPath);
        }
    }

    // One box listing what stands in the way, then each finding in the log.
    bool PassesChecks() {
        CheckPlatform check{p_.spooler, p_.services, p_.clock, p_.shell, p_.facts, p_.checks};
        const std::vector<Finding> findings =
            RunPreflight(check, request_.model, request_.dataFile, CheckScope::Install);
        if (!AnyBlocking(findings)) {
            return true;
        }
        p_.ui.ShowTip(BlockedInstallText(p_.texts, findings));
        for (const Finding& finding : findings) {
            p_.log.Write(FindingText(p_.texts, finding));
        }
        return false;
    }

    // The failure that ends the run; nothing when the staging folder is made and filled.
    std::optional<InstallOutcome> Stage() {
        const PrinterModel& model = request_.model;
        StagingCreation creation = CreateStagingFolders(p_.files, staging_, model);
        removeStaging_ = creation.judged;
        if (!creation.created) {
            p_.ui.ShowTip(kFailedToCreateDirectory);
            p_.log.Write(FormatText(kLogFailedToCreateDirectory, {creation.failedPath}));
            if (!creation.reason.empty()) {
                p_.log.Write(creation.reason);
                p_.log.Keep();  // the box says only "Failed to create directory"
            }
            return InstallOutcome::StagingNotCreated;
        }
        // The staging names are dropped: the driver files are listed anew when copied.
        std::u16string dependentFiles;
        StagingFill fill = FillStagingFolder(p_.files, staging_, model, dependentFiles);
        if (!fill.filled) {
            // Read once: the message lookup of the first text may set its own.
            const uint32_t error = p_.files.LastError();
            std::u16string shown = FormatText(Text(textkey::kCopyFileFail), {ErrorText(error)});
            LogCopyFailure(fill.failedItem, error);
            if (!fill.reason.empty()) {
                p_.log.Write(fill.reason);
                p_.log.Keep();
            }
            p_.ui.ShowTip(shown);
            return InstallOutcome::StagingNotFilled;
        }
        return std::nullopt;
    }

    // The certificate, the driver files into the spooler's driver folder, then
    // the driver's record: 0, or the spooler's refusal of the record.
    uint32_t RegisterDriverFiles() {
        const PrinterModel& model = request_.model;
        std::u16string dependentFiles;
        if (trustCertificate_) {
            TrustCertificate(p_.shell, staging_ + model.certificateFile);
        }
        const InstallArchitecture architecture = DetectInstallArchitecture(p_.facts);
        for (const DriverFileFailure& failure : CopyDriverFiles(
                 p_.spooler, p_.files, model, request_.dataFile, architecture, dependentFiles)) {
            LogCopyFailure(failure.item, failure.error);
        }
        const DriverInfo6 record =
            MakeDriverRecord(model, request_.dataFile, dependentFiles, p_.clock.CurrentFileTime());
        const uint32_t refused = RegisterDriver(p_.spooler, record);
        if (refused != 0) {
            p_.log.Write(FormatText(kLogDriverNotAdded, {ErrorText(refused)}));
        }
        return refused;
    }

    InstallOutcome Install() {
        const PrinterModel& model = request_.model;
        const std::u16string infPath = staging_ + model.infFile;
        RegisterDriverFiles();
        bool installed = IsDriverInstalled(p_.spooler, model);
        if (!installed) {  // the record did not do it: the driver package instead
            uint32_t error =
                InstallDriverPackage(p_.spooler, p_.ui.Owner(), infPath, model.driverName);
            if (error != 0) {
                // The line's own format, its "%ld" filled here: FormatText knows only "%s".
                std::u16string format(kLogPackageFailed);
                // As "%ld" prints it: SetupAPI's 0xE000xxxx and HRESULTs come out negative.
                format.replace(format.find(u"%ld"), 3, DecimalText(static_cast<int32_t>(error)));
                p_.log.Write(FormatText(format, {ErrorText(error)}));
            }
            installed = IsDriverInstalled(p_.spooler, model);
        }
        if (!installed) {  // neither way installed it
            std::u16string text = Text(textkey::kInstallDriverFail);
            // Switched on from Settings, Protected Print Mode leaves no policy to see.
            if (p_.checks.BuildNumber().value_or(0) >= kProtectedPrintSettingsBuild) {
                text += u"\n\n" + Text(textkey::kCheckProtectedPrintHint);
            }
            p_.ui.ShowTip(text);
            p_.log.Write(text);
            return InstallOutcome::DriverNotInstalled;
        }
        p_.log.Write(Text(textkey::kInstallDriverSuccess));
        // A queue of the model's name that is still there is kept: given the port, and shown.
        if (IsPrinterInstalled(p_.spooler, model.queueName)) {
            p_.log.Write(FormatText(kLogPrinterExists, {model.queueName, model.portName}));
            const uint32_t refused = SetPrinterPort(p_.spooler, model.queueName, model.portName);
            if (refused != 0) {
                p_.log.Write(FormatText(kLogPortNotChanged,
                                        {model.queueName, model.portName, ErrorText(refused)}));
                p_.log.Keep();  // no box says it
            }
            ShowPrinterProperties(p_.shell, model.queueName);
            return refused == 0 ? InstallOutcome::QueueReported : InstallOutcome::QueueNotReported;
        }
        // The new queue, made the default printer too when asked.
        QueueCreation queue = CreatePrinterQueue(p_.spooler, p_.shell, model);
        if (!queue.created) {
            const std::u16string text =
                FormatText(Text(textkey::kInstallPrinterFail), {ErrorText(queue.error)});
            p_.ui.ShowTip(text);
            p_.log.Write(text);
            return InstallOutcome::QueueNotCreated;
        }
        return InstallOutcome::QueueCreated;
    }

    void End() {
        p_.ui.EnableInstallButton(true);
        // Only a folder judged ours once made: anything else at the path, a link
        // planted after a failed creation among it, may lead elsewhere.
        if (removeStaging_) {
            RemoveDirectoryTree(p_.files, false, staging_);
        }
    }

    InstallPlatform& p_;
    InstalledLists& lists_;
    InstallRequest request_;
    std::u16string staging_;
    bool trustCertificate_ = false;
    bool removeStaging_ = false;
};

}  // namespace

InstallOutcome RunInstallationWorkflow(InstallPlatform& platform, InstalledLists& lists,
                                       InstallRequest request) {
    return Run(platform, lists, std::move(request)).Execute();
}

InstallOutcome UpdateInstalledDriver(InstallPlatform& platform, InstallRequest request,
                                     uint32_t& refusal) {
    InstalledLists unused;
    return Run(platform, unused, std::move(request)).ExecuteUpdate(refusal);
}

}  // namespace tde
