// The spooler work of unattended runs that the dialog does not do: removing a
// model's printers and driver, and looking at what is left after a run.
#pragma once

#include "quiet/exit_code.h"
#include "install/install.h"
#include "spooler/spooler.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// One finished line for the run's log (and standard error).
using RunReporter = std::function<void(std::u16string_view line)>;

// What the spooler holds for the model: its driver (name compared without letter
// case), its queue and the queues on its driver, and whether both lists could be
// read at all. The driver's files and the default printer are the caller's to add.
EndState ReadEndState(Spooler& spooler, std::u16string_view model);

// The length and CRC-32 of a file's bytes.
struct FileFingerprint {
    uint32_t size = 0;
    uint32_t crc32 = 0;
    bool operator==(const FileFingerprint&) const = default;
};

// Where fingerprints come from: files on disk, and the items of this package
// as its archive's directory records them.
class FingerprintSource {
  public:
    virtual ~FingerprintSource() = default;
    // The file at the full path, read without following a link; nullopt when it
    // cannot be read.
    virtual std::optional<FileFingerprint> OfFile(std::u16string_view path) = 0;
    // nullopt when the archive has no such item.
    virtual std::optional<FileFingerprint> OfItem(std::u16string_view archivePath) = 0;
};

// Empty when the spooler's record of the driver (level 6: driver, data,
// configuration, help and dependent files, at the full paths the spooler
// reports) holds each item under its file name with the item's size and
// CRC-32; otherwise what is missing or differs.
std::u16string CompareDriverFiles(Spooler& spooler, FingerprintSource& fingerprints,
                                  std::u16string_view driverName,
                                  const std::vector<std::u16string>& items);

// The printers whose driver is the model's, letter case ignored, in list order.
std::vector<std::u16string> QueuesOnDriver(const std::vector<SpoolerEntry>& printers,
                                           std::u16string_view model);

// DeletePrinterDriverExW for unused files of version 3; where the spooler
// refuses those flags as an invalid parameter (Wine does), once more without
// flags, so the driver is really gone. 0 or the last error.
uint32_t DeleteDriverForRemoval(Spooler& spooler, std::u16string_view driverName);

// What an uninstall found and did.
struct Removal {
    bool listsRead = true;  // false: the spooler's lists cannot be read; nothing was touched
    bool found = false;     // a queue on the model's driver or the driver itself was there
    std::vector<std::u16string> jobsWaiting;  // queues on the driver with jobs; nothing touched
};

// Removes what installing the model leaves in the spooler: each queue on the
// model's driver (named through `report`), then each driver of the model's name
// with one spooler restart while it is in use and, once deleted, its package.
// The certificate stays. Nothing is touched when the lists cannot be read or
// a local queue on the driver holds jobs; other failures are left to the end check.
Removal UninstallModel(Spooler& spooler, ServiceControl& services, Clock& clock,
                       bool reportsVistaOrLater, std::u16string_view model,
                       const RunReporter& report);

// Marks that a quiet install created the model's queue, for the package's
// rollback: kept where only administrators can write.
class CreationMarks {
  public:
    virtual ~CreationMarks() = default;
    virtual bool Set(std::u16string_view model) = 0;
    virtual bool IsSet(std::u16string_view model) = 0;
    // True also when there was none.
    virtual bool Clear(std::u16string_view model) = 0;
};

class MemoryCreationMarks final : public CreationMarks {
  public:
    bool Set(std::u16string_view model) override {
        if (writable) {
            marks.emplace(model);
        }
        return writable;
    }
    bool IsSet(std::u16string_view model) override {
        return marks.count(std::u16string(model)) != 0;
    }
    bool Clear(std::u16string_view model) override {
        if (writable) {
            marks.erase(std::u16string(model));
        }
        return writable;
    }
    std::set<std::u16string> marks;
    bool writable = true;
};

// Before an install changes anything: with no queue of the model's name the
// queue will be this install's, so it is marked; with one, a mark an earlier
// run left is cleared, or a rollback would remove a printer that was there
// before. False, with a line, when the mark cannot be written or cleared.
bool MarkCreation(CreationMarks& marks, std::u16string_view model, bool queueExists,
                  const RunReporter& report);

// The package's rollback: `uninstall` runs only when an install marked the model,
// and the mark is cleared after it. Answers whether it was marked.
bool RollBackInstall(CreationMarks& marks, std::u16string_view model,
                     const std::function<void()>& uninstall, const RunReporter& report);

// What a run without a window shows: no window; each tip becomes a line.
class QuietUi final : public InstallerUi {
  public:
    explicit QuietUi(RunReporter report) : report_(std::move(report)) {}
    WindowHandle Owner() override { return nullptr; }
    void EnableInstallButton(bool) override {}
    void ShowTip(std::u16string_view text) override { report_(text); }

  private:
    RunReporter report_;
};

// Runs the check of the scope and reports each finding (an install or removal
// finds only blocking ones); true when nothing blocks. `spoolerStopped`, when
// given, learns whether the check found the spooler only stopped.
bool ReportChecks(CheckPlatform& platform, const TextTable& texts, const InstallRequest& request,
                  CheckScope scope, const RunReporter& report, bool* spoolerStopped = nullptr);

// What /check says of the model's installation: its driver, the printers on
// that driver with their ports, and a printer of its name on another driver;
// over lists that cannot be read, that this is unknown and why, never "not
// installed". Answers the state read.
EndState ReportInstalledState(Spooler& spooler, std::u16string_view model,
                              const RunReporter& report);

// Runs the installation workflow for the request, its check left out (the
// caller reports the check with ReportChecks first), then names the printers it
// deleted with the earlier installation: those on the model's driver that the
// spooler no longer lists, and the model's queue when the run made it anew. A
// second queue of the model is gone afterwards, and whoever deploys should know.
InstallOutcome InstallQuietly(InstallPlatform& platform, InstallRequest request,
                              const RunReporter& report);

}  // namespace tde
