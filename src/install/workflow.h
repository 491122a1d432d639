// One installation run: everything the install button does, from removing an
// earlier installation to the new queue's properties window, over interfaces
// only. The dialog builds the request and hands in its platform; tests hand in
// the in-memory fakes; a run without the dialog hands in its own UI.
#pragma once

#include "install/clock.h"
#include "install/error_text.h"
#include "install/model.h"
#include "install/preflight.h"
#include "install/queries.h"
#include "install/service.h"
#include "install/shell.h"
#include "install/staging.h"
#include "spooler/spooler.h"
#include "system/system.h"
#include "text/text.h"

#include <string>
#include <string_view>
#include <vector>

namespace tde {

// The copy of the selected model with driverName, queueName, portName and
// makeDefault set, and the model's GPD file.
struct InstallRequest {
    PrinterModel model;
    std::u16string dataFile;
};

// The request for the model at selectedIndex (index 0 when there is no selection
// or it is out of range), the port text and the default box's check state (any
// non-zero state counts as checked). The catalogue must not be empty.
InstallRequest MakeInstallRequest(const ModelCatalogue& catalogue, int selectedIndex,
                                  std::u16string_view portName, uint32_t defaultCheckState);

// What the user sees of a run.
class InstallerUi {
  public:
    virtual ~InstallerUi() = default;
    // The owner of message boxes, certutil, the package upload and the properties window.
    virtual WindowHandle Owner() = 0;
    virtual void EnableInstallButton(bool enable) = 0;
    // An information box with OK, captioned with the text of "tip.dlgtitle";
    // returns when the user has closed it.
    virtual void ShowTip(std::u16string_view text) = 0;
};

// The run's log: each call writes one finished line.
class InstallLog {
  public:
    virtual ~InstallLog() = default;
    virtual void Write(std::u16string_view line) = 0;
    // The run failed for a reason only the log holds: the log outlives the
    // program, and its last line says so. A log kept after every failed run
    // needs nothing more.
    virtual void Keep() {}
};

// Everything a run talks to.
struct InstallPlatform {
    Spooler& spooler;
    ServiceControl& services;
    Shell& shell;
    StagingFiles& files;
    const SystemFacts& facts;
    Clock& clock;
    SystemMessages& messages;
    const TextTable& texts;
    InstallLog& log;
    InstallerUi& ui;
    PreflightQueries& checks;
    // False when the caller has run the check before the installation itself.
    bool checkFirst = true;
};

// The installed drivers and printers, kept by the dialog and rebuilt by each run.
struct InstalledLists {
    std::vector<SpoolerEntry> installedDrivers;
    std::vector<SpoolerEntry> installedPrinters;
};

enum class InstallOutcome {
    QueueCreated,        // the driver and a new queue are in place
    QueueReported,       // the driver is in place; an existing queue was moved to the port
    StagingNotCreated,   // "Failed to create directory"
    StagingNotFilled,    // a staging item could not be extracted
    DriverNotInstalled,  // neither registration route took
    QueueNotCreated,     // the driver is in place, the queue could not be created
    QueueNotReported,    // the driver is in place, the existing queue was not moved to the port
    ChecksFailed,        // the check before the installation found a blocking problem
    DriverUpdated,       // UpdateInstalledDriver: the spooler took the new files
    DriverNotUpdated,    // UpdateInstalledDriver: the spooler refused them
};

// The fixed texts and log formats of a run.
inline constexpr std::u16string_view kFailedToCreateDirectory = u"Failed to create directory";
inline constexpr std::u16string_view kLogStartInstall = u"Start install";
inline constexpr std::u16string_view kLogFailedToCreateDirectory =
    u"Failed to create directory\uFF0Cpath=%s";
inline constexpr std::u16string_view kLogDriverNotAdded =
    u"\u5B89\u88C5\u9A71\u52A8\u5931\u8D25\uFF0C%s";
inline constexpr std::u16string_view kLogPackageFailed = u"Install error(2):%ld,%s";
inline constexpr std::u16string_view kLogPrinterExists =
    u"The printer(%s) installed,try to modify the port(%s)";
inline constexpr std::u16string_view kLogPortNotChanged =
    u"The port of the printer(%s) was not changed to %s: %s";

// The whole run. The install button is disabled at its start and enabled again
// at its end, and the staging folder is removed on every path where it was
// judged the installer's own once made.
InstallOutcome RunInstallationWorkflow(InstallPlatform& platform, InstalledLists& lists,
                                       InstallRequest request);

// The run's driver steps alone, over a driver of the model's name that is
// installed: the staging folder made and filled, the certificate trusted, the
// driver files copied and the driver registered again over the installed one
// (RegisterDriver: never a flag that compares file times, since a file changed
// on the machine is newer than the package's), the staging folder removed. No
// queue and no driver is deleted, and no package route follows a refusal: the
// installed driver would pass for the new one. DriverUpdated, a staging
// failure, or DriverNotUpdated with the spooler's code in `refusal`.
InstallOutcome UpdateInstalledDriver(InstallPlatform& platform, InstallRequest request,
                                     uint32_t& refusal);

// Records what a run showed and logged, in one sequence: "tip:" + text for a
// message box, "log:" + line for a log line, "button:off"/"button:on".
class InstallRecorder final : public InstallerUi, public InstallLog {
  public:
    WindowHandle Owner() override { return owner; }
    void EnableInstallButton(bool enable) override {
        buttonEnabled = enable;
        events.push_back(enable ? u"button:on" : u"button:off");
    }
    void ShowTip(std::u16string_view text) override {
        tips.emplace_back(text);
        events.push_back(u"tip:" + std::u16string(text));
    }
    void Write(std::u16string_view line) override {
        lines.emplace_back(line);
        events.push_back(u"log:" + std::u16string(line));
    }
    void Keep() override { events.push_back(u"keep"); }

    WindowHandle owner = reinterpret_cast<WindowHandle>(0x1234);
    bool buttonEnabled = true;
    std::vector<std::u16string> tips;
    std::vector<std::u16string> lines;
    std::vector<std::u16string> events;
};

}  // namespace tde
