// Interoperation with the general archivers: archives that Info-ZIP zip and
// 7-Zip write with ZipCrypto are read byte for byte, and archives that
// driver-archive packs are extracted byte for byte by unzip and 7-Zip.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/names.h"
#include "support/archive_test_util.h"
#include "base/utf8.h"
#include "process_util.h"

namespace tde {
namespace {

using namespace testing_util;

const std::string kTool = TDE_DRIVER_ARCHIVE;

// Reads every file of `files` out of the archive through the reader.
void ExpectReaderSees(const std::filesystem::path& zip, const char* password,
                      const std::map<std::string, std::string>& files) {
    const std::string image = ReadText(zip);
    ASSERT_FALSE(image.empty()) << zip;
    OpenArchive archive(std::vector<uint8_t>(image.begin(), image.end()), password);
    ASSERT_EQ(archive.status, ArchiveStatus::Ok);
    for (const auto& [name, bytes] : files) {
        std::vector<uint8_t> data;
        EXPECT_EQ(archive.ReadItem(Utf8ToUtf16(name), data), ArchiveStatus::Ok) << name;
        EXPECT_TRUE(std::string(data.begin(), data.end()) == bytes) << name;
    }
    // The wrong password never gives the bytes back. These archivers write a
    // random encryption header, so the one-byte check lets about one wrong
    // password in 256 through; any clean failure is right then.
    OpenArchive wrong(std::vector<uint8_t>(image.begin(), image.end()), "not-the-password");
    for (const auto& [name, bytes] : files) {
        std::vector<uint8_t> data;
        const ArchiveStatus s = wrong.ReadItem(Utf8ToUtf16(name), data);
        // An empty item has no bytes to give; its check byte may slip past too.
        EXPECT_FALSE(ArchiveSucceeded(s) && !bytes.empty()) << name << ArchiveStatusName(s);
    }
}

TEST(InteropTest, ReadsWhatInfoZipWrites) {
    TempFolder dir("infozip");
    const auto files = MakePayload(dir / "in");
    // Deflated and stored; Info-ZIP sets flag bit 3 for encrypted items.
    ASSERT_EQ(RunCommand("zip -q -r -X -P kdw20190304 ../deflated.zip .", dir / "in").exitCode, 0);
    ASSERT_EQ(RunCommand("zip -q -r -X -0 -P kdw20190304 ../stored.zip .", dir / "in").exitCode, 0);
    // Written to a pipe: data descriptors throughout, no ZIP64 records.
    ASSERT_EQ(RunCommand("zip -q -r -X -fz- -P kdw20190304 - . | cat > ../piped.zip", dir / "in")
                  .exitCode,
              0);
    // A comment on every entry, of growing length, as "zip -c" asks for them.
    ASSERT_EQ(RunCommand("for i in $(seq 1 200); do printf 'PK\\001\\002 %0${i}d\\n' 0; done | "
                         "zip -q -r -X -c -P kdw20190304 ../commented.zip .",
                         dir / "in")
                  .exitCode,
              0);
    ExpectReaderSees(dir / "deflated.zip", "kdw20190304", files);
    ExpectReaderSees(dir / "stored.zip", "kdw20190304", files);
    ExpectReaderSees(dir / "piped.zip", "kdw20190304", files);
    ExpectReaderSees(dir / "commented.zip", "kdw20190304", files);
}

TEST(InteropTest, ReadsWhat7ZipWritesWithZipCrypto) {
    TempFolder dir("7zip");
    const auto files = MakePayload(dir / "in");
    const RunResult probe = RunCommand("7zz i", dir.path());
    if (probe.exitCode != 0) {
        GTEST_SKIP() << "7-Zip (7zz) is not installed";
    }
    // 7-Zip leaves flag bit 3 clear: the check byte is the CRC-32's high byte.
    ASSERT_EQ(
        RunCommand(
            "LC_ALL=C.UTF-8 7zz a -tzip -pkdw20190304 -mem=ZipCrypto ../deflated.zip . >/dev/null",
            dir / "in")
            .exitCode,
        0);
    ASSERT_EQ(RunCommand("LC_ALL=C.UTF-8 7zz a -tzip -mx0 -pkdw20190304 -mem=ZipCrypto "
                         "../stored.zip . >/dev/null",
                         dir / "in")
                  .exitCode,
              0);
    ExpectReaderSees(dir / "deflated.zip", "kdw20190304", files);
    ExpectReaderSees(dir / "stored.zip", "kdw20190304", files);
}

TEST(InteropTest, UnzipAnd7ZipExtractWhatDriverArchivePacks) {
    TempFolder dir("pack");
    const auto files = MakePayload(dir / "in");
    ASSERT_EQ(RunCommand(Quote(kTool) + " pack in packed.zip", dir.path()).exitCode, 0);
    // Info-ZIP checks every CRC-32 while it extracts.
    const RunResult unzip = RunCommand("unzip -q -P kdw20190304 packed.zip -d byunzip", dir.path());
    ASSERT_EQ(unzip.exitCode, 0) << unzip.err;
    EXPECT_EQ(Differences(Tree(dir / "byunzip"), files), "");
    const RunResult test = RunCommand("unzip -t -P kdw20190304 packed.zip", dir.path());
    EXPECT_EQ(test.exitCode, 0) << test.out;
    EXPECT_NE(test.out.find("No errors detected"), std::string::npos);
    if (RunCommand("7zz i", dir.path()).exitCode == 0) {
        ASSERT_EQ(RunCommand("LC_ALL=C.UTF-8 7zz x -pkdw20190304 -oby7zip packed.zip >/dev/null",
                             dir.path())
                      .exitCode,
                  0);
        EXPECT_EQ(Differences(Tree(dir / "by7zip"), files), "");
    }
    // A wrong password is refused by unzip too.
    EXPECT_NE(RunCommand("unzip -q -P wrong packed.zip -d refused", dir.path()).exitCode, 0);
}

}  // namespace
}  // namespace tde

namespace tde {
namespace {

// The same wrong passwords over archives kept from 7-Zip and Info-ZIP: one
// that the check byte refuses and one that slips past it, which the item's
// CRC-32 (stored) or the inflater (deflated) must then refuse.
TEST(InteropTest, WrongPasswordFailsWhetherOrNotTheCheckBytePasses) {
    struct Case {
        const char* file;
        const char16_t* item;
        const char* password;
        ArchiveStatus expected;
    };
    const Case cases[] = {
        {"7zip-zipcrypto.zip", u"driver/pos/noise.bin", "wrong0", ArchiveStatus::WrongPassword},
        {"7zip-zipcrypto.zip", u"driver/pos/noise.bin", "wrong34", ArchiveStatus::Corrupt},
        {"7zip-zipcrypto.zip", u"driver/pos/ZNWA4V.inf", "wrong0", ArchiveStatus::WrongPassword},
        {"7zip-zipcrypto.zip", u"driver/pos/ZNWA4V.inf", "wrong160", ArchiveStatus::InflateFailed},
        {"infozip-stored.zip", u"driver/pos/noise.bin", "wrong0", ArchiveStatus::WrongPassword},
        {"infozip-stored.zip", u"driver/pos/noise.bin", "wrong1058", ArchiveStatus::Corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.password);
        const std::string image =
            testing_util::ReadText(std::filesystem::path(TDE_ARCHIVE_CORPUS) / c.file);
        ASSERT_FALSE(image.empty());
        testing_util::OpenArchive right(std::vector<uint8_t>(image.begin(), image.end()));
        std::vector<uint8_t> good;
        ASSERT_EQ(right.ReadItem(c.item, good), ArchiveStatus::Ok);
        testing_util::OpenArchive wrong(std::vector<uint8_t>(image.begin(), image.end()),
                                        c.password);
        std::vector<uint8_t> data;
        EXPECT_EQ(wrong.ReadItem(c.item, data), c.expected);
        EXPECT_NE(data, good);
    }
}

// The small archives kept as fuzz seeds: the sound ones read in full, each
// broken one fails where it is broken and nowhere else.
TEST(InteropTest, KeptArchivesGetTheirVerdicts) {
    struct Verdict {
        const char* file;
        ArchiveStatus open;
        int unsound;  // items whose full read does not give Ok
    };
    const Verdict verdicts[] = {
        {"packed.zip", ArchiveStatus::Ok, 0},
        {"infozip.zip", ArchiveStatus::Ok, 0},
        {"infozip-stored.zip", ArchiveStatus::Ok, 0},
        {"plain.zip", ArchiveStatus::Ok, 0},
        {"7zip-zipcrypto.zip", ArchiveStatus::Ok, 0},
        {"prefixed.zip", ArchiveStatus::Ok, 0},
        {"comment.zip", ArchiveStatus::Ok, 0},
        {"entry-comments.zip", ArchiveStatus::Ok, 0},
        {"item-name-climbing-out.zip", ArchiveStatus::Ok, 0},
        {"item-name-dot-dot.zip", ArchiveStatus::Ok, 0},
        {"end-record-in-comment.zip", ArchiveStatus::OpenFailed, 0},
        {"truncated-central-directory.zip", ArchiveStatus::Ok, 3},
        {"name-length-past-end.zip", ArchiveStatus::Ok, 1},
        {"short-encryption-header.zip", ArchiveStatus::Ok, 1},
        {"stored-item-shorter-than-stated.zip", ArchiveStatus::Ok, 1},
        {"size-that-lies.zip", ArchiveStatus::Ok, 1},
    };
    for (const Verdict& v : verdicts) {
        SCOPED_TRACE(v.file);
        const std::string image =
            testing_util::ReadText(std::filesystem::path(TDE_ARCHIVE_CORPUS) / v.file);
        ASSERT_FALSE(image.empty());
        testing_util::OpenArchive archive(std::vector<uint8_t>(image.begin(), image.end()));
        ASSERT_EQ(archive.status, v.open);
        if (archive.status != ArchiveStatus::Ok) {
            continue;
        }
        int unsound = 0;
        for (uint32_t i = 0; i < ItemCount(archive.reader); ++i) {
            ArchiveItemInfo info;
            ArchiveStatus s = DescribeItem(archive.reader, static_cast<int32_t>(i), info);
            if (s == ArchiveStatus::Ok) {
                std::vector<uint8_t> data(info.uncompressedSize);
                s = UnzipItem(archive.reader, static_cast<int32_t>(i), data.data(),
                              info.uncompressedSize);
            }
            unsound += s == ArchiveStatus::Ok ? 0 : 1;
        }
        EXPECT_EQ(unsound, v.unsound);
    }
}

}  // namespace
}  // namespace tde
