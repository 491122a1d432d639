// Benchmarks of the archive reader.
//   bench_archive make OUT.zip       builds the realistic 52-item archive
//   bench_archive memory ARCHIVE     extract-all to memory against a minimal
//                                    reference loop, and the peak heap use
// Timings are medians over interleaved rounds, so both sides see the same
// machine load.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/writer.h"
#include "archive/zip_crypto.h"
#include "base/utf8.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPassword[] = "kdw20190304";

// ---------------------------------------------------------------------------
// The archive: the installer's 52 item names; shared libraries of this machine
// in the module slots, text files in the text slots. Deterministic for a given
// machine: files are taken in sorted order.

struct Slot {
    std::string name;
    uint32_t size;
    bool module;
};

std::vector<Slot> Slots() {
    std::vector<Slot> slots;
    auto add = [&](const std::string& name, uint32_t size, bool module) {
        slots.push_back({name, size, module});
    };
    for (const char* arch : {"ARM64", "Driver32", "Driver64", "IA64"}) {
        const bool arm = std::string(arch) == "ARM64";
        const std::string dir = std::string("driver/common/") + arch + "/";
        add(dir + (arm ? "UNIDRV.DLL" : "UNIDRV.dll"), 1299968, true);
        add(dir + (arm ? "UNIDRVUI.DLL" : "UNIDRVUI.dll"), 900000, true);
        add(dir + (arm ? "UNIRES.DLL" : "UNIRES.dll"), 600000, true);
        add(dir + "UNIDRV.HLP", 90000, false);
        add(dir + "STDNAMES.GPD", 30000, false);
        if (arm) {
            add(dir + "STDDTYPE.GDL", 40000, false);
            add(dir + "STDSCHEM.GDL", 70000, false);
            add(dir + "STDSCHMX.GDL", 20000, false);
        }
    }
    for (const char* arch : {"Driver32", "Driver64", "IA64"}) {
        for (const char* model : {"A3", "A4", "A6"}) {
            const std::string dir = std::string("driver/pos/") + arch + "/ZNW" + model;
            add(dir + "UIV.dll", 180000, true);
            add(dir + "UNIV.dll", 250000, true);
        }
    }
    for (const char* model : {"a3", "a4", "a6"}) {
        add(std::string("driver/pos/znw") + model + ".hlp", 60000, false);
        add(std::string("driver/pos/ZNW") + static_cast<char>(model[0] - 32) + model[1] + "V.gpd",
            40000, false);
    }
    add("driver/pos/ZNWA4V.inf", 6000, false);
    add("driver/pos/znw.cer", 1000, true);
    add("driver/pos/znwdovezuvar.cat", 12000, true);
    add("lan_cn.xml", 4000, false);
    add("lan_en.xml", 4000, false);
    return slots;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Concatenated files of a folder, sorted by name, until at least `want` bytes.
std::string Pool(const std::vector<fs::path>& folders, bool (*take)(const fs::path&), size_t want) {
    std::vector<fs::path> files;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.is_regular_file(ec) && !entry.is_symlink(ec) && take(entry.path())) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    std::string pool;
    for (const fs::path& file : files) {
        pool += ReadFile(file);
        if (pool.size() >= want) {
            break;
        }
    }
    return pool;
}

bool IsSharedLibrary(const fs::path& p) {
    const std::string name = p.filename().string();
    std::error_code ec;
    return name.find(".so") != std::string::npos && fs::file_size(p, ec) > 100000;
}

bool IsText(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".h" || ext.empty();
}

bool WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Make(const fs::path& out) {
    const std::string modules =
        Pool({"/usr/lib/x86_64-linux-gnu", "/usr/lib/i386-linux-gnu", "/usr/lib"}, IsSharedLibrary,
             64u << 20);
    const std::string texts =
        Pool({"/usr/include", "/usr/share/common-licenses"}, IsText, 8u << 20);
    if (modules.size() < (16u << 20) || texts.size() < (2u << 20)) {
        std::fprintf(stderr, "bench_archive: too few shared libraries or text files here\n");
        return 1;
    }
    // Module sizes are scaled until the archive is about 7.5 MB, as the
    // installer's is (7,469,899 bytes).
    constexpr double kTarget = 7469899;
    double scale = 1.0;
    tde::WrittenArchive archive;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<tde::ArchiveWriterItem> items;
        size_t at = 0;
        for (const Slot& slot : Slots()) {
            const std::string& pool = slot.module ? modules : texts;
            // No item above the installer's largest (1,299,968 bytes).
            const uint32_t size =
                slot.module ? std::min<uint32_t>(static_cast<uint32_t>(slot.size * scale), 1299968)
                            : slot.size;
            at = (at + 7919u * 1024u) % (pool.size() - size);
            tde::ArchiveWriterItem item;
            item.name = slot.name;
            item.data.assign(pool.begin() + static_cast<std::ptrdiff_t>(at),
                             pool.begin() + static_cast<std::ptrdiff_t>(at + size));
            item.dosDate = tde::DosDate(2019, 3, 4);
            item.dosTime = tde::DosTime(9, 30, 0);
            items.push_back(std::move(item));
        }
        std::sort(items.begin(), items.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        tde::ArchiveWriterOptions options;
        options.password = kPassword;
        std::string error;
        if (!tde::WriteArchive(items, options, archive, error)) {
            std::fprintf(stderr, "bench_archive: %s\n", error.c_str());
            return 1;
        }
        const double ratio = kTarget / static_cast<double>(archive.bytes.size());
        if (ratio > 0.98 && ratio < 1.02) {
            break;
        }
        scale *= ratio * 1.05 - 0.05;  // text slots do not scale
    }
    if (!WriteBytes(out, archive.bytes)) {
        std::fprintf(stderr, "bench_archive: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("archive: %zu bytes, %zu items\n", archive.bytes.size(), archive.items.size());
    return 0;
}

// ---------------------------------------------------------------------------
// Extract-all to memory: the reader against a minimal reference loop.

struct Entry {
    std::u16string name;
    uint32_t dataOffset;  // first byte of the encryption header
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t crc;
};

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16);
}

// The central directory of a plain (no prefix, no comment) archive.
std::vector<Entry> ParseEntries(const std::vector<uint8_t>& image) {
    std::vector<Entry> entries;
    const uint8_t* end = image.data() + image.size() - 22;
    const uint16_t count = Get16(end + 10);
    size_t at = Get32(end + 16);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* c = image.data() + at;
        Entry e;
        const uint16_t nameLength = Get16(c + 28);
        e.name = tde::Utf8ToUtf16({reinterpret_cast<const char*>(c + 46), nameLength});
        e.crc = Get32(c + 16);
        e.compressedSize = Get32(c + 20);
        e.uncompressedSize = Get32(c + 24);
        const uint8_t* local = image.data() + Get32(c + 42);
        e.dataOffset = static_cast<uint32_t>(local - image.data()) + 30 + Get16(local + 26) +
                       Get16(local + 28);
        entries.push_back(e);
        at += 46 + nameLength + Get16(c + 30) + Get16(c + 32);
    }
    return entries;
}

bool InflateAndCheck(const uint8_t* dst, const Entry& e, uint64_t& checksum);

// The floor: decrypt the item's bytes, inflate them in one call, CRC-32.
// With sameDecrypt the decryption is the reader's own loop (ZipCipher), so
// the difference is the reader's structure alone.
bool ReferenceExtractAll(const std::vector<uint8_t>& image, const std::vector<Entry>& entries,
                         std::vector<uint8_t>& scratch, uint64_t& checksum, bool sameDecrypt) {
    const z_crc_t* table = get_crc_table();
    for (const Entry& e : entries) {
        if (sameDecrypt) {
            tde::ZipCipher cipher;
            cipher.Reset(kPassword, sizeof(kPassword) - 1);
            cipher.Decrypt(image.data() + e.dataOffset, scratch.data(), e.compressedSize);
            if (!InflateAndCheck(scratch.data(), e, checksum)) {
                return false;
            }
            continue;
        }
        uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
        auto update = [&](uint8_t c) {
            k0 = (k0 >> 8) ^ table[(k0 ^ c) & 0xFF];
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = (k2 >> 8) ^ table[(k2 ^ (k1 >> 24)) & 0xFF];
        };
        for (const char* p = kPassword; *p; ++p) {
            update(static_cast<uint8_t>(*p));
        }
        const uint8_t* src = image.data() + e.dataOffset;
        uint8_t* dst = scratch.data();
        for (uint32_t i = 0; i < e.compressedSize; ++i) {
            const uint32_t t = (k2 | 2) & 0xFFFF;
            const uint8_t c = static_cast<uint8_t>(src[i] ^ ((t * (t ^ 1)) >> 8));
            dst[i] = c;
            update(c);
        }
        if (!InflateAndCheck(dst, e, checksum)) {
            return false;
        }
    }
    return true;
}

// One raw inflate of the decrypted item into a buffer of its size, and its CRC-32.
bool InflateAndCheck(const uint8_t* dst, const Entry& e, uint64_t& checksum) {
    auto out = std::make_unique_for_overwrite<uint8_t[]>(e.uncompressedSize);
    z_stream stream = {};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = const_cast<uint8_t*>(dst) + 12;
    stream.avail_in = e.compressedSize - 12;
    stream.next_out = out.get();
    stream.avail_out = e.uncompressedSize;
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, out.get(), e.uncompressedSize));
    if (result != Z_STREAM_END || crc != e.crc) {
        return false;
    }
    checksum += out[e.uncompressedSize / 2];
    return true;
}

size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The program's way: find each item by name, unzip into a buffer of its size.
bool ReaderExtractAll(const std::vector<uint8_t>& image, const std::vector<Entry>& entries,
                      uint64_t& checksum, size_t* peakHeap, size_t baseline) {
    tde::ArchiveReader* reader = nullptr;
    if (tde::OpenFromMemory(image.data(), static_cast<uint32_t>(image.size()), kPassword, reader) !=
        tde::ArchiveStatus::Ok) {
        return false;
    }
    bool ok = true;
    for (const Entry& e : entries) {
        int32_t index = -1;
        tde::ArchiveItemInfo info;
        if (tde::FindItem(reader, e.name, true, index, &info) != tde::ArchiveStatus::Ok) {
            ok = false;
            break;
        }
        auto out = std::make_unique_for_overwrite<uint8_t[]>(info.uncompressedSize);
        if (tde::UnzipItem(reader, index, out.get(), info.uncompressedSize) !=
            tde::ArchiveStatus::Ok) {
            ok = false;
            break;
        }
        if (peakHeap != nullptr) {
            // The item is still open here: its buffer, the input chunk and the
            // inflate state are all alive.
            *peakHeap = std::max(*peakHeap, HeapInUse() - baseline);
        }
        checksum += out[info.uncompressedSize / 2];
    }
    tde::Close(reader);
    return ok;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Memory(const fs::path& path, int rounds) {
    const size_t baseline = HeapInUse();
    std::vector<uint8_t> image;
    {
        const std::string bytes = ReadFile(path);
        image.assign(bytes.begin(), bytes.end());
    }
    if (image.size() < 22) {
        std::fprintf(stderr, "bench_archive: cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<Entry> entries = ParseEntries(image);
    uint32_t largest = 0, largestCompressed = 0;
    uint64_t total = 0;
    for (const Entry& e : entries) {
        largest = std::max(largest, e.uncompressedSize);
        largestCompressed = std::max(largestCompressed, e.compressedSize);
        total += e.uncompressedSize;
    }
    size_t peak = 0;
    uint64_t sumReader = 0, sumReference = 0;
    if (!ReaderExtractAll(image, entries, sumReader, &peak, baseline)) {
        std::fprintf(stderr, "bench_archive: the reader failed on %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> scratch(largestCompressed);
    std::vector<double> reader, reference, sameLoop;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        const bool a = ReaderExtractAll(image, entries, sumReader, nullptr, 0);
        auto t1 = std::chrono::steady_clock::now();
        const bool b = ReferenceExtractAll(image, entries, scratch, sumReference, false);
        auto t2 = std::chrono::steady_clock::now();
        const bool c = ReferenceExtractAll(image, entries, scratch, sumReference, true);
        auto t3 = std::chrono::steady_clock::now();
        if (!a || !b || !c) {
            std::fprintf(stderr, "bench_archive: extraction failed\n");
            return 1;
        }
        reader.push_back(Seconds(t1 - t0));
        reference.push_back(Seconds(t2 - t1));
        sameLoop.push_back(Seconds(t3 - t2));
    }
    const double r = Median(reader), f = Median(reference);
    std::printf("archive: %zu bytes, %zu items, %llu bytes uncompressed, largest item %u bytes\n",
                image.size(), entries.size(), static_cast<unsigned long long>(total), largest);
    std::printf("extract-all to memory: reader %.1f ms, reference loop %.1f ms (medians of %d)\n",
                r * 1000, f * 1000, rounds);
    std::printf("ratio (a) reader / reference: %.3f (goal 1.08 or less)\n", r / f);
    std::printf("  the same with the reader's own decryption loop in the reference: %.3f\n",
                r / Median(sameLoop));
    std::printf(
        "peak heap during extract-all: %zu bytes (image %zu + largest item %u + "
        "input chunk and inflate state %zd)\n",
        peak, image.size(), largest,
        static_cast<ptrdiff_t>(peak) - static_cast<ptrdiff_t>(image.size()) -
            static_cast<ptrdiff_t>(largest));
    return sumReader > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 3) {
        return Make(argv[2]);
    }
    if (mode == "memory" && (argc == 3 || argc == 4)) {
        return Memory(argv[2], argc == 4 ? std::atoi(argv[3]) : 21);
    }
    std::fputs("usage: bench_archive make OUT.zip | memory ARCHIVE [ROUNDS]\n", stderr);
    return 2;
}
