// The stream of one item's bytes: the state of an item being read (its
// decryption, its inflation and its CRC-32) and the step that turns the
// compressed bytes at hand into output. The reader feeds it chunks of the
// image, one item at a time (UnzipItem) or several side by side
// (UnzipItemsInterleaved). Internal to the archive subsystem.
#pragma once

#include <cstdint>
#include <memory>

#include <zlib.h>

#include "archive/archive.h"
#include "archive/zip_crypto.h"

namespace tde::zip {

// Compressed bytes are fed to an item this many at a time.
constexpr uint32_t kChunkSize = 16384;

struct ItemReadState {
    std::unique_ptr<uint8_t[]> buffer;  // decrypted input; unused for plain items
    const uint8_t* input = nullptr;     // unread input bytes
    uint32_t inputCount = 0;
    uint64_t dataPosition = 0;  // absolute position of the next compressed byte
    uint32_t compressedRemaining = 0;
    uint32_t uncompressedRemaining = 0;
    uint16_t method = 0;
    z_stream stream = {};
    bool streamOpen = false;
    uint32_t crc = 0;
    uint32_t expectedCrc = 0;
    bool encrypted = false;
    ZipCipher cipher;
    uint32_t headerPending = 0;
    uint8_t checkByte = 0;
    bool finished = false;  // the end was reached and checked
    // Output of the current call: where the next byte goes, the room left
    // there, and how many bytes this call produced.
    uint8_t* out = nullptr;
    uint32_t room = 0;
    uint32_t produced = 0;

    ~ItemReadState() {
        if (streamOpen) {
            inflateEnd(&stream);
        }
    }
};

enum class ReadEnd { Filled, End, WrongPassword, Corrupt, Failed, NeedInput };

// Produces bytes from the input at hand into the call's output. NeedInput: the
// input ran out while compressed bytes remain, so the caller fetches the next
// chunk and calls again.
ReadEnd Produce(ItemReadState& s);

// What a call that ended so, having produced that many bytes, answers.
ArchiveStatus StatusOf(ReadEnd end, uint32_t produced);

}  // namespace tde::zip
