// A whole installation run on the in-memory fakes: a 64-bit Windows 10 with an
// earlier installation of the A4 model (its queue, a second queue on its driver,
// the driver and its package) and an unrelated queue.
#pragma once

#include "install/catalogue.h"
#include "spooler/memory_spooler.h"
#include "install/install.h"
#include "install/memory_staging_files.h"
#include "support/text.h"

#include <string>

namespace tde::test {

class FakeMessages final : public SystemMessages {
  public:
    // Every code has a message except kNoMessage.
    static constexpr uint32_t kNoMessage = 9999;
    std::optional<std::u16string> Message(uint32_t code, uint16_t) override {
        if (code == kNoMessage) {
            return std::nullopt;
        }
        std::u16string text = u"m";
        for (char c : std::to_string(code)) {
            text.push_back(static_cast<char16_t>(c));
        }
        return text + u"\r\n";
    }
};

inline constexpr char16_t kStaging[] = u"C:\\Program Files (x86)\\ZNWDriver\\DovEzuvar\\";
inline constexpr char16_t kDriverDirectory[] = u"C:\\Windows\\system32\\spool\\drivers\\w32x86";

struct WorkflowWorld {
    ModelCatalogue catalogue;
    TextTable texts;
    MemorySpooler spooler;
    FakeClock clock;
    MemoryServiceControl services{clock};
    RecordingShell shell;
    MemoryStagingFiles files;
    FakeSystemFacts facts;
    FakeMessages messages;
    InstallRecorder recorder;
    FakePreflightQueries checks;
    InstalledLists lists;
    InstallPlatform platform{spooler,  services, shell,    files,    facts, clock,
                             messages, texts,    recorder, recorder, checks};

    WorkflowWorld() {
        BuildModelCatalogue(catalogue);
        texts.LoadLanguageFile(
            u"<L><Text id=\"tip.dlgtitle\" value=\"Setup\"/>"
            u"<Text id=\"tip.copyfilefail\" value=\"copy failed: %s\"/>"
            u"<Text id=\"tip.copyfilefail2\" value=\"could not copy %s: %s\"/>"
            u"<Text id=\"tip.installdriverfail2\" value=\"driver failed\"/>"
            u"<Text id=\"tip.installdriversuccess\" value=\"driver ok\"/>"
            u"<Text id=\"tip.installprinterfail\" value=\"printer failed: %s\"/></L>");
        facts.wow64 = true;
        facts.nativeProcessorArchitecture = 9;
        facts.reportedVersion = ReportedVersion{6, 2, 9200};
        services.services.push_back({u"Spooler"});
        spooler.ports = {{u"LPT1:"}, {u"USB001"}};
        spooler.driverDirectory = kDriverDirectory;
        spooler.driverFileExists = [this](std::u16string_view file) {
            return files.Find(std::u16string(kDriverDirectory) + u"\\" + std::u16string(file)) !=
                   nullptr;
        };
        for (const std::u16string& item : CatalogueArchiveItems(catalogue)) {
            files.AddArchiveItem(item, Narrow(item));
        }
        files.AddFolder(u"C:\\Program Files (x86)");
        files.AddFolder(u"C:\\Windows");
        files.AddFolder(u"C:\\Windows\\system32");
        files.AddFolder(u"C:\\Windows\\system32\\spool");
        files.AddFolder(u"C:\\Windows\\system32\\spool\\drivers");
        files.AddFolder(kDriverDirectory);
        files.AddFolder(u"C:\\Users");
        files.AddFolder(u"C:\\Users\\setup");
        spooler.packages.push_back(
            {std::u16string(kStaging) + u"ZNWA4V.inf", {u"A4 Printer", u"A3 Printer"}, u"", false});
    }

    // The earlier installation the run removes first.
    void AddEarlierInstallation() {
        MemorySpooler::Driver driver;
        driver.name = u"A4 Printer";
        driver.infPath = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\old\\ZNWA4V.inf";
        spooler.drivers.push_back(driver);
        spooler.queues.push_back(
            {.name = u"A4 Printer", .port = u"USB001", .driver = u"A4 Printer"});
        spooler.queues.push_back({.name = u"Shop A4", .port = u"LPT1:", .driver = u"A4 Printer"});
        spooler.queues.push_back({.name = u"Other", .port = u"LPT1:", .driver = u"Generic"});
        spooler.drivers.push_back({.name = u"Generic"});
        spooler.defaultPrinter = u"Other";
    }

    InstallOutcome Run(int selectedIndex = 0, std::u16string_view port = u"LPT1:",
                       uint32_t check = 1) {
        return RunInstallationWorkflow(platform, lists,
                                       MakeInstallRequest(catalogue, selectedIndex, port, check));
    }

    bool StagingExists() const { return files.Find(kStaging) != nullptr; }
};

}  // namespace tde::test
