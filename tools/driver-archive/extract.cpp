// extract: every item of the archive below a destination folder, never
// outside it, by several workers that each keep several items in flight.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "commands.h"
#include "support.h"

namespace tde::tool {

namespace {

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

// The items to write and the folders they need, from the archive's directory.
// False when an item was left out because it could not be described or placed
// below the folder; the others are still planned.
bool PlanJobs(ArchiveReader* reader, const fs::path& destination, std::vector<ExtractJob>& jobs,
              std::set<fs::path>& folders) {
    bool failed = false;
    std::set<std::string> claimed;  // letter case folded: one file per name on any file system
    const uint32_t count = ItemCount(reader);
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t index = static_cast<int32_t>(i);
        ArchiveItemInfo info;
        const ArchiveStatus s = DescribeItem(reader, index, info);
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
            StoredItemName(reader, index, stored);
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
    return !failed;
}

// Creates every folder; false, having said which, at the first that fails.
bool MakeFolders(const std::set<fs::path>& folders) {
    std::error_code ec;
    for (const fs::path& folder : folders) {
        fs::create_directories(folder, ec);
        if (ec) {
            Report("cannot create " + PathText(folder) + ": " + ec.message());
            return false;
        }
    }
    return true;
}

// Names are safe by now, but a symbolic link already in the folder could
// still lead a write elsewhere: such items are refused and left out. False
// when any was.
bool DropLinkedTargets(const fs::path& destination, std::vector<ExtractJob>& jobs) {
    bool refused = false;
    std::error_code ec;
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
        refused = true;
        return true;
    });
    return !refused;
}

// What the workers share: the jobs, the next one to take, and the outcome.
struct SharedWork {
    SharedWork(const ArchiveFile& archive, const std::vector<ExtractJob>& jobs)
        : archive(archive), jobs(jobs) {}

    const ArchiveFile& archive;
    const std::vector<ExtractJob>& jobs;
    std::vector<size_t> jobOfItem;  // by archive index
    unsigned lanes = 1;
    std::atomic<size_t> next{0};
    std::atomic<bool> anyFailed{false};
    std::mutex reportLock;

    void Fail(const std::string& text) {
        std::lock_guard<std::mutex> lock(reportLock);
        Report(text);
        anyFailed = true;
    }
};

// One worker: its own reader over the shared image, several items in flight
// so their decryption interleaves (each item is still read serially), each
// into a buffer of its size that is written out whole.
class Worker {
  public:
    explicit Worker(SharedWork& work) : work_(work) {}

    void Run() {
        ArchiveReader* reader = nullptr;
        if (OpenFromMemory(work_.archive.image(), work_.archive.length(),
                           work_.archive.password().c_str(), reader) != ArchiveStatus::Ok) {
            work_.anyFailed = true;
            return;
        }
        UnzipItemsInterleaved(
            reader, static_cast<int>(work_.lanes),
            [&](int32_t& index, void*& buffer, uint32_t& length) {
                return Take(index, buffer, length);
            },
            [&](int32_t index, void* buffer, ArchiveStatus status) {
                Finish(index, buffer, status);
            });
        Close(reader);
    }

  private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t capacity = 0;
    };

    // The next job that gets a buffer; false when none is left.
    bool Take(int32_t& index, void*& buffer, uint32_t& length) {
        const std::vector<ExtractJob>& jobs = work_.jobs;
        for (size_t j; (j = work_.next.fetch_add(1)) < jobs.size();) {
            const ExtractJob& job = jobs[j];
            Buffer b;
            auto fit = std::find_if(spare_.begin(), spare_.end(),
                                    [&](const Buffer& s) { return s.capacity >= job.size; });
            if (fit != spare_.end()) {
                b = std::move(*fit);
                spare_.erase(fit);
            } else {
                try {
                    b.bytes =
                        std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(job.size, 1));
                    b.capacity = job.size;
                } catch (const std::bad_alloc&) {
                    work_.Fail(job.name + ": no memory for " + std::to_string(job.size) + " bytes");
                    continue;
                }
            }
            index = job.index;
            buffer = b.bytes.get();
            length = job.size;
            lent_.emplace_back(buffer, std::move(b));
            return true;
        }
        return false;
    }

    // Writes the item out when it read whole, and takes its buffer back.
    void Finish(int32_t index, void* buffer, ArchiveStatus status) {
        const ExtractJob& job = work_.jobs[work_.jobOfItem[static_cast<size_t>(index)]];
        // The buffer holds exactly the item's size, so Ok means every
        // byte came out and the CRC-32 matched.
        if (status != ArchiveStatus::Ok) {
            std::lock_guard<std::mutex> lock(work_.reportLock);
            ReportStatus(job.name, status == ArchiveStatus::More ? ArchiveStatus::Corrupt : status);
            work_.anyFailed = true;
        } else if (!WriteWhole(job.target, static_cast<uint8_t*>(buffer), job.size)) {
            work_.Fail("cannot write " + PathText(job.target));
        }
        auto it = std::find_if(lent_.begin(), lent_.end(),
                               [&](const auto& l) { return l.first == buffer; });
        if (it != lent_.end()) {
            spare_.push_back(std::move(it->second));
            lent_.erase(it);
        }
    }

    SharedWork& work_;
    std::vector<Buffer> spare_;  // reused, so pages are touched once
    std::vector<std::pair<void*, Buffer>> lent_;
};

// Reads and writes the jobs on the workers the options ask for; false when
// any item failed.
bool RunJobs(const ArchiveFile& archive, std::vector<ExtractJob>& jobs, const Options& o) {
    // Largest items first, so the workers finish together.
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const ExtractJob& a, const ExtractJob& b) { return a.size > b.size; });
    unsigned workers = o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, std::max<size_t>(jobs.size(), 1));

    SharedWork work{archive, jobs};
    work.lanes = o.lanes;
    work.jobOfItem.assign(ItemCount(archive.reader()), 0);
    for (size_t j = 0; j < jobs.size(); ++j) {
        work.jobOfItem[static_cast<size_t>(jobs[j].index)] = j;
    }
    auto run = [&work] { Worker(work).Run(); };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) {
        threads.emplace_back(run);
    }
    run();
    for (std::thread& t : threads) {
        t.join();
    }
    return !work.anyFailed;
}

}  // namespace

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
    std::vector<ExtractJob> jobs;
    std::set<fs::path> folders;
    bool failed = !PlanJobs(archive.reader(), destination, jobs, folders);
    if (!MakeFolders(folders)) {
        return kFailure;
    }
    failed = !DropLinkedTargets(destination, jobs) || failed;
    const bool written = RunJobs(archive, jobs, o);
    return failed || !written ? kFailure : 0;
}

}  // namespace tde::tool
