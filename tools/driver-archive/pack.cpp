// pack: every file below a payload folder into one archive, names sorted and
// "/"-separated, after checking that the payload holds every needed item.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/writer.h"
#include "commands.h"
#include "support.h"

namespace tde::tool {

namespace {

// The DOS date and time of a file's modification time, in local time;
// SOURCE_DATE_EPOCH, when set, replaces every file's time so builds repeat.
void DosStamp(const fs::path& file, uint16_t& date, uint16_t& time) {
    std::time_t t = 0;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch) {
        t = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    } else {
        std::error_code ec;
        const auto written = fs::last_write_time(file, ec);
        if (!ec) {
            t = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
        }
    }
    const std::tm* local = std::localtime(&t);
    if (local == nullptr || local->tm_year < 80) {
        date = DosDate(1980, 1, 1);
        time = 0;
        return;
    }
    date = DosDate(std::min(local->tm_year + 1900, 2107), local->tm_mon + 1, local->tm_mday);
    time = DosTime(local->tm_hour, local->tm_min, local->tm_sec);
}

}  // namespace

int Pack(const Options& o) {
    const fs::path payload = PathFromUtf8(o.arguments[1]);
    const fs::path output = PathFromUtf8(o.arguments[2]);
    std::error_code ec;
    if (!fs::is_directory(payload, ec)) {
        Report(o.arguments[1] + " is not a folder");
        return kFailure;
    }
    std::vector<std::pair<std::string, fs::path>> files;
    for (auto it = fs::recursive_directory_iterator(payload, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec)) {
            files.emplace_back(GenericText(fs::relative(it->path(), payload)), it->path());
        }
    }
    if (ec) {
        Report("cannot walk " + o.arguments[1] + ": " + ec.message());
        return kFailure;
    }
    std::sort(files.begin(), files.end());

    if (!o.requireList.empty()) {
        std::ifstream list(PathFromUtf8(o.requireList));
        if (!list) {
            Report("cannot open " + o.requireList);
            return kFailure;
        }
        std::set<std::string> present;
        for (const auto& f : files) {
            present.insert(FoldAscii(f.first));
        }
        bool missing = false;
        for (std::string line; std::getline(list, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
                line.pop_back();
            }
            if (line.empty()) {
                continue;
            }
            std::replace(line.begin(), line.end(), '\\', '/');
            if (present.count(FoldAscii(line)) == 0) {
                Report("payload lacks a needed item: " + line);
                missing = true;
            }
        }
        if (missing) {
            return kFailure;
        }
    }

    std::vector<ArchiveWriterItem> items;
    for (const auto& [name, path] : files) {
        ArchiveWriterItem item;
        item.name = name;
        std::ifstream in(path, std::ios::binary);
        item.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            Report("cannot read " + PathText(path));
            return kFailure;
        }
        DosStamp(path, item.dosDate, item.dosTime);
        items.push_back(std::move(item));
    }
    ArchiveWriterOptions options;
    options.password = o.password;
    WrittenArchive archive;
    std::string error;
    if (!WriteArchive(items, options, archive, error)) {
        Report(error);
        return kFailure;
    }
    // Written beside the target and renamed, so a failed run leaves no half archive.
    fs::path temporary = output;
    temporary += ".partial";
    if (!WriteWhole(temporary, archive.bytes.data(), archive.bytes.size())) {
        Report("cannot write " + o.arguments[2]);
        fs::remove(temporary, ec);
        return kFailure;
    }
    fs::rename(temporary, output, ec);
    if (ec) {
        Report("cannot write " + o.arguments[2] + ": " + ec.message());
        return kFailure;
    }
    return 0;
}

}  // namespace tde::tool
