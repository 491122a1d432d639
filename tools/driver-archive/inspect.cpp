// list, cat and verify: the archive read the way the installer reads it.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/names.h"
#include "archive/verify.h"
#include "base/utf8.h"
#include "commands.h"
#include "console.h"
#include "support.h"

namespace tde::tool {

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

int Verify(const Options& o) {
    ArchiveFile archive;
    if (!archive.Open(o.arguments[1], o.password)) {
        return kFailure;
    }
    // Each item's directory entry first; then the entries that read are read
    // through together, as the check before an installation reads its items.
    const uint32_t count = ItemCount(archive.reader());
    std::vector<std::string> names(count);
    std::vector<ArchiveStatus> statuses(count, ArchiveStatus::Ok);
    std::vector<ItemToVerify> items;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t index = static_cast<int32_t>(i);
        ArchiveItemInfo info;
        ArchiveStatus s = StoredItemName(archive.reader(), index, names[i]);
        if (s == ArchiveStatus::Ok) {
            s = DescribeItem(archive.reader(), index, info);
        }
        statuses[i] = s;
        if (s == ArchiveStatus::Ok) {
            items.push_back({index, info.uncompressedSize});
        }
    }
    const std::vector<ArchiveStatus> read = VerifyItemData(archive.reader(), items);
    for (size_t j = 0; j < items.size(); ++j) {
        statuses[static_cast<size_t>(items[j].index)] = read[j];
    }
    uint32_t bad = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (statuses[i] != ArchiveStatus::Ok) {
            ReportStatus(names[i].empty() ? "item " + std::to_string(i) : names[i], statuses[i]);
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

}  // namespace tde::tool
