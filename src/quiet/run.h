// A quiet run from its command line to its exit code: the lock, the check, the
// port, the test for an installation already whole, the rollback mark, the
// workflow or removal, the end state and the exit code. Over interfaces only, so the whole run goes
// natively over the in-memory fakes; Windows hands in its machine
// (quiet_run_win32.cpp).
#pragma once

#include "install/install.h"
#include "install/installer_lock.h"
#include "ports/device_setup.h"
#include "ports/reachability.h"
#include "ports/tcp_port.h"
#include "quiet/command_line.h"
#include "quiet/unattended.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// What a quiet run needs of its process: where its lines go, who it runs as,
// and its texts.
class QuietHost {
  public:
    virtual ~QuietHost() = default;
    // Standard output, for the usage text; false when the process has none.
    virtual bool HasOutput() = 0;
    virtual void Out(std::u16string_view text) = 0;
    // Opens the run's log, once: the /log file at `path` (emptied unless
    // `append`), or without a path the per-run log.
    virtual void OpenLog(std::u16string_view path, bool append) = 0;
    // Instead of OpenLog: the /log path is not used, for the reason given; the
    // per-run log stands in for it, kept, and says why.
    virtual void RefuseLog(std::u16string_view why) = 0;
    // The path as the process resolves it: relative to its current folder.
    virtual std::u16string FullPath(std::u16string_view path) = 0;
    // A line of the run: to its log and to standard error alike.
    virtual void Report(std::u16string_view line) = 0;
    // A line for the log only: the workflow's own.
    virtual void Write(std::u16string_view line) = 0;
    // The run is over; a failed one keeps the per-run log and says where.
    virtual void CloseLog(bool failed) = 0;
    // True for a process of LocalSystem, whose default printer is no user's.
    virtual bool RunsAsLocalSystem() = 0;
    // The texts of the user's language, loaded at the first call.
    virtual const TextTable& Texts() = 0;
};

// Everything a quiet run talks to.
struct QuietPlatform {
    QuietHost& host;
    LockSystem& lock;  // taken at most once, held until the platform goes
    DeviceSetup& devices;
    FingerprintSource& fingerprints;
    CreationMarks& marks;  // for the package's rollback
    Spooler& spooler;
    ServiceControl& services;
    Shell& shell;
    StagingFiles& files;
    const SystemFacts& facts;
    Clock& clock;
    SystemMessages& messages;
    PreflightQueries& checks;
    XcvChannel& xcv;      // the Standard TCP/IP monitor, for tcp: ports
    PrinterProbe& probe;  // whether a network printer answers
};

// Runs the arguments part of the command line and answers the exit code.
uint32_t RunQuietly(QuietPlatform& platform, const ModelCatalogue& catalogue,
                    std::u16string_view arguments);

// A process in memory: its output, the log's lines and how the log was opened.
class MemoryQuietHost final : public QuietHost {
  public:
    explicit MemoryQuietHost(const TextTable& texts) : texts_(texts) {}

    bool hasOutput = true;
    bool localSystem = false;
    std::vector<std::u16string> out;        // standard output
    std::vector<std::u16string> reported;   // standard error, each also in the log
    std::vector<std::u16string> log;        // every line of the log
    std::optional<std::u16string> logPath;  // as opened; empty: the per-run log
    bool appended = false;
    std::u16string logRefused;  // why the /log path was not used
    bool kept = false;          // the log outlives the run
    int textLoads = 0;

    bool HasOutput() override { return hasOutput; }
    void Out(std::u16string_view text) override { out.emplace_back(text); }
    void OpenLog(std::u16string_view path, bool append) override;
    void RefuseLog(std::u16string_view why) override;
    // Relative paths are below "C:\Users\setup", the memory files' current folder.
    std::u16string FullPath(std::u16string_view path) override;
    void Report(std::u16string_view line) override;
    void Write(std::u16string_view line) override { log.emplace_back(line); }
    void CloseLog(bool failed) override {
        kept = failed || !logPath->empty() || !logRefused.empty();
    }
    bool RunsAsLocalSystem() override { return localSystem; }
    const TextTable& Texts() override {
        ++textLoads;
        return texts_;
    }

  private:
    const TextTable& texts_;
};

}  // namespace tde
