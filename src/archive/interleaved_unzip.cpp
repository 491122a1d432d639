// Several items read side by side on the calling thread, so that their
// decryption interleaves: each lane holds one item's stream, and the chunks of
// all lanes are decrypted together.
#include <algorithm>
#include <vector>

#include "archive/reader.h"

namespace tde {

using namespace zip;

ArchiveStatus ArchiveReader::UnzipMany(int lanes, const NextItem& next, const ItemDone& done) {
    CloseItem();  // the lanes have their own read states
    struct Lane {
        std::unique_ptr<ItemReadState> state;
        int32_t index = -1;
        void* buffer = nullptr;
    };
    std::vector<Lane> lane(static_cast<size_t>(std::clamp(lanes, 1, 16)));
    // Takes the next item that opens into the lane; false when none is left.
    auto take = [&](Lane& l) {
        l.state.reset();
        int32_t index = -1;
        void* buffer = nullptr;
        uint32_t length = 0;
        while (next(index, buffer, length)) {
            if (index < 0 || index >= entryCount_ || (buffer == nullptr && length > 0)) {
                done(index, buffer, ArchiveStatus::BadArgument);
                continue;
            }
            std::unique_ptr<ItemReadState> state = PrepareItem(index);
            if (state == nullptr) {
                done(index, buffer, ArchiveStatus::InflateFailed);
                continue;
            }
            state->out = static_cast<uint8_t*>(buffer);
            state->room = std::min(length, state->uncompressedRemaining);
            l = {std::move(state), index, buffer};
            return true;
        }
        return false;
    };
    for (Lane& l : lane) {
        take(l);
    }
    constexpr int kMaxLanes = 16;
    for (;;) {
        // Run every lane until it needs input, taking a new item into each
        // lane whose item ends.
        ZipCipher* ciphers[kMaxLanes];
        const uint8_t* chunks[kMaxLanes];
        uint8_t* targets[kMaxLanes];
        size_t sizes[kMaxLanes];
        int encrypted = 0;
        bool any = false;
        for (Lane& l : lane) {
            while (l.state != nullptr) {
                ItemReadState& s = *l.state;
                ReadEnd end = Produce(s);
                const uint8_t* chunk = nullptr;
                uint32_t n = 0;
                if (end == ReadEnd::NeedInput) {
                    if (NextChunk(s, chunk, n)) {
                        s.inputCount = n;
                        if (s.encrypted) {
                            ciphers[encrypted] = &s.cipher;
                            chunks[encrypted] = chunk;
                            targets[encrypted] = s.buffer.get();
                            sizes[encrypted] = n;
                            ++encrypted;
                            s.input = s.buffer.get();
                        } else {
                            s.input = chunk;
                        }
                        any = true;
                        break;
                    }
                    end = ReadEnd::Failed;
                }
                done(l.index, l.buffer, StatusOf(end, s.produced));
                take(l);
            }
        }
        if (!any) {
            return ArchiveStatus::Ok;
        }
        // The chunks of all lanes decrypt side by side.
        ZipCipher::DecryptMany(ciphers, chunks, targets, sizes, encrypted);
    }
}

ArchiveStatus UnzipItemsInterleaved(ArchiveReader* reader, int lanes, const NextItem& next,
                                    const ItemDone& done) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    return reader->UnzipMany(lanes, next, done);
}

}  // namespace tde
