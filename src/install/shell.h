// Starting other programs (certutil, rundll32) and the shell's folders.
#pragma once

#include "base/handles.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tde {

// A program to start with CreateProcessW. An elevated shell call would resolve
// its verb through the merged class registry, which includes the user's own
// HKCU\Software\Classes: code of that user could have it start something else.
struct ShellRequest {
    std::u16string file;        // the full path, lpApplicationName
    std::u16string parameters;  // what follows the quoted path on the command line
    std::u16string directory;   // the working folder
    int32_t show = 0;           // the window's show command
    uint32_t creationFlags = 0;
};

inline constexpr int32_t kSwHide = 0;
inline constexpr int32_t kSwShowNormal = 1;
inline constexpr uint32_t kCreateNoWindow = 0x08000000;

// The command line the program gets: its quoted path, a blank, the parameters.
inline std::u16string ProcessCommandLine(const ShellRequest& request) {
    return u"\"" + request.file + u"\" " + request.parameters;
}

class Shell {
  public:
    virtual ~Shell() = default;
    // The system folder without a trailing backslash; empty when unknown.
    virtual std::u16string SystemFolder() = 0;
    // The Program Files folder (SHGetSpecialFolderPathW, CSIDL_PROGRAM_FILES, not
    // created) without a trailing backslash; empty when the shell has none.
    virtual std::u16string ProgramFilesFolder() = 0;
    // Starts the request without waiting for it; true when it started.
    virtual bool Execute(const ShellRequest& request) = 0;
    // Starts the request and, when a process handle came back, waits for the
    // process to end without a time limit; true when it started.
    virtual bool ExecuteAndWait(const ShellRequest& request) = 0;
};

// A request to start `program` of the system folder by its full path, never by bare
// name: that would search the program's own folder first; the system folder is
// its working folder too. False, and nothing to start, when the system folder is
// unknown.
inline bool SystemProgramRequest(Shell& shell, std::u16string_view program,
                                 std::u16string parameters, int32_t show, ShellRequest& request) {
    std::u16string folder = shell.SystemFolder();
    if (folder.empty()) {
        return false;
    }
    while (folder.size() > 3 && folder.back() == u'\\') {
        folder.pop_back();
    }
    request = ShellRequest{};
    // Started elevated, a child must not begin in the installer's folder
    // (Downloads, often), where anyone may leave files it would pick up.
    request.directory = folder;
    if (folder.back() != u'\\') {
        folder.push_back(u'\\');
    }
    request.file = folder + std::u16string(program);
    request.parameters = std::move(parameters);
    request.show = show;
    return true;
}

// Remembers what it was asked to start and starts nothing; any start can fail
// on request (counted over Execute and ExecuteAndWait together).
class RecordingShell final : public Shell {
  public:
    struct Started {
        ShellRequest request;
        bool waited;
    };
    std::u16string SystemFolder() override { return systemFolder; }
    std::u16string ProgramFilesFolder() override { return programFilesFolder; }
    bool Execute(const ShellRequest& request) override { return Record(request, false); }
    bool ExecuteAndWait(const ShellRequest& request) override { return Record(request, true); }

    std::u16string systemFolder = u"C:\\Windows\\system32";
    std::u16string programFilesFolder = u"C:\\Program Files (x86)";
    bool succeed = true;
    uint32_t failOnStart = 0;  // 1-based start that fails; 0: none
    std::vector<ShellRequest> requests;
    std::vector<Started> starts;

  private:
    bool Record(const ShellRequest& request, bool waited) {
        requests.push_back(request);
        starts.push_back({request, waited});
        return succeed && starts.size() != failOnStart;
    }
};

#ifdef _WIN32
// CreateProcessW; the system folder from GetSystemDirectoryW.
class Win32Shell final : public Shell {
  public:
    ~Win32Shell() override;
    std::u16string SystemFolder() override;
    std::u16string ProgramFilesFolder() override;
    bool Execute(const ShellRequest& request) override;
    bool ExecuteAndWait(const ShellRequest& request) override;
    // Tests keep the started process (a HANDLE) to look at it; the taker closes it.
    bool keepProcess = false;
    void* TakeProcess();

  private:
    void* process_ = nullptr;
};

// Starts the request and waits for its process up to `waitMs` (INFINITE: no limit).
// True when it started; `*timedOut`, when asked, says whether the process outlived the wait.
bool StartAndWait(const ShellRequest& request, uint32_t waitMs, bool* timedOut);
#endif

}  // namespace tde
