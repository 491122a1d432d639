// Running the command-line tools the native tests compare against.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace tde::testing_util {

// A fresh folder below the system's temporary folder, removed at the end.
class TempFolder {
  public:
    explicit TempFolder(const std::string& tag) {
        std::random_device entropy;
        path_ =
            std::filesystem::temp_directory_path() / ("tde-" + tag + "-" + std::to_string(entropy()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

inline std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line in folder `in`, capturing both output streams
// (into files outside that folder, so that commands archiving it never see them).
inline RunResult RunCommand(const std::string& command, const std::filesystem::path& in) {
    static int serial = 0;
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() /
        ("tde-run-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    const std::filesystem::path out = base.string() + ".out", err = base.string() + ".err";
    const std::string line = "cd " + Quote(in.string()) + " && { " + command + " ; } >" +
                             Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int status = std::system(line.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
}

// Every regular file below root by its "/" relative name, with its bytes.
inline std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            files[std::filesystem::relative(entry.path(), root).generic_string()] =
                ReadText(entry.path());
        }
    }
    return files;
}

// The names whose bytes differ between two trees, or that only one holds;
// empty when they are equal (short enough to read in a failure message).
inline std::string Differences(const std::map<std::string, std::string>& a,
                               const std::map<std::string, std::string>& b) {
    std::string out;
    for (const auto& [name, bytes] : a) {
        auto it = b.find(name);
        if (it == b.end()) {
            out += "only in the first: " + name + "\n";
        } else if (it->second != bytes) {
            out += "bytes differ: " + name + "\n";
        }
    }
    for (const auto& [name, bytes] : b) {
        if (a.count(name) == 0) {
            out += "only in the second: " + name + "\n";
        }
    }
    return out;
}

// A folder of files of the kinds a payload holds: text, binary noise, highly
// compressible, empty, nested, with spaces and non-ASCII names.
inline std::map<std::string, std::string> MakePayload(const std::filesystem::path& root) {
    std::mt19937 random(42);
    std::string noise(200000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += "*Option: PAPER_" + std::to_string(i) + " { *rcNameID: =RCID_DMPAPER }\r\n";
    }
    const std::map<std::string, std::string> files = {
        {"driver/pos/ZNWA4V.inf", text},
        {"driver/pos/Driver32/ZNWA4UIV.dll", noise},
        {"driver/common/zeros.bin", std::string(1 << 20, '\0')},
        {"empty.txt", ""},
        {"one.txt", "1"},
        {"with space/caf\xc3\xa9 \xe4\xb8\xad.xml", "<Language/>"},
    };
    for (const auto& [name, bytes] : files) {
        WriteText(root / name, bytes);
    }
    return files;
}

}  // namespace tde::testing_util
