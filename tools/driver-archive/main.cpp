// driver-archive: packs, lists, prints, extracts and verifies driver archives
// the way the installer reads them, for release engineering and tests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/writer.h"
#include "base/utf8.h"
#include "console.h"

namespace fs = std::filesystem;

namespace tde {
namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr char kProgramPassword[] = "kdw20190304";

const char kUsage[] =
    "usage: driver-archive COMMAND ARGS [--password PW]\n"
    "  pack PAYLOAD_DIR OUT.zip [--require LIST]  pack every file below the folder\n"
    "  list ARCHIVE                               size, tab, name of every item\n"
    "  cat ARCHIVE ITEM                           the item's bytes on standard output\n"
    "  extract ARCHIVE DEST_DIR [--jobs N] [--lanes N]\n"
    "                                             every item below DEST_DIR: N threads,\n"
    "                                             N items in flight in each\n"
    "  verify ARCHIVE                             read every item, check sizes and CRC-32\n"
    "The password defaults to the installer's. --require names a file listing items\n"
    "(one a line) that must be in the payload.\n";

struct Options {
    std::vector<std::string> arguments;
    std::string password = kProgramPassword;
    std::string requireList;
    unsigned jobs = 0;   // worker threads; 0: one per processor
    unsigned lanes = 4;  // items in flight per worker
};

// "driver-archive: <what>: <Status> (0x...)" on standard error.
void ReportStatus(const std::string& what, ArchiveStatus status) {
    std::fprintf(stderr, "driver-archive: %s: %s (0x%X)\n", what.c_str(), ArchiveStatusName(status),
                 static_cast<unsigned>(status));
}

void Report(const std::string& message) {
    std::fprintf(stderr, "driver-archive: %s\n", message.c_str());
}

std::string PathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// With "/" separators on every platform.
std::string GenericText(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

fs::path PathFromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

// The whole archive file in memory.
bool ReadArchiveFile(const std::string& name, std::unique_ptr<uint8_t[]>& image, uint32_t& length) {
    std::ifstream in(PathFromUtf8(name), std::ios::binary);
    if (!in) {
        Report("cannot open " + name);
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || static_cast<uint64_t>(size) > 0xFFFFFFFFu) {
        Report(name + ": not a readable archive of at most 4 GiB");
        return false;
    }
    length = static_cast<uint32_t>(size);
    image = std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(length, 1));
    in.read(reinterpret_cast<char*>(image.get()), size);
    if (in.gcount() != size) {
        Report("cannot read " + name);
        return false;
    }
    return true;
}

// An archive file opened with the reader; closed at the end of the scope.
class ArchiveFile {
  public:
    bool Open(const std::string& name, const std::string& password) {
        if (!ReadArchiveFile(name, image_, length_)) {
            return false;
        }
        password_ = password;
        const ArchiveStatus s = OpenFromMemory(image_.get(), length_, password.c_str(), reader_);
        if (s != ArchiveStatus::Ok) {
            ReportStatus(name, s);
            return false;
        }
        return true;
    }
    ~ArchiveFile() {
        if (reader_ != nullptr) {
            Close(reader_);
        }
    }
    ArchiveReader* reader() const { return reader_; }
    const uint8_t* image() const { return image_.get(); }
    uint32_t length() const { return length_; }
    const std::string& password() const { return password_; }

  private:
    std::unique_ptr<uint8_t[]> image_;
    uint32_t length_ = 0;
    std::string password_;
    ArchiveReader* reader_ = nullptr;
};

bool WriteWhole(const fs::path& path, const uint8_t* bytes, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
    out.close();
    return !out.fail();
}

// ---------------------------------------------------------------------------
// pack

std::string FoldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

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

// ---------------------------------------------------------------------------
// list, cat, verify

int List(const Options& o) {
    ArchiveFile archive;
    if (!archive.Open(o.arguments[1], o.password)) {
        return kFailure;
    }
    const uint32_t count = ItemCount(archive.reader());
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        ArchiveItemInfo info;
        ArchiveStatus s = StoredItemName(archive.reader(), static_cast<int32_t>(i), name);
        if (s == ArchiveStatus::Ok) {
            s = DescribeItem(archive.reader(), static_cast<int32_t>(i), info);
        }
        if (s != ArchiveStatus::Ok) {
            ReportStatus("item " + std::to_string(i), s);
            return kFailure;
        }
        std::printf("%u\t%s\n", info.uncompressedSize, name.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : kFailure;
}

int Cat(const Options& o) {
    ArchiveFile archive;
    if (!archive.Open(o.arguments[1], o.password)) {
        return kFailure;
    }
    const std::string& item = o.arguments[2];
    int32_t index = -1;
    ArchiveItemInfo info;
    ArchiveStatus s = FindItem(archive.reader(), ToItemName(Utf8ToUtf16(item)), true, index, &info);
    if (s != ArchiveStatus::Ok) {
        ReportStatus(item, s);
        return kFailure;
    }
    SetBinaryStandardOutput();
    constexpr uint32_t kPiece = 1 << 20;
    auto piece = std::make_unique_for_overwrite<uint8_t[]>(kPiece);
    uint64_t left = info.uncompressedSize;
    do {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, kPiece));
        s = UnzipItem(archive.reader(), index, piece.get(), n);
        if (!ArchiveSucceeded(s)) {
            ReportStatus(item, s);
            return kFailure;
        }
        if (n > 0 && std::fwrite(piece.get(), 1, n, stdout) != n) {
            Report("cannot write to standard output");
            return kFailure;
        }
        left -= n;
    } while (s == ArchiveStatus::More && left > 0);
    if (left != 0) {
        Report(item + ": shorter than its stated size");
        return kFailure;
    }
    return std::fflush(stdout) == 0 ? 0 : kFailure;
}

// Reads one item in full through the reader: Ok only when every stated byte
// came out and its CRC-32 matched.
ArchiveStatus ReadWholeItem(ArchiveReader* reader, int32_t index, uint32_t size, uint8_t* piece,
                            uint32_t pieceSize) {
    uint64_t left = size;
    ArchiveStatus s;
    do {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, pieceSize));
        s = UnzipItem(reader, index, piece, n);
        if (!ArchiveSucceeded(s)) {
            return s;
        }
        left -= n;
    } while (s == ArchiveStatus::More && left > 0);
    // The buffer was sized to what was left, so the last piece must end the item.
    return s == ArchiveStatus::Ok && left == 0 ? ArchiveStatus::Ok : ArchiveStatus::Corrupt;
}

int Verify(const Options& o) {
    ArchiveFile archive;
    if (!archive.Open(o.arguments[1], o.password)) {
        return kFailure;
    }
    constexpr uint32_t kPiece = 1 << 20;
    auto piece = std::make_unique_for_overwrite<uint8_t[]>(kPiece);
    const uint32_t count = ItemCount(archive.reader());
    uint32_t bad = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t index = static_cast<int32_t>(i);
        std::string name;
        ArchiveItemInfo info;
        ArchiveStatus s = StoredItemName(archive.reader(), index, name);
        if (s == ArchiveStatus::Ok) {
            s = DescribeItem(archive.reader(), index, info);
        }
        if (s == ArchiveStatus::Ok) {
            s = ReadWholeItem(archive.reader(), index, info.uncompressedSize, piece.get(), kPiece);
        }
        if (s != ArchiveStatus::Ok) {
            ReportStatus(name.empty() ? "item " + std::to_string(i) : name, s);
            ++bad;
        }
    }
    if (bad > 0) {
        Report(std::to_string(bad) + " of " + std::to_string(count) + " items unsound");
        return kFailure;
    }
    std::printf("%u items sound\n", count);
    return 0;
}

// ---------------------------------------------------------------------------
// extract

struct ExtractJob {
    int32_t index;
    uint32_t size;
    std::string name;  // for messages
    fs::path target;
};

// The item's relative path below the destination, or false when its name
// (already sanitised by the reader) still could leave the folder.
bool SafeRelativePath(const std::u16string& sanitised, fs::path& relative, bool& isFolder) {
    std::string name = Utf16ToUtf8(sanitised);
    std::replace(name.begin(), name.end(), '\\', '/');
    isFolder = !name.empty() && name.back() == '/';
    while (!name.empty() && name.back() == '/') {
        name.pop_back();
    }
    if (name.empty() || name.find(':') != std::string::npos) {
        return false;
    }
    relative.clear();
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        relative /= PathFromUtf8(part);
        start = end + 1;
    }
    return !relative.has_root_name() && !relative.has_root_directory();
}

int Extract(const Options& o) {
    ArchiveFile archive;
    if (!archive.Open(o.arguments[1], o.password)) {
        return kFailure;
    }
    const fs::path destination = PathFromUtf8(o.arguments[2]);
    std::error_code ec;
    fs::create_directories(destination, ec);
    if (!fs::is_directory(destination, ec)) {
        Report("cannot create " + o.arguments[2]);
        return kFailure;
    }

    bool failed = false;
    std::vector<ExtractJob> jobs;
    std::set<std::string> claimed;  // letter case folded: one file per name on any file system
    std::set<fs::path> folders;
    const uint32_t count = ItemCount(archive.reader());
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t index = static_cast<int32_t>(i);
        ArchiveItemInfo info;
        const ArchiveStatus s = DescribeItem(archive.reader(), index, info);
        if (s != ArchiveStatus::Ok) {
            ReportStatus("item " + std::to_string(i), s);
            failed = true;
            continue;
        }
        const std::u16string name(info.name);
        fs::path relative;
        bool isFolder = false;
        if (!SafeRelativePath(name, relative, isFolder)) {
            std::string stored;
            StoredItemName(archive.reader(), index, stored);
            Report("skipped an item whose name cannot be placed below the folder: " + stored);
            failed = true;
            continue;
        }
        if (isFolder) {
            folders.insert(destination / relative);
            continue;
        }
        if (!claimed.insert(FoldAscii(GenericText(relative))).second) {
            Report("skipped a second item of the same name: " + Utf16ToUtf8(name));
            continue;
        }
        folders.insert((destination / relative).parent_path());
        jobs.push_back({index, info.uncompressedSize, Utf16ToUtf8(name), destination / relative});
    }
    for (const fs::path& folder : folders) {
        fs::create_directories(folder, ec);
        if (ec) {
            Report("cannot create " + PathText(folder) + ": " + ec.message());
            return kFailure;
        }
    }
    // Names are safe by now, but a symbolic link already in the folder could
    // still lead a write elsewhere: such items are refused.
    const fs::path root = fs::canonical(destination, ec);
    auto inside = [&](const fs::path& path) {
        const fs::path real = fs::weakly_canonical(path, ec);
        if (ec) {
            return false;
        }
        auto r = root.begin();
        auto p = real.begin();
        for (; r != root.end(); ++r, ++p) {
            if (p == real.end() || *p != *r) {
                return false;
            }
        }
        return true;
    };
    std::map<fs::path, bool> folderInside;  // each folder resolved once
    std::erase_if(jobs, [&](const ExtractJob& job) {
        const fs::path parent = job.target.parent_path();
        auto known = folderInside.find(parent);
        if (known == folderInside.end()) {
            known = folderInside.emplace(parent, inside(parent)).first;
        }
        std::error_code linkError;
        if (known->second && !fs::is_symlink(job.target, linkError)) {
            return false;
        }
        Report("refused to write through a symbolic link: " + job.name);
        failed = true;
        return true;
    });

    // Largest items first, so the workers finish together.
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const ExtractJob& a, const ExtractJob& b) { return a.size > b.size; });
    unsigned workers = o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, std::max<size_t>(jobs.size(), 1));
    std::atomic<size_t> next{0};
    std::atomic<bool> anyFailed{false};
    std::mutex reportLock;

    std::vector<size_t> jobOfItem(count, 0);
    for (size_t j = 0; j < jobs.size(); ++j) {
        jobOfItem[static_cast<size_t>(jobs[j].index)] = j;
    }
    auto work = [&]() {
        // Each worker has its own reader over the shared image and keeps
        // several items in flight, so their decryption interleaves; each item
        // is still read serially.
        ArchiveReader* reader = nullptr;
        if (OpenFromMemory(archive.image(), archive.length(), archive.password().c_str(), reader) !=
            ArchiveStatus::Ok) {
            anyFailed = true;
            return;
        }
        struct Buffer {
            std::unique_ptr<uint8_t[]> bytes;
            uint32_t capacity = 0;
        };
        std::vector<Buffer> spare;  // reused, so pages are touched once
        std::vector<std::pair<void*, Buffer>> lent;
        auto report = [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(reportLock);
            Report(text);
            anyFailed = true;
        };
        UnzipItemsInterleaved(
            reader, static_cast<int>(o.lanes),
            [&](int32_t& index, void*& buffer, uint32_t& length) {
                for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
                    const ExtractJob& job = jobs[j];
                    Buffer b;
                    auto fit = std::find_if(spare.begin(), spare.end(), [&](const Buffer& s) {
                        return s.capacity >= job.size;
                    });
                    if (fit != spare.end()) {
                        b = std::move(*fit);
                        spare.erase(fit);
                    } else {
                        try {
                            b.bytes = std::make_unique_for_overwrite<uint8_t[]>(
                                std::max<uint32_t>(job.size, 1));
                            b.capacity = job.size;
                        } catch (const std::bad_alloc&) {
                            report(job.name + ": no memory for " + std::to_string(job.size) +
                                   " bytes");
                            continue;
                        }
                    }
                    index = job.index;
                    buffer = b.bytes.get();
                    length = job.size;
                    lent.emplace_back(buffer, std::move(b));
                    return true;
                }
                return false;
            },
            [&](int32_t index, void* buffer, ArchiveStatus status) {
                const ExtractJob& job = jobs[jobOfItem[static_cast<size_t>(index)]];
                // The buffer holds exactly the item's size, so Ok means every
                // byte came out and the CRC-32 matched.
                if (status != ArchiveStatus::Ok) {
                    std::lock_guard<std::mutex> lock(reportLock);
                    ReportStatus(job.name,
                                 status == ArchiveStatus::More ? ArchiveStatus::Corrupt : status);
                    anyFailed = true;
                } else if (!WriteWhole(job.target, static_cast<uint8_t*>(buffer), job.size)) {
                    report("cannot write " + PathText(job.target));
                }
                auto it = std::find_if(lent.begin(), lent.end(),
                                       [&](const auto& l) { return l.first == buffer; });
                if (it != lent.end()) {
                    spare.push_back(std::move(it->second));
                    lent.erase(it);
                }
            });
        Close(reader);
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& t : threads) {
        t.join();
    }
    return failed || anyFailed ? kFailure : 0;
}

int Run(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--password" || a == "--require" || a == "--jobs" || a == "--lanes") &&
            i + 1 < argc) {
            const std::string value = argv[++i];
            if (a == "--password") {
                o.password = value;
            } else if (a == "--require") {
                o.requireList = value;
            } else if (a == "--jobs") {
                o.jobs = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
            } else {
                o.lanes =
                    std::max(1u, static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10)));
            }
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.rfind("--", 0) == 0) {
            Report("unknown option " + a);
            std::fputs(kUsage, stderr);
            return kUsageError;
        } else {
            o.arguments.push_back(a);
        }
    }
    if (o.arguments.empty()) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    // Each command with the number of words it takes, itself included.
    struct Command {
        const char* name;
        size_t words;
        int (*run)(const Options&);
    };
    static const Command kCommands[] = {{"pack", 3, Pack},
                                        {"list", 2, List},
                                        {"cat", 3, Cat},
                                        {"extract", 3, Extract},
                                        {"verify", 2, Verify}};
    const std::string& command = o.arguments[0];
    for (const Command& c : kCommands) {
        if (command == c.name) {
            if (o.arguments.size() != c.words) {
                std::fputs(kUsage, stderr);
                return kUsageError;
            }
            return c.run(o);
        }
    }
    Report("unknown command " + command);
    std::fputs(kUsage, stderr);
    return kUsageError;
}

}  // namespace
}  // namespace tde

int main(int argc, char** argv) {
    try {
        return tde::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "driver-archive: %s\n", e.what());
        return 1;
    }
}
