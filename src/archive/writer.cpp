#include "archive/writer.h"

#include <zlib.h>

#include "archive/zip_crypto.h"

namespace tde {

namespace {

constexpr uint32_t kMaxSize = 0xFFFFFFFFu;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool Deflate(const std::vector<uint8_t>& data, int level, std::vector<uint8_t>& out) {
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    out.resize(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

// The encryption header's eleven filler bytes: derived from the item so that
// packing the same files twice gives the same archive.
void FillHeader(uint8_t header[12], uint32_t salt) {
    uint32_t x = salt ^ 0x9E3779B9u;
    for (int i = 0; i < 11; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        header[i] = static_cast<uint8_t>(x >> 24);
    }
}

}  // namespace

uint16_t DosDate(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

uint16_t DosTime(int hour, int minute, int second) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

bool WriteArchive(const std::vector<ArchiveWriterItem>& items, const ArchiveWriterOptions& options,
                  WrittenArchive& archive, std::string& error) {
    archive = WrittenArchive();
    if (items.size() > 0xFFFF) {
        error = "more than 65535 items";
        return false;
    }
    if (options.comment.size() > 0xFFFF) {
        error = "archive comment too long";
        return false;
    }
    std::vector<uint8_t>& out = archive.bytes;
    struct Central {
        uint16_t flags;
        uint32_t crc;
        uint32_t compressed;
        uint32_t uncompressed;
    };
    std::vector<Central> central;
    ZipCipher cipher;
    for (const ArchiveWriterItem& item : items) {
        if (item.name.size() > 0xFFFF) {
            error = "item name too long: " + item.name.substr(0, 64);
            return false;
        }
        if (item.comment.size() > 0xFFFF) {
            error = "item comment too long: " + item.name;
            return false;
        }
        if (item.data.size() > kMaxSize) {
            error = "item too large: " + item.name;
            return false;
        }
        const uint32_t crc =
            static_cast<uint32_t>(crc32(0, item.data.data(), static_cast<uInt>(item.data.size())));
        std::vector<uint8_t> body;
        if (item.method == 8) {
            if (!Deflate(item.data, options.level, body)) {
                error = "deflate failed: " + item.name;
                return false;
            }
        } else {
            body = item.data;
        }
        uint16_t flags = 0;
        if (item.encrypt) {
            flags |= 0x0001;
        }
        if (item.dataDescriptor) {
            flags |= 0x0008;
        }
        for (unsigned char c : item.name) {
            if (c >= 0x80) {
                flags |= 0x0800;  // the name is UTF-8
                break;
            }
        }
        std::vector<uint8_t> stored;
        if (item.encrypt) {
            uint8_t header[12];
            FillHeader(header, crc ^ static_cast<uint32_t>(
                                         crc32(0, reinterpret_cast<const Bytef*>(item.name.data()),
                                               static_cast<uInt>(item.name.size()))));
            header[11] = item.dataDescriptor ? static_cast<uint8_t>(item.dosTime >> 8)
                                             : static_cast<uint8_t>(crc >> 24);
            stored.resize(12 + body.size());
            cipher.Reset(options.password.data(), options.password.size());
            cipher.Encrypt(header, stored.data(), 12);
            cipher.Encrypt(body.data(), stored.data() + 12, body.size());
        } else {
            stored = std::move(body);
        }
        if (stored.size() > kMaxSize ||
            out.size() + 30 + item.name.size() + stored.size() + 16 > kMaxSize) {
            error = "archive larger than 4 GiB";
            return false;
        }
        WrittenItem written;
        written.localHeaderOffset = static_cast<uint32_t>(out.size());
        written.crc = crc;
        const uint32_t compressed = static_cast<uint32_t>(stored.size());
        const uint32_t uncompressed = static_cast<uint32_t>(item.data.size());
        Put32(out, 0x04034b50);
        Put16(out, 20);  // version needed: 2.0
        Put16(out, flags);
        Put16(out, item.method);
        Put16(out, item.dosTime);
        Put16(out, item.dosDate);
        Put32(out, item.dataDescriptor ? 0 : crc);
        Put32(out, item.dataDescriptor ? 0 : compressed);
        Put32(out, item.dataDescriptor ? 0 : uncompressed);
        Put16(out, static_cast<uint32_t>(item.name.size()));
        Put16(out, 0);
        out.insert(out.end(), item.name.begin(), item.name.end());
        written.dataOffset = static_cast<uint32_t>(out.size());
        written.dataLength = compressed;
        out.insert(out.end(), stored.begin(), stored.end());
        if (item.dataDescriptor) {
            Put32(out, 0x08074b50);
            Put32(out, crc);
            Put32(out, compressed);
            Put32(out, uncompressed);
        }
        archive.items.push_back(written);
        central.push_back({flags, crc, compressed, uncompressed});
    }
    archive.centralOffset = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const ArchiveWriterItem& item = items[i];
        archive.items[i].centralHeaderOffset = static_cast<uint32_t>(out.size());
        Put32(out, 0x02014b50);
        Put16(out, (3 << 8) | 20);  // made by: Unix host, version 2.0
        Put16(out, 20);
        Put16(out, central[i].flags);
        Put16(out, item.method);
        Put16(out, item.dosTime);
        Put16(out, item.dosDate);
        Put32(out, central[i].crc);
        Put32(out, central[i].compressed);
        Put32(out, central[i].uncompressed);
        Put16(out, static_cast<uint32_t>(item.name.size()));
        Put16(out, 0);  // extra
        Put16(out, static_cast<uint32_t>(item.comment.size()));
        Put16(out, 0);  // disk
        Put16(out, 0);  // internal attributes
        Put32(out, item.externalAttributes);
        Put32(out, archive.items[i].localHeaderOffset);
        out.insert(out.end(), item.name.begin(), item.name.end());
        out.insert(out.end(), item.comment.begin(), item.comment.end());
    }
    const uint64_t centralSize = out.size() - archive.centralOffset;
    if (out.size() + 22 + options.comment.size() > kMaxSize) {
        error = "archive larger than 4 GiB";
        return false;
    }
    archive.endRecordOffset = static_cast<uint32_t>(out.size());
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(items.size()));
    Put16(out, static_cast<uint32_t>(items.size()));
    Put32(out, static_cast<uint32_t>(centralSize));
    Put32(out, archive.centralOffset);
    Put16(out, static_cast<uint32_t>(options.comment.size()));
    out.insert(out.end(), options.comment.begin(), options.comment.end());
    return true;
}

}  // namespace tde
