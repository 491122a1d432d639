// Malformed archives: every one gets a clear status, and nothing reads outside
// the image (each image is allocated to its exact size, so the sanitizer build
// catches any stray read), crashes or loops.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "support/archive_test_util.h"

namespace tde {
namespace {

using namespace testing_util;

// Opens the image and, when it opens, tries every item by index and by name;
// returns the status of the open.
ArchiveStatus Exercise(const std::vector<uint8_t>& image, std::vector<ArchiveStatus>* unzips) {
    OpenArchive archive(image);
    if (archive.status != ArchiveStatus::Ok) {
        return archive.status;
    }
    const uint32_t count = ItemCount(archive.reader);
    for (uint32_t i = 0; i <= count; ++i) {
        ArchiveItemInfo info;
        const ArchiveStatus d = DescribeItem(archive.reader, static_cast<int32_t>(i), info);
        std::vector<uint8_t> buffer(
            d == ArchiveStatus::Ok ? std::min<uint32_t>(info.uncompressedSize, 1 << 20) : 64);
        const ArchiveStatus u = UnzipItem(archive.reader, static_cast<int32_t>(i), buffer.data(),
                                          static_cast<uint32_t>(buffer.size()));
        if (unzips != nullptr) {
            unzips->push_back(u);
        }
        std::string stored;
        if (StoredItemName(archive.reader, static_cast<int32_t>(i), stored) == ArchiveStatus::Ok) {
            int32_t index = -1;
            FindItem(archive.reader, std::u16string(stored.begin(), stored.end()), true, index,
                     &info);
        }
    }
    return ArchiveStatus::Ok;
}

class MalformedArchiveTest : public testing::Test {
  protected:
    void SetUp() override {
        archive =
            Build({Item("first.txt", Content(30000, 1)), Item("second.bin", Content(2000, 2), 0),
                   Item("third.txt", Bytes("third"))});
    }
    WrittenArchive archive;
    std::vector<uint8_t>& bytes() { return archive.bytes; }
    size_t Central(int item) const { return archive.items[item].centralHeaderOffset; }
    size_t Local(int item) const { return archive.items[item].localHeaderOffset; }

    ArchiveStatus Read(const std::u16string& name) {
        OpenArchive a(archive.bytes);
        EXPECT_EQ(a.status, ArchiveStatus::Ok);
        std::vector<uint8_t> data;
        return a.ReadItem(name, data);
    }
};

TEST_F(MalformedArchiveTest, TruncatedImageAtEveryLength) {
    for (size_t length = 0; length < bytes().size(); ++length) {
        std::vector<uint8_t> cut(bytes().begin(), bytes().begin() + length);
        // Cut anywhere, the end record is gone or incomplete.
        EXPECT_EQ(Exercise(cut, nullptr), ArchiveStatus::OpenFailed) << length;
    }
}

TEST_F(MalformedArchiveTest, TruncatedDataBeforeAnIntactCentralDirectory) {
    // Drop the tail of the first item's data: every offset after it lies by 5000.
    std::vector<uint8_t> image(bytes().begin(), bytes().begin() + Local(1) - 5000);
    image.insert(image.end(), bytes().begin() + Local(1), bytes().end());
    std::vector<ArchiveStatus> unzips;
    // The end record now says the archive starts 5000 bytes before the image.
    EXPECT_EQ(Exercise(image, &unzips), ArchiveStatus::OpenFailed);
}

TEST_F(MalformedArchiveTest, TruncatedCentralDirectory) {
    // The end record claims 3 entries, but only the first is left.
    std::vector<uint8_t> image(bytes().begin(), bytes().begin() + Central(1));
    image.insert(image.end(), bytes().begin() + archive.endRecordOffset, bytes().end());
    const uint32_t size = static_cast<uint32_t>(Central(1) - archive.centralOffset);
    Put32At(image, image.size() - 22 + 12, size);
    OpenArchive a(image);
    ASSERT_EQ(a.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(a.ReadItem(u"first.txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(a.ReadItem(u"third.txt", data), ArchiveStatus::NotFound);
    ArchiveItemInfo info;
    EXPECT_EQ(DescribeItem(a.reader, 2, info), ArchiveStatus::Corrupt);
    EXPECT_EQ(UnzipItem(a.reader, 2, data.data(), 1), ArchiveStatus::InflateFailed);
    // A failed walk does not block later lookups.
    EXPECT_EQ(a.ReadItem(u"first.txt", data), ArchiveStatus::Ok);
}

TEST_F(MalformedArchiveTest, CentralDirectoryOffsetThatLies) {
    Put32At(bytes(), archive.endRecordOffset + 16, archive.endRecordOffset + 100);
    EXPECT_EQ(Exercise(bytes(), nullptr), ArchiveStatus::OpenFailed);
    SetUp();
    Put32At(bytes(), archive.endRecordOffset + 16, 0xFFFFFFF0u);
    EXPECT_EQ(Exercise(bytes(), nullptr), ArchiveStatus::OpenFailed);
    SetUp();
    // Smaller size and offset that still add up: the archive seems to start
    // later, every entry read misses its signature.
    Put32At(bytes(), archive.endRecordOffset + 12, 10);
    Put32At(bytes(), archive.endRecordOffset + 16, 10);
    OpenArchive a(bytes());
    ASSERT_EQ(a.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(a.ReadItem(u"first.txt", data), ArchiveStatus::NotFound);
}

TEST_F(MalformedArchiveTest, EntryCountsThatLie) {
    // More entries than there are: the walk ends at the end record.
    Put16At(bytes(), archive.endRecordOffset + 8, 9);
    Put16At(bytes(), archive.endRecordOffset + 10, 9);
    std::vector<ArchiveStatus> unzips;
    EXPECT_EQ(Exercise(bytes(), &unzips), ArchiveStatus::Ok);
    EXPECT_EQ(unzips[0], ArchiveStatus::Ok);
    EXPECT_EQ(unzips[3], ArchiveStatus::InflateFailed);
    EXPECT_EQ(unzips[9], ArchiveStatus::BadArgument);
    EXPECT_EQ(Read(u"missing"), ArchiveStatus::NotFound);
    // Disk counts that differ.
    SetUp();
    Put16At(bytes(), archive.endRecordOffset + 8, 2);
    EXPECT_EQ(Exercise(bytes(), nullptr), ArchiveStatus::OpenFailed);
    SetUp();
    Put16At(bytes(), archive.endRecordOffset + 4, 1);
    EXPECT_EQ(Exercise(bytes(), nullptr), ArchiveStatus::OpenFailed);
}

TEST_F(MalformedArchiveTest, NoEntriesOpensButFindsNothing) {
    WrittenArchive empty = Build({});
    OpenArchive a(empty.bytes);
    ASSERT_EQ(a.status, ArchiveStatus::Ok);
    EXPECT_EQ(ItemCount(a.reader), 0u);
    std::vector<uint8_t> data;
    EXPECT_EQ(a.ReadItem(u"", data), ArchiveStatus::NotFound);
    EXPECT_EQ(UnzipItem(a.reader, 0, nullptr, 0), ArchiveStatus::BadArgument);
}

TEST_F(MalformedArchiveTest, SizesThatLie) {
    std::vector<uint8_t> data;
    // Uncompressed size larger than the stream: the stream ends early.
    Put32At(bytes(), Central(0) + 24, 30001);
    EXPECT_EQ(Read(u"first.txt"), ArchiveStatus::Corrupt);
    // Smaller: the item stops short of its end and the CRC-32 cannot match.
    SetUp();
    Put32At(bytes(), Central(0) + 24, 29999);
    EXPECT_EQ(Read(u"first.txt"), ArchiveStatus::Corrupt);
    // Compressed size shorter than the stream: the input runs out.
    SetUp();
    Put32At(bytes(), Central(0) + 20, archive.items[0].dataLength - 100);
    EXPECT_EQ(Read(u"first.txt"), ArchiveStatus::InflateFailed);
    // Compressed size running past the image's end.
    SetUp();
    Put32At(bytes(), Central(2) + 20, 0xFFFFFF00u);
    const ArchiveStatus s = Read(u"third.txt");
    EXPECT_TRUE(s == ArchiveStatus::Ok || s == ArchiveStatus::InflateFailed) << static_cast<int>(s);
    // Without bit 3 the local header's sizes must match the central directory's.
    SetUp();
    Put16At(bytes(), Local(0) + 6, 0x0001);
    EXPECT_EQ(Read(u"first.txt"), ArchiveStatus::Corrupt);
}

TEST_F(MalformedArchiveTest, LocalHeaderOffsetsThatLie) {
    for (uint32_t offset : {0xFFFFFFF0u, 7u, static_cast<uint32_t>(Local(1) + 1),
                            static_cast<uint32_t>(bytes().size() - 10)}) {
        SetUp();
        Put32At(bytes(), Central(1) + 42, offset);
        EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::Corrupt) << offset;
        OpenArchive a(bytes());
        std::vector<uint8_t> data(2000);
        EXPECT_EQ(UnzipItem(a.reader, 1, data.data(), 2000), ArchiveStatus::InflateFailed);
        EXPECT_EQ(a.ReadItem(u"third.txt", data), ArchiveStatus::Ok);
    }
    // Pointing at another item's header: the name lengths differ.
    SetUp();
    Put32At(bytes(), Central(1) + 42, static_cast<uint32_t>(Local(0)));
    EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::Corrupt);
}

TEST_F(MalformedArchiveTest, LocalHeaderThatDisagrees) {
    Put16At(bytes(), Local(1) + 8, 8);  // method
    EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::Corrupt);
    SetUp();
    Put16At(bytes(), Local(1) + 26, 11);  // name length
    EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::Corrupt);
    SetUp();
    Put32At(bytes(), Local(1), 0x04034b51);  // signature
    EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::Corrupt);
}

TEST_F(MalformedArchiveTest, LocalExtraFieldPastTheEnd) {
    // The last item's local header claims an extra field longer than the rest.
    Put16At(bytes(), Local(2) + 28, 0xFFFF);
    OpenArchive a(bytes());
    int32_t index = -1;
    ArchiveItemInfo info;
    EXPECT_EQ(FindItem(a.reader, u"third.txt", true, index, &info), ArchiveStatus::ReadFailed);
    EXPECT_EQ(index, 2);
    std::vector<uint8_t> data(5);
    EXPECT_EQ(UnzipItem(a.reader, 2, data.data(), 5), ArchiveStatus::InflateFailed);
}

TEST_F(MalformedArchiveTest, NameLengthPastTheEnd) {
    Put16At(bytes(), Central(2) + 28, 0xFFFF);
    OpenArchive a(bytes());
    ASSERT_EQ(a.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(a.ReadItem(u"third.txt", data), ArchiveStatus::NotFound);
    ArchiveItemInfo info;
    EXPECT_EQ(DescribeItem(a.reader, 2, info), ArchiveStatus::Corrupt);
    std::string stored;
    EXPECT_EQ(StoredItemName(a.reader, 2, stored), ArchiveStatus::Corrupt);
    EXPECT_EQ(a.ReadItem(u"first.txt", data), ArchiveStatus::Ok);
    // Extra and comment lengths past the end only derail the walk after it.
    SetUp();
    Put16At(bytes(), Central(0) + 30, 0xFFFF);
    OpenArchive b(bytes());
    EXPECT_EQ(b.ReadItem(u"first.txt", data), ArchiveStatus::Ok);
    EXPECT_EQ(b.ReadItem(u"second.bin", data), ArchiveStatus::NotFound);
}

TEST_F(MalformedArchiveTest, EndRecordFoundInsideAComment) {
    // A comment that carries a false end record: it is the one nearest the end,
    // and it says the central directory is on another disk.
    std::string fake =
        std::string("PK\x05\x06", 4) + std::string("\x01\x00", 2) + std::string(16, '\0');
    WrittenArchive a = Build({Item("x", Bytes("x"))}, "kdw20190304", "note " + fake);
    EXPECT_EQ(Exercise(a.bytes, nullptr), ArchiveStatus::OpenFailed);
    // A false record of an empty archive opens, but finds nothing.
    fake = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    WrittenArchive b = Build({Item("x", Bytes("x"))}, "kdw20190304", "note " + fake);
    OpenArchive opened(b.bytes);
    ASSERT_EQ(opened.status, ArchiveStatus::Ok);
    std::vector<uint8_t> data;
    EXPECT_EQ(opened.ReadItem(u"x", data), ArchiveStatus::NotFound);
    // Only the signature, cut off by the image's end.
    WrittenArchive c = Build({Item("x", Bytes("x"))}, "kdw20190304", "PK\x05\x06tail");
    EXPECT_EQ(Exercise(c.bytes, nullptr), ArchiveStatus::OpenFailed);
}

TEST_F(MalformedArchiveTest, EncryptionHeaderShorterThan12Bytes) {
    for (uint16_t method : {uint16_t{0}, uint16_t{8}}) {
        for (uint32_t size : {0u, 1u, 11u}) {
            WrittenArchive a = Build({Item("short", Bytes("content"), method)});
            Put32At(a.bytes, a.items[0].centralHeaderOffset + 20, size);
            OpenArchive opened(a.bytes);
            std::vector<uint8_t> data;
            EXPECT_EQ(opened.ReadItem(u"short", data), ArchiveStatus::InflateFailed)
                << method << " " << size;
        }
    }
}

TEST_F(MalformedArchiveTest, StoredItemShorterThanStated) {
    // 12 header bytes + 2000 stated, fewer present.
    Put32At(bytes(), Central(1) + 20, 12 + 1500);
    EXPECT_EQ(Read(u"second.bin"), ArchiveStatus::InflateFailed);
    // Unencrypted too.
    WrittenArchive plain = Build({Item("plain", Content(3000, 3), 0, false)});
    Put32At(plain.bytes, plain.items[0].centralHeaderOffset + 20, 2999);
    OpenArchive a(plain.bytes);
    std::vector<uint8_t> data;
    EXPECT_EQ(a.ReadItem(u"plain", data), ArchiveStatus::InflateFailed);
}

TEST_F(MalformedArchiveTest, CorruptedDataNeverComesOutAsGood) {
    // Flip bytes throughout the first item's data: each read fails one way or
    // another, never Ok.
    for (uint32_t at = 12; at < archive.items[0].dataLength; at += 997) {
        SetUp();
        bytes()[archive.items[0].dataOffset + at] ^= 0x5A;
        const ArchiveStatus s = Read(u"first.txt");
        EXPECT_TRUE(s == ArchiveStatus::InflateFailed || s == ArchiveStatus::Corrupt)
            << at << ": " << ArchiveStatusName(s);
    }
}

TEST_F(MalformedArchiveTest, NamesWithDrivePrefixesAndParentParts) {
    WrittenArchive a =
        Build({Item("C:/Windows/System32/evil.dll", Bytes("1")),
               Item("../../../../tmp/evil.sh", Bytes("2")), Item("/absolute/evil", Bytes("3")),
               Item("ok/..\\..\\sneaky.txt", Bytes("4"))});
    OpenArchive opened(a.bytes);
    const char16_t* expected[] = {u"Windows/System32/evil.dll", u"tmp/evil.sh", u"absolute/evil",
                                  u"sneaky.txt"};
    for (int i = 0; i < 4; ++i) {
        ArchiveItemInfo info;
        ASSERT_EQ(DescribeItem(opened.reader, i, info), ArchiveStatus::Ok);
        EXPECT_EQ(std::u16string(info.name), expected[i]);
    }
}

TEST_F(MalformedArchiveTest, LongStoredNamesAreCutToTheInfoCapacity) {
    const std::string name(300, 'n');
    WrittenArchive a = Build({Item(name, Bytes("x"))});
    OpenArchive opened(a.bytes);
    ArchiveItemInfo info;
    ASSERT_EQ(DescribeItem(opened.reader, 0, info), ArchiveStatus::Ok);
    EXPECT_EQ(std::u16string(info.name), std::u16string(259, u'n'));
    // Too long to look up.
    std::vector<uint8_t> data;
    EXPECT_EQ(opened.ReadItem(std::u16string(300, u'n'), data), ArchiveStatus::NotFound);
}

}  // namespace
}  // namespace tde
