// One item's stream: the step that decrypts, inflates and checks the bytes at
// hand, and the reader's single open item that UnzipItem reads piece by piece.
#include "archive/item_stream.h"

#include <algorithm>
#include <cstring>

#include "archive/reader.h"

namespace tde {

namespace zip {

ReadEnd Produce(ItemReadState& s) {
    for (;;) {
        if (s.headerPending == 0 && s.uncompressedRemaining == 0) {
            s.finished = true;
            // A corrupted item is never handed out as good.
            return s.crc == s.expectedCrc ? ReadEnd::End : ReadEnd::Corrupt;
        }
        if (s.headerPending == 0 && s.room == 0) {
            return ReadEnd::Filled;
        }
        if (s.inputCount == 0 && s.compressedRemaining > 0) {
            return ReadEnd::NeedInput;
        }
        if (s.headerPending > 0) {
            if (s.inputCount == 0) {
                return ReadEnd::Failed;  // data shorter than the encryption header
            }
            const uint32_t take = std::min(s.headerPending, s.inputCount);
            const uint8_t last = s.input[take - 1];
            s.input += take;
            s.inputCount -= take;
            s.headerPending -= take;
            if (s.headerPending == 0 && last != s.checkByte) {
                return ReadEnd::WrongPassword;
            }
            continue;
        }
        if (s.method == 0) {
            if (s.inputCount == 0) {
                return ReadEnd::Failed;  // stored data shorter than stated
            }
            const uint32_t n = std::min(s.room, s.inputCount);
            std::memcpy(s.out, s.input, n);
            s.crc = static_cast<uint32_t>(crc32(s.crc, s.out, n));
            s.input += n;
            s.inputCount -= n;
            s.out += n;
            s.room -= n;
            s.produced += n;
            s.uncompressedRemaining -= n;
            continue;
        }
        s.stream.next_in = const_cast<Bytef*>(s.input);
        s.stream.avail_in = s.inputCount;
        s.stream.next_out = s.out;
        s.stream.avail_out = s.room;
        const int result = inflate(&s.stream, Z_SYNC_FLUSH);
        const uint32_t consumed = s.inputCount - s.stream.avail_in;
        const uint32_t made = s.room - s.stream.avail_out;
        s.input += consumed;
        s.inputCount -= consumed;
        if (made > 0) {
            s.crc = static_cast<uint32_t>(crc32(s.crc, s.out, made));
        }
        s.out += made;
        s.room -= made;
        s.produced += made;
        s.uncompressedRemaining -= made;
        if (result == Z_STREAM_END) {
            if (s.uncompressedRemaining != 0) {
                return ReadEnd::Corrupt;  // the stream ended before the stated size
            }
            continue;  // ends above
        }
        if (result != Z_OK || (consumed == 0 && made == 0)) {
            return ReadEnd::Failed;
        }
    }
}

ArchiveStatus StatusOf(ReadEnd end, uint32_t produced) {
    switch (end) {
        case ReadEnd::End:
            return ArchiveStatus::Ok;
        case ReadEnd::Filled:
            return produced > 0 ? ArchiveStatus::More : ArchiveStatus::InflateFailed;
        case ReadEnd::WrongPassword:
            return ArchiveStatus::WrongPassword;
        case ReadEnd::Corrupt:
            return ArchiveStatus::Corrupt;
        case ReadEnd::Failed:
        case ReadEnd::NeedInput:
            break;
    }
    return ArchiveStatus::InflateFailed;
}

}  // namespace zip

using namespace zip;

void ArchiveReader::CloseItem() {
    // The CRC-32 of a fully produced item was already compared when its last
    // byte came out (Read), so closing only releases the state.
    item_.reset();
    openIndex_ = -1;
}

std::unique_ptr<ItemReadState> ArchiveReader::PrepareItem(int32_t index) {
    if (!GoTo(index)) {
        return nullptr;
    }
    const CentralEntry& e = current_;
    LocalLayout layout;
    if (ValidateLocal(e, layout) != ArchiveStatus::Ok) {
        return nullptr;
    }
    auto state = std::make_unique<ItemReadState>();
    state->dataPosition = layout.dataPosition;
    state->compressedRemaining = e.compressedSize;
    state->uncompressedRemaining = e.uncompressedSize;
    state->method = e.method;
    state->expectedCrc = e.crc;
    state->encrypted = (e.flags & kFlagEncrypted) != 0;
    if (state->encrypted) {
        state->buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
        state->cipher.Reset(password_.data(), password_.size());
        state->headerPending = kEncryptionHeaderSize;
        state->checkByte = (e.flags & kFlagDataDescriptor) != 0
                               ? static_cast<uint8_t>(e.dosTime >> 8)
                               : static_cast<uint8_t>(e.crc >> 24);
    }
    if (e.method == 8) {
        if (inflateInit2(&state->stream, -MAX_WBITS) != Z_OK) {
            return nullptr;
        }
        state->streamOpen = true;
    }
    return state;
}

bool ArchiveReader::OpenItem(int32_t index) {
    item_ = PrepareItem(index);
    if (item_ == nullptr) {
        return false;
    }
    openIndex_ = index;
    return true;
}

bool ArchiveReader::NextChunk(ItemReadState& s, const uint8_t*& chunk, uint32_t& n) {
    n = std::min(kChunkSize, s.compressedRemaining);
    chunk = At(s.dataPosition, n);
    if (chunk == nullptr) {
        return false;
    }
    s.dataPosition += n;
    s.compressedRemaining -= n;
    return true;
}

ReadEnd ArchiveReader::Read(uint8_t* out, uint32_t length, uint32_t& produced) {
    ItemReadState& s = *item_;
    produced = 0;
    if (s.finished) {
        return ReadEnd::End;
    }
    s.out = out;
    s.room = std::min(length, s.uncompressedRemaining);
    s.produced = 0;
    for (;;) {
        const ReadEnd end = Produce(s);
        produced = s.produced;
        if (end != ReadEnd::NeedInput) {
            return end;
        }
        const uint8_t* chunk = nullptr;
        uint32_t n = 0;
        if (!NextChunk(s, chunk, n)) {
            return ReadEnd::Failed;
        }
        if (s.encrypted) {
            s.cipher.Decrypt(chunk, s.buffer.get(), n);
            s.input = s.buffer.get();
        } else {
            s.input = chunk;  // plain bytes are inflated straight from the image
        }
        s.inputCount = n;
    }
}

ArchiveStatus ArchiveReader::Unzip(int32_t index, void* buffer, uint32_t length) {
    if (index < 0 || index >= entryCount_) {
        CloseItem();
        return ArchiveStatus::BadArgument;
    }
    if (index != openIndex_ || item_ == nullptr) {
        CloseItem();
        if (!OpenItem(index)) {
            return ArchiveStatus::InflateFailed;
        }
    }
    if (buffer == nullptr && length > 0) {
        CloseItem();
        return ArchiveStatus::BadArgument;
    }
    uint32_t produced = 0;
    const ReadEnd end = Read(static_cast<uint8_t*>(buffer), length, produced);
    const bool failed = end != ReadEnd::End && end != ReadEnd::Filled;
    if (produced == 0 || failed) {
        CloseItem();
    }
    return StatusOf(end, produced);
}

ArchiveStatus UnzipItem(ArchiveReader* reader, int32_t index, void* buffer, uint32_t length) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    return reader->Unzip(index, buffer, length);
}

}  // namespace tde
