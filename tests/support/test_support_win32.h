// Helpers for the Windows tests: paths of the fixture programs, temporary and
// planted files that are removed again however a test ends.
#pragma once

#include "support/text.h"

#include <windows.h>

#include <string>

namespace tde::test {

// The Windows path (drive Z:) of a path of the build.
std::wstring FromUnixPath(const char* path);
// The stand-in printer driver module and the recording program, to plant.
std::wstring TestDriverModule();
std::wstring PlantedProgram();
// The folder of a path, without the trailing backslash.
std::wstring FolderOf(const std::wstring& path);
// The folder of the running test program.
std::wstring ThisProgramFolder();
bool FileExists(const std::wstring& path);
// Case-insensitive comparison of two paths.
bool SamePath(const std::wstring& a, const std::wstring& b);

// A fresh folder in the temporary folder, removed with its files at the end.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// Makes a folder the current one until the end of the scope.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::wstring& folder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    std::wstring previous_;
};

// A copy of `source` at `destination`, removed at the end together with the
// record a planted recording program leaves ("<destination>.calls").
class PlantedFile {
  public:
    PlantedFile(const std::wstring& source, const std::wstring& destination);
    ~PlantedFile();
    PlantedFile(const PlantedFile&) = delete;
    PlantedFile& operator=(const PlantedFile&) = delete;
    bool placed() const { return placed_; }
    bool Ran() const { return FileExists(destination_ + L".calls"); }
    const std::wstring& path() const { return destination_; }

  private:
    std::wstring destination_;
    bool placed_;
};

}  // namespace tde::test
