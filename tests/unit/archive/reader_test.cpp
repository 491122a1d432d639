// The archive reader against archives built in memory: lookup, decryption,
// inflation, chunked reads and the status of every outcome.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/names.h"
#include "support/archive_test_util.h"
#include "base/utf8.h"

namespace tde {
namespace {

using namespace testing_util;

TEST(ArchiveReaderTest, ReadsEncryptedDeflatedAndStoredItemsByteForByte) {
    const std::vector<uint8_t> big = Content(300000, 1);  // many 16 KiB chunks
    const std::vector<uint8_t> small = Bytes("<Language></Language>");
    WrittenArchive a =
        Build({Item("driver/pos/ZNWA4V.inf", small), Item("driver/pos/Driver32/ZNWA4UIV.dll", big),
               Item("stored.bin", big, 0), Item("plain.txt", small, 8, false),
               Item("plain-stored.bin", big, 0, false)});
    OpenArchive archive(a.bytes);
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    EXPECT_EQ(ItemCount(archive.reader), 5u);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"driver/pos/ZNWA4V.inf", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, small);
    EXPECT_EQ(archive.ReadItem(u"driver/pos/Driver32/ZNWA4UIV.dll", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, big);
    EXPECT_EQ(archive.ReadItem(u"stored.bin", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, big);
    EXPECT_EQ(archive.ReadItem(u"plain.txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, small);
    EXPECT_EQ(archive.ReadItem(u"plain-stored.bin", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, big);
}

TEST(ArchiveReaderTest, ChecksTheHighByteOfTheCrcWithoutADataDescriptor) {
    ArchiveWriterItem item = Item("a.txt", Content(5000, 2));
    item.dataDescriptor = false;
    item.dosTime = 0;  // a check against the time would fail
    WrittenArchive a = Build({item});
    OpenArchive archive(a.bytes);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"a.txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, item.data);
}

TEST(ArchiveReaderTest, FindsByFoldingAsciiLettersOnlyAndNeverAcrossSeparators) {
    WrittenArchive a =
        Build({Item("driver/pos/ZNWA4V.inf", Bytes("inf")), Item("caf\xc3\xa9.txt", Bytes("e"))});
    OpenArchive archive(a.bytes);
    int32_t index = -7;
    ArchiveItemInfo info;
    EXPECT_EQ(FindItem(archive.reader, u"DRIVER/POS/ZNWA4V.INF", true, index, &info),
              ArchiveStatus::Ok);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(info.index, 0);
    EXPECT_EQ(std::u16string(info.name), u"driver/pos/ZNWA4V.inf");
    EXPECT_EQ(info.uncompressedSize, 3u);
    EXPECT_EQ(info.compressedSize, a.items[0].dataLength);

    EXPECT_EQ(FindItem(archive.reader, u"driver\\pos\\ZNWA4V.inf", true, index, &info),
              ArchiveStatus::NotFound);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(info.index, -1);
    EXPECT_EQ(info.name[0], 0);
    // Case matters when not ignored.
    EXPECT_EQ(FindItem(archive.reader, u"driver/pos/znwa4v.inf", false, index, nullptr),
              ArchiveStatus::NotFound);
    EXPECT_EQ(FindItem(archive.reader, u"driver/pos/ZNWA4V.inf", false, index, nullptr),
              ArchiveStatus::Ok);
    // Bytes above 0x7F must match exactly: É is not é.
    EXPECT_EQ(FindItem(archive.reader, u"CAF\u00e9.TXT", true, index, nullptr), ArchiveStatus::Ok);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(FindItem(archive.reader, u"CAF\u00c9.TXT", true, index, nullptr),
              ArchiveStatus::NotFound);
}

TEST(ArchiveReaderTest, RefusesLookupNamesOf256Utf8BytesOrMore) {
    const std::string longest(255, 'n');
    const std::string tooLong(256, 'n');
    WrittenArchive a = Build({Item(longest, Bytes("x")), Item(tooLong, Bytes("y"))});
    OpenArchive archive(a.bytes);
    int32_t index = -7;
    EXPECT_EQ(FindItem(archive.reader, std::u16string(255, u'n'), true, index, nullptr),
              ArchiveStatus::Ok);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(FindItem(archive.reader, std::u16string(256, u'n'), true, index, nullptr),
              ArchiveStatus::NotFound);
    EXPECT_EQ(index, -1);
    // 128 two-byte characters are 256 UTF-8 bytes.
    EXPECT_EQ(FindItem(archive.reader, std::u16string(128, u'\u00e9'), true, index, nullptr),
              ArchiveStatus::NotFound);
}

TEST(ArchiveReaderTest, ResolvesADuplicateNameToTheEarlierEntry) {
    WrittenArchive a = Build({Item("other", Bytes("0")), Item("same.txt", Bytes("first")),
                              Item("SAME.TXT", Bytes("second"))});
    OpenArchive archive(a.bytes);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"same.txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Bytes("first"));
    EXPECT_EQ(archive.ReadItem(u"Same.Txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Bytes("first"));
}

// The walk over the central directory steps over each entry's comment; one
// comment holds what looks like a further entry named "decoy".
TEST(ArchiveReaderTest, StepsOverEntryCommentsOfAnyLength) {
    std::string decoy = std::string("PK\x01\x02", 4) + std::string(24, '\0');
    decoy += std::string("\x05\0\0\0\0\0", 6) + std::string(12, '\0') + "decoy";
    const std::string comments[] = {"", "c", decoy, std::string(300, 'x'),
                                    std::string(0xFFFF, 'y')};
    std::vector<ArchiveWriterItem> items;
    for (size_t i = 0; i < std::size(comments); ++i) {
        items.push_back(Item("item" + std::to_string(i), Content(500 + i, 10 + i), i % 2 ? 0 : 8));
        items.back().comment = comments[i];
    }
    WrittenArchive a = Build(items);
    OpenArchive archive(a.bytes);
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    ASSERT_EQ(ItemCount(archive.reader), std::size(comments));
    for (size_t i = 0; i < std::size(comments); ++i) {
        SCOPED_TRACE(i);
        std::string stored;
        ASSERT_EQ(StoredItemName(archive.reader, static_cast<int32_t>(i), stored),
                  ArchiveStatus::Ok);
        EXPECT_EQ(stored, "item" + std::to_string(i));
        std::vector<uint8_t> data;
        EXPECT_EQ(archive.ReadItem(Utf8ToUtf16(stored), data), ArchiveStatus::Ok);
        EXPECT_EQ(data, Content(500 + i, 10 + i));
    }
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"decoy", data), ArchiveStatus::NotFound);
}

TEST(ArchiveReaderTest, OpensAnImageWithDataBeforeTheArchive) {
    WrittenArchive a = Build({Item("one", Content(40000, 3)), Item("two", Bytes("two"))});
    std::vector<uint8_t> image = Content(1500, 4);
    image.insert(image.end(), a.bytes.begin(), a.bytes.end());
    OpenArchive archive(image);
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"one", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Content(40000, 3));
    EXPECT_EQ(archive.ReadItem(u"two", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Bytes("two"));
}

TEST(ArchiveReaderTest, OpensAnArchiveWithALongComment) {
    const std::string comment(2000, 'c');
    WrittenArchive a = Build({Item("x", Bytes("payload"))}, "kdw20190304", comment);
    ASSERT_GT(a.bytes.size() - a.endRecordOffset, 1028u);
    OpenArchive archive(a.bytes);
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"x", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Bytes("payload"));
}

TEST(ArchiveReaderTest, RefusesImagesWithoutAnEndRecordInTheirLast64K) {
    ArchiveReader* reader = reinterpret_cast<ArchiveReader*>(1);
    std::vector<uint8_t> noise(70000, 0x11);
    EXPECT_EQ(OpenFromMemory(noise.data(), static_cast<uint32_t>(noise.size()), "", reader),
              ArchiveStatus::OpenFailed);
    EXPECT_EQ(reader, nullptr);
    // A signature 65,536 bytes before the end lies outside the scanned range.
    WrittenArchive a = Build({Item("x", Bytes("x"))}, "pw", std::string(65535 - 21, 'c'));
    // End record + comment: the signature sits 22 + comment bytes before the end.
    ASSERT_EQ(a.bytes.size() - a.endRecordOffset, 65536u);
    EXPECT_EQ(OpenFromMemory(a.bytes.data(), static_cast<uint32_t>(a.bytes.size()), "pw", reader),
              ArchiveStatus::OpenFailed);
    // One byte shorter comment and it is found.
    WrittenArchive b = Build({Item("x", Bytes("x"))}, "pw", std::string(65535 - 22, 'c'));
    OpenArchive found(b.bytes, "pw");
    EXPECT_EQ(found.status, ArchiveStatus::Ok);
    // Tiny images.
    const uint8_t signature[] = {0x50, 0x4B, 0x05, 0x06};
    EXPECT_EQ(OpenFromMemory(signature, 4, "", reader), ArchiveStatus::OpenFailed);
    EXPECT_EQ(OpenFromMemory(signature, 0, "", reader), ArchiveStatus::OpenFailed);
    EXPECT_EQ(OpenFromMemory(nullptr, 100, "", reader), ArchiveStatus::OpenFailed);
}

TEST(ArchiveReaderTest, WrongPasswordFailsAndLeavesNoItemOpen) {
    const std::vector<uint8_t> content = Content(20000, 5);
    WrittenArchive a = Build({Item("a", content), Item("b", Bytes("bee"))}, "right");
    // Over many wrong passwords the check byte lets about one in 256 through;
    // those must end in InflateFailed, never in a wrong Ok.
    int wrong = 0, slipped = 0;
    for (int i = 0; i < 600; ++i) {
        const std::string password = "wrong" + std::to_string(i);
        OpenArchive archive(a.bytes, password.c_str());
        std::vector<uint8_t> data;
        const ArchiveStatus s = archive.ReadItem(u"a", data);
        if (s == ArchiveStatus::WrongPassword) {
            ++wrong;
        } else {
            ASSERT_EQ(s, ArchiveStatus::InflateFailed) << password;
            ++slipped;
        }
        // No item stays open: the same index starts afresh and fails the same way
        // (a continuation would run past the header into the data instead).
        EXPECT_EQ(UnzipItem(archive.reader, 0, data.data(), static_cast<uint32_t>(data.size())), s);
    }
    EXPECT_GT(wrong, 500);
    EXPECT_GT(slipped, 0);  // the filler makes this deterministic for these passwords
}

TEST(ArchiveReaderTest, SmallBufferYieldsMoreUntilTheLastPiece) {
    const std::vector<uint8_t> content = Content(100000, 6);
    for (uint16_t method : {uint16_t{0}, uint16_t{8}}) {
        SCOPED_TRACE(method);
        WrittenArchive a = Build({Item("first", Bytes("1")), Item("item", content, method)});
        OpenArchive archive(a.bytes);
        int32_t index = -1;
        ASSERT_EQ(FindItem(archive.reader, u"item", true, index, nullptr), ArchiveStatus::Ok);
        std::vector<uint8_t> out;
        std::vector<uint8_t> piece(7001);
        ArchiveStatus s;
        int calls = 0;
        while ((s = UnzipItem(archive.reader, index, piece.data(), 7001)) == ArchiveStatus::More) {
            out.insert(out.end(), piece.begin(), piece.end());
            ++calls;
        }
        ASSERT_EQ(s, ArchiveStatus::Ok);
        out.insert(out.end(), piece.begin(), piece.begin() + (content.size() - out.size()));
        EXPECT_EQ(calls, static_cast<int>(content.size() / 7001));
        EXPECT_EQ(out, content);
        // After the end the item closes on the next call, which produces nothing.
        EXPECT_EQ(UnzipItem(archive.reader, index, piece.data(), 7001), ArchiveStatus::Ok);
        // Switching to another index mid-item restarts that index cleanly.
        ASSERT_EQ(UnzipItem(archive.reader, index, piece.data(), 10), ArchiveStatus::More);
        std::vector<uint8_t> one(1);
        EXPECT_EQ(UnzipItem(archive.reader, 0, one.data(), 1), ArchiveStatus::Ok);
        EXPECT_EQ(one[0], '1');
        std::vector<uint8_t> whole(content.size());
        EXPECT_EQ(
            UnzipItem(archive.reader, index, whole.data(), static_cast<uint32_t>(whole.size())),
            ArchiveStatus::Ok);
        EXPECT_EQ(whole, content);
    }
}

TEST(ArchiveReaderTest, FindItemClosesTheOpenItem) {
    const std::vector<uint8_t> content = Content(50000, 7);
    WrittenArchive a = Build({Item("item", content)});
    OpenArchive archive(a.bytes);
    std::vector<uint8_t> part(1000);
    ASSERT_EQ(UnzipItem(archive.reader, 0, part.data(), 1000), ArchiveStatus::More);
    int32_t index = -1;
    ASSERT_EQ(FindItem(archive.reader, u"item", true, index, nullptr), ArchiveStatus::Ok);
    std::vector<uint8_t> again(1000);
    // A fresh start, not the continuation.
    ASSERT_EQ(UnzipItem(archive.reader, 0, again.data(), 1000), ArchiveStatus::More);
    EXPECT_EQ(again, part);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), content.begin()));
}

TEST(ArchiveReaderTest, RejectsUnsupportedMethodsAndBadIndexes) {
    WrittenArchive a = Build({Item("lzma", Bytes("data"), 0), Item("ok", Bytes("ok"))});
    // Method 12 (bzip2) in both headers.
    Put16At(a.bytes, a.items[0].localHeaderOffset + 8, 12);
    Put16At(a.bytes, a.items[0].centralHeaderOffset + 10, 12);
    OpenArchive archive(a.bytes);
    int32_t index = -1;
    ArchiveItemInfo info;
    EXPECT_EQ(FindItem(archive.reader, u"lzma", true, index, &info), ArchiveStatus::Corrupt);
    EXPECT_EQ(index, 0);
    std::vector<uint8_t> data(4);
    EXPECT_EQ(UnzipItem(archive.reader, 0, data.data(), 4), ArchiveStatus::InflateFailed);
    EXPECT_EQ(UnzipItem(archive.reader, 2, data.data(), 4), ArchiveStatus::BadArgument);
    EXPECT_EQ(UnzipItem(archive.reader, -1, data.data(), 4), ArchiveStatus::BadArgument);
    EXPECT_EQ(UnzipItem(nullptr, 0, data.data(), 4), ArchiveStatus::BadArgument);
    EXPECT_EQ(FindItem(nullptr, u"ok", true, index, &info), ArchiveStatus::BadArgument);
    EXPECT_EQ(Close(nullptr), ArchiveStatus::BadArgument);
    // The reader is still usable.
    EXPECT_EQ(archive.ReadItem(u"ok", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Bytes("ok"));
}

TEST(ArchiveReaderTest, FailsAnItemWhoseCrcDoesNotMatchAtItsLastByte) {
    const std::vector<uint8_t> content = Content(40000, 8);
    for (uint16_t method : {uint16_t{0}, uint16_t{8}}) {
        SCOPED_TRACE(method);
        WrittenArchive a = Build({Item("item", content, method)});
        // A wrong CRC in the central directory (the local header has bit 3 set).
        Put32At(a.bytes, a.items[0].centralHeaderOffset + 16, a.items[0].crc ^ 0x00010000);
        OpenArchive archive(a.bytes);
        int32_t index = -1;
        ASSERT_EQ(FindItem(archive.reader, u"item", true, index, nullptr), ArchiveStatus::Ok);
        std::vector<uint8_t> data(content.size());
        // Bytes before the last come out as More; the last piece fails.
        EXPECT_EQ(UnzipItem(archive.reader, index, data.data(), 1000), ArchiveStatus::More);
        EXPECT_EQ(
            UnzipItem(archive.reader, index, data.data(), static_cast<uint32_t>(content.size())),
            ArchiveStatus::Corrupt);
        EXPECT_EQ(
            UnzipItem(archive.reader, index, data.data(), static_cast<uint32_t>(content.size())),
            ArchiveStatus::Corrupt);
    }
}

TEST(ArchiveReaderTest, ReadsEmptyItemsAndChecksTheirPassword) {
    WrittenArchive a = Build({Item("empty-deflated", {}), Item("empty-stored", {}, 0)}, "pw");
    OpenArchive archive(a.bytes, "pw");
    for (const char16_t* name : {u"empty-deflated", u"empty-stored"}) {
        std::vector<uint8_t> data;
        EXPECT_EQ(archive.ReadItem(name, data), ArchiveStatus::Ok);
        EXPECT_TRUE(data.empty());
    }
    OpenArchive wrong(a.bytes, "px");
    std::vector<uint8_t> data;
    const ArchiveStatus s = wrong.ReadItem(u"empty-stored", data);
    EXPECT_TRUE(s == ArchiveStatus::WrongPassword || s == ArchiveStatus::Ok);
}

TEST(ArchiveReaderTest, NullPasswordIsTheEmptyPassword) {
    WrittenArchive a = Build({Item("x", Content(3000, 9))}, "");
    OpenArchive archive(a.bytes, nullptr);
    std::vector<uint8_t> data;
    EXPECT_EQ(archive.ReadItem(u"x", data), ArchiveStatus::Ok);
    EXPECT_EQ(data, Content(3000, 9));
}

TEST(ArchiveReaderTest, DescribesTimesAttributesAndSanitisedNames) {
    ArchiveWriterItem dotdot = Item("C:\\../../evil/..\\x/../../win.ini", Bytes("w"));
    WrittenArchive a = Build({Item("dir/file.txt", Bytes("f")), dotdot});
    OpenArchive archive(a.bytes);
    ArchiveItemInfo info;
    ASSERT_EQ(DescribeItem(archive.reader, 0, info), ArchiveStatus::Ok);
    EXPECT_EQ(info.attributes, 0x20u);
    EXPECT_NE(info.modificationTime, 0u);
    EXPECT_EQ(info.accessTime, info.modificationTime);
    EXPECT_EQ(info.creationTime, info.modificationTime);
    ASSERT_EQ(DescribeItem(archive.reader, 1, info), ArchiveStatus::Ok);
    EXPECT_EQ(std::u16string(info.name), u"win.ini");
    std::string stored;
    ASSERT_EQ(StoredItemName(archive.reader, 1, stored), ArchiveStatus::Ok);
    EXPECT_EQ(stored, dotdot.name);
    EXPECT_EQ(DescribeItem(archive.reader, 2, info), ArchiveStatus::BadArgument);
    EXPECT_EQ(StoredItemName(archive.reader, 2, stored), ArchiveStatus::BadArgument);
    // Found by its stored name, described by its sanitised one.
    int32_t index = -1;
    EXPECT_EQ(FindItem(archive.reader, u"c:\\../../EVIL/..\\x/../../win.ini", true, index, &info),
              ArchiveStatus::Ok);
    EXPECT_EQ(index, 1);
}

TEST(ArchiveReaderTest, StatusNamesAndNumbers) {
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::Ok), 0u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::OpenFailed), 0x200u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::NotFound), 0x500u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::More), 1536u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::Corrupt), 0x700u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::ReadFailed), 0x800u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::WrongPassword), 0x1000u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::BadArgument), 0x10000u);
    EXPECT_EQ(static_cast<uint32_t>(ArchiveStatus::InflateFailed), 0x5000000u);
    EXPECT_STREQ(ArchiveStatusName(ArchiveStatus::WrongPassword), "WrongPassword");
    EXPECT_STREQ(ArchiveStatusName(ArchiveStatus::InflateFailed), "InflateFailed");
    EXPECT_STREQ(ArchiveStatusName(static_cast<ArchiveStatus>(3)), "Unknown");
    EXPECT_TRUE(ArchiveSucceeded(ArchiveStatus::More));
    EXPECT_FALSE(ArchiveSucceeded(ArchiveStatus::Corrupt));
}

}  // namespace
}  // namespace tde

namespace tde {
namespace {

using namespace testing_util;

// What one UnzipItem call per item gives, to compare the interleaved reads with.
std::vector<std::pair<ArchiveStatus, std::vector<uint8_t>>> OneByOne(
    const std::vector<uint8_t>& image, const char* password, const std::vector<uint32_t>& lengths) {
    OpenArchive archive(image, password);
    std::vector<std::pair<ArchiveStatus, std::vector<uint8_t>>> results;
    for (size_t i = 0; i < lengths.size(); ++i) {
        std::vector<uint8_t> data(lengths[i]);
        const ArchiveStatus s =
            UnzipItem(archive.reader, static_cast<int32_t>(i), data.data(), lengths[i]);
        results.emplace_back(
            s, s == ArchiveStatus::Ok || s == ArchiveStatus::More ? data : std::vector<uint8_t>());
    }
    return results;
}

std::vector<std::pair<ArchiveStatus, std::vector<uint8_t>>> Interleaved(
    const std::vector<uint8_t>& image, const char* password, const std::vector<uint32_t>& lengths,
    int lanes) {
    OpenArchive archive(image, password);
    std::vector<std::vector<uint8_t>> buffers;
    for (uint32_t length : lengths) {
        buffers.emplace_back(length);
    }
    std::vector<std::pair<ArchiveStatus, std::vector<uint8_t>>> results(lengths.size());
    std::vector<int> calls(lengths.size(), 0);
    size_t next = 0;
    const ArchiveStatus s = UnzipItemsInterleaved(
        archive.reader, lanes,
        [&](int32_t& index, void*& buffer, uint32_t& length) {
            if (next == lengths.size()) {
                return false;
            }
            index = static_cast<int32_t>(next);
            buffer = buffers[next].data();
            length = lengths[next];
            ++next;
            return true;
        },
        [&](int32_t index, void* buffer, ArchiveStatus status) {
            EXPECT_EQ(buffer, buffers[static_cast<size_t>(index)].data());
            ++calls[static_cast<size_t>(index)];
            results[static_cast<size_t>(index)] = {
                status, status == ArchiveStatus::Ok || status == ArchiveStatus::More
                            ? buffers[static_cast<size_t>(index)]
                            : std::vector<uint8_t>()};
        });
    EXPECT_EQ(s, ArchiveStatus::Ok);
    for (int c : calls) {
        EXPECT_EQ(c, 1);  // every item reported exactly once
    }
    return results;
}

TEST(InterleavedUnzipTest, GivesWhatOneCallPerItemGives) {
    std::vector<ArchiveWriterItem> items;
    const size_t sizes[] = {0, 1, 100, 16384, 16385, 70000, 250000, 33000, 5, 190000, 0, 77777};
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const uint16_t method = i % 3 == 1 ? 0 : 8;
        const bool encrypt = i % 5 != 4;
        items.push_back(Item("item" + std::to_string(i),
                             Content(sizes[i], 100 + static_cast<uint32_t>(i)), method, encrypt));
    }
    WrittenArchive a = Build(items);
    // Damage some: a wrong CRC, an encryption header cut short, a local header
    // that disagrees, a stored item shorter than stated.
    Put32At(a.bytes, a.items[5].centralHeaderOffset + 16, 0);
    Put32At(a.bytes, a.items[8].centralHeaderOffset + 20, 7);
    Put16At(a.bytes, a.items[9].localHeaderOffset + 26, 1);
    Put32At(a.bytes, a.items[7].centralHeaderOffset + 20, 1000);
    std::vector<uint32_t> exact;
    for (size_t size : sizes) {
        exact.push_back(static_cast<uint32_t>(size));
    }
    std::vector<uint32_t> short_ = exact;
    short_[6] = 1000;  // a buffer smaller than the item: More
    for (const auto& lengths : {exact, short_}) {
        const auto expected = OneByOne(a.bytes, "kdw20190304", lengths);
        EXPECT_EQ(expected[5].first, ArchiveStatus::Corrupt);
        EXPECT_EQ(expected[9].first, ArchiveStatus::InflateFailed);
        for (int lanes : {1, 2, 3, 4, 7}) {
            SCOPED_TRACE(lanes);
            const auto got = Interleaved(a.bytes, "kdw20190304", lengths, lanes);
            for (size_t i = 0; i < lengths.size(); ++i) {
                EXPECT_EQ(got[i].first, expected[i].first) << i;
                EXPECT_TRUE(got[i].second == expected[i].second) << i;
            }
        }
        // With the wrong password too.
        const auto wrong = OneByOne(a.bytes, "wrong", lengths);
        const auto wrongInterleaved = Interleaved(a.bytes, "wrong", lengths, 4);
        for (size_t i = 0; i < lengths.size(); ++i) {
            EXPECT_EQ(wrongInterleaved[i].first, wrong[i].first) << i;
        }
    }
}

TEST(InterleavedUnzipTest, RefusesBadItemsAndLeavesTheReaderUsable) {
    WrittenArchive a = Build({Item("one", Content(40000, 1)), Item("two", Bytes("two"))});
    OpenArchive archive(a.bytes);
    std::vector<uint8_t> part(100);
    ASSERT_EQ(UnzipItem(archive.reader, 0, part.data(), 100), ArchiveStatus::More);
    std::vector<std::pair<int32_t, ArchiveStatus>> seen;
    const std::vector<int32_t> order = {5, -1, 1, 1};
    size_t next = 0;
    std::vector<uint8_t> buffer(3);
    EXPECT_EQ(
        UnzipItemsInterleaved(
            archive.reader, 4,
            [&](int32_t& index, void*& out, uint32_t& length) {
                if (next == order.size()) {
                    return false;
                }
                index = order[next];
                out = next == 3 ? nullptr : buffer.data();
                length = 3;
                ++next;
                return true;
            },
            [&](int32_t index, void*, ArchiveStatus status) { seen.emplace_back(index, status); }),
        ArchiveStatus::Ok);
    // Items are reported as they end, not in the order they were handed out.
    std::sort(seen.begin(), seen.end());
    const std::vector<std::pair<int32_t, ArchiveStatus>> expected = {
        {-1, ArchiveStatus::BadArgument},
        {1, ArchiveStatus::Ok},
        {1, ArchiveStatus::BadArgument},  // no buffer
        {5, ArchiveStatus::BadArgument}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(buffer, Bytes("two"));
    // The item open before was closed: index 0 starts from its beginning.
    std::vector<uint8_t> again(100);
    ASSERT_EQ(UnzipItem(archive.reader, 0, again.data(), 100), ArchiveStatus::More);
    EXPECT_EQ(again, part);
    EXPECT_EQ(UnzipItemsInterleaved(nullptr, 4, nullptr, nullptr), ArchiveStatus::BadArgument);
}

}  // namespace
}  // namespace tde
