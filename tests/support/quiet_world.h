// A quiet run's world in memory: the installation's world (a 64-bit Windows 10
// with the catalogue's archive) with the process, the lock, the USB devices and
// the driver files' fingerprints around it; the spooler fails while its service
// is stopped.
#pragma once

#include "support/workflow_fixture.h"
#include "quiet/run.h"

#include <zlib.h>

namespace tde::test {

// The files of the in-memory world: the spooler reports them in its "3"
// folder, the extraction left them in the driver directory.
class WorldFingerprints final : public FingerprintSource {
  public:
    explicit WorldFingerprints(MemoryStagingFiles& files) : files_(files) {}
    std::optional<FileFingerprint> OfFile(std::u16string_view path) override {
        std::u16string moved(path);
        const size_t three = moved.find(u"\\3\\");
        if (three != std::u16string::npos) {
            moved.erase(three, 2);
        }
        const MemoryStagingFiles::Node* node = files_.Find(moved);
        return node ? std::optional(Of(node->content)) : std::nullopt;
    }
    std::optional<FileFingerprint> OfItem(std::u16string_view item) override {
        auto it = files_.archive.find(MemoryStagingFiles::Normalise(item));
        return it != files_.archive.end() ? std::optional(Of(it->second)) : std::nullopt;
    }
    static FileFingerprint Of(const std::string& bytes) {
        return {static_cast<uint32_t>(bytes.size()),
                static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                                            static_cast<uInt>(bytes.size())))};
    }

  private:
    MemoryStagingFiles& files_;
};

struct QuietWorld : WorkflowWorld {
    MemoryQuietHost host{texts};
    MemoryInstallerLock lock;
    MemoryDeviceSetup devices;
    WorldFingerprints fingerprints{files};
    MemoryCreationMarks marks;
    MemoryTcpMonitor tcp{&spooler};
    ScriptedProbe probe;
    QuietPlatform quiet{host,  lock,  devices, fingerprints, marks,  spooler, services, shell,
                        files, facts, clock,   messages,     checks, tcp,     probe};

    QuietWorld() {
        spooler.serviceRunning = [this] { return services.StateOf(u"Spooler") == kServiceRunning; };
    }
    uint32_t Quiet(std::u16string_view arguments) {
        return RunQuietly(quiet, catalogue, arguments);
    }
    // Whether a line of the log or of standard output holds `part`.
    bool Said(std::u16string_view part) const {
        for (const auto* lines : {&host.log, &host.out}) {
            for (const std::u16string& line : *lines) {
                if (line.find(part) != std::u16string::npos) {
                    return true;
                }
            }
        }
        return false;
    }
};

}  // namespace tde::test
