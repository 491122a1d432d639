#include "archive/verify.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace tde {

namespace {

constexpr int kLanes = 4;
constexpr uint32_t kPiece = 1 << 20;

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

}  // namespace

std::vector<ArchiveStatus> VerifyItemData(ArchiveReader* reader,
                                          const std::vector<ItemToVerify>& items) {
    std::vector<ArchiveStatus> statuses(items.size(), ArchiveStatus::BadArgument);
    if (reader == nullptr) {
        return statuses;
    }
    std::vector<size_t> sideBySide;
    std::unique_ptr<uint8_t[]> piece;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].size <= MaxResourceFileSize) {
            sideBySide.push_back(i);
            continue;
        }
        if (piece == nullptr) {
            piece = std::make_unique_for_overwrite<uint8_t[]>(kPiece);
        }
        statuses[i] = ReadWholeItem(reader, items[i].index, items[i].size, piece.get(), kPiece);
    }
    piece.reset();
    if (sideBySide.empty()) {
        return statuses;
    }
    // The buffers lent to the lanes, each with the item it holds.
    std::vector<std::pair<std::unique_ptr<uint8_t[]>, size_t>> lent;
    size_t next = 0;
    UnzipItemsInterleaved(
        reader, kLanes,
        [&](int32_t& index, void*& buffer, uint32_t& length) {
            if (next == sideBySide.size()) {
                return false;
            }
            const size_t i = sideBySide[next++];
            lent.emplace_back(
                std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(items[i].size, 1)), i);
            index = items[i].index;
            buffer = lent.back().first.get();
            length = items[i].size;
            return true;
        },
        [&](int32_t, void* buffer, ArchiveStatus status) {
            auto it = std::find_if(lent.begin(), lent.end(),
                                   [&](const auto& l) { return l.first.get() == buffer; });
            if (it == lent.end()) {
                return;
            }
            // A buffer of exactly the item's size: Ok means every byte came out
            // and the CRC-32 matched; More, that the item runs past its size.
            statuses[it->second] = status == ArchiveStatus::More ? ArchiveStatus::Corrupt : status;
            lent.erase(it);
        });
    return statuses;
}

}  // namespace tde
