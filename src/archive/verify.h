// Reading items through to prove them sound: the one verification behind the
// check before an installation and `driver-archive verify`.
#pragma once

#include "archive/archive.h"

#include <cstdint>
#include <vector>

namespace tde {

// An item to read through: its index and the size its directory entry states.
struct ItemToVerify {
    int32_t index = -1;
    uint32_t size = 0;
};

// Reads every item in full and answers one status per item, in order: Ok only
// when every stated byte came out and the CRC-32 matched, otherwise the
// reader's failure (Corrupt when the item runs past its stated size). Items of
// at most MaxResourceFileSize bytes are read four side by side, each into a
// buffer of its size; larger ones one at a time in pieces, so memory stays
// bounded. BadArgument for every item when there is no reader.
std::vector<ArchiveStatus> VerifyItemData(ArchiveReader* reader,
                                          const std::vector<ItemToVerify>& items);

}  // namespace tde
