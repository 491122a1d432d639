// driver-archive on the command line: every subcommand's output, exit status
// and messages, and extraction that never leaves its folder.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/writer.h"
#include "support/archive_test_util.h"
#include "process_util.h"

namespace tde {
namespace {

using namespace testing_util;

const std::string kTool = TDE_DRIVER_ARCHIVE;

class ToolTest : public testing::Test {
  protected:
    void SetUp() override {
        files = MakePayload(dir / "in");
        ASSERT_EQ(RunCommand(Quote(kTool) + " pack in a.zip", dir.path()).exitCode, 0);
    }
    RunResult Tool(const std::string& arguments) {
        return RunCommand(Quote(kTool) + " " + arguments, dir.path());
    }
    void WriteArchiveFile(const std::string& name, const WrittenArchive& archive) {
        WriteText(dir / name, std::string(archive.bytes.begin(), archive.bytes.end()));
    }

    TempFolder dir{"tool"};
    std::map<std::string, std::string> files;
};

TEST_F(ToolTest, ListsSizesAndNamesSortedInCentralDirectoryOrder) {
    const RunResult r = Tool("list a.zip");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expected;
    for (const auto& [name, bytes] : files) {  // std::map: sorted by bytes
        expected += std::to_string(bytes.size()) + "\t" + name + "\n";
    }
    EXPECT_EQ(r.out, expected);
}

TEST_F(ToolTest, PacksInTheProgramsFormat) {
    const std::string image = ReadText(dir / "a.zip");
    const auto* p = reinterpret_cast<const uint8_t*>(image.data());
    auto get16 = [&](size_t at) { return p[at] | (p[at + 1] << 8); };
    auto get32 = [&](size_t at) {
        return static_cast<uint32_t>(get16(at) | (get16(at + 2) << 16));
    };
    const size_t end = image.size() - 22;
    ASSERT_EQ(get32(end), 0x06054b50u);
    EXPECT_EQ(get16(end + 20), 0);  // no archive comment
    size_t central = get32(end + 16);
    ASSERT_EQ(get16(end + 10), static_cast<int>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(get32(central), 0x02014b50u);
        EXPECT_EQ(get16(central + 8) & 0x0009, 0x0009);  // encrypted, data descriptor
        EXPECT_EQ(get16(central + 10), 8);               // deflated
        EXPECT_NE(get16(central + 14), 0);               // a DOS date
        const size_t local = get32(central + 42);
        ASSERT_EQ(get32(local), 0x04034b50u);
        EXPECT_EQ(get32(local + 14), 0u);  // CRC-32 and sizes follow the data
        EXPECT_EQ(get32(local + 18), 0u);
        EXPECT_EQ(get32(local + 22), 0u);
        const size_t descriptor =
            local + 30 + get16(local + 26) + get16(local + 28) + get32(central + 20);
        EXPECT_EQ(get32(descriptor), 0x08074b50u);
        EXPECT_EQ(get32(descriptor + 4), get32(central + 16));
        EXPECT_EQ(get32(descriptor + 8), get32(central + 20));
        EXPECT_EQ(get32(descriptor + 12), get32(central + 24));
        central += 46 + get16(central + 28) + get16(central + 30) + get16(central + 32);
    }
    // The same payload packs to the same bytes when the time is pinned.
    ASSERT_EQ(
        RunCommand("SOURCE_DATE_EPOCH=1551657600 " + Quote(kTool) + " pack in b.zip", dir.path())
            .exitCode,
        0);
    ASSERT_EQ(
        RunCommand("SOURCE_DATE_EPOCH=1551657600 " + Quote(kTool) + " pack in c.zip", dir.path())
            .exitCode,
        0);
    EXPECT_EQ(ReadText(dir / "b.zip"), ReadText(dir / "c.zip"));
}

TEST_F(ToolTest, CatFindsItemsTheWayTheProgramDoes) {
    RunResult r = Tool("cat a.zip 'DRIVER\\POS\\driver32\\znwa4uiv.DLL'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, files["driver/pos/Driver32/ZNWA4UIV.dll"]);
    r = Tool("cat a.zip driver/common/zeros.bin");
    EXPECT_EQ(r.out, files["driver/common/zeros.bin"]);
    r = Tool("cat a.zip empty.txt");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    r = Tool("cat a.zip res.xml");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err, "driver-archive: res.xml: NotFound (0x500)\n");
    r = Tool("cat a.zip one.txt --password wrong");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err == "driver-archive: one.txt: WrongPassword (0x1000)\n" ||
                r.err == "driver-archive: one.txt: InflateFailed (0x5000000)\n")
        << r.err;
}

TEST_F(ToolTest, ExtractWritesEveryItemBelowTheFolder) {
    RunResult r = Tool("extract a.zip out");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Differences(Tree(dir / "out"), files), "");
    // Again over the existing files, serially.
    r = Tool("extract a.zip out --jobs 1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Differences(Tree(dir / "out"), files), "");
}

TEST_F(ToolTest, ExtractNeverWritesOutsideTheFolder) {
    WrittenArchive hostile =
        Build({Item("../escaped.txt", Bytes("1")), Item("/tmp/../../escaped-abs.txt", Bytes("2")),
               Item("C:/escaped-drive.txt", Bytes("3")),
               Item("a/../../b/../../escaped-deep.txt", Bytes("4")), Item("ok/./..", Bytes("5")),
               Item("fine.txt", Bytes("6")), Item("FINE.TXT", Bytes("7"))});
    WriteArchiveFile("hostile.zip", hostile);
    const RunResult r = Tool("extract hostile.zip jail/inner");
    EXPECT_NE(r.exitCode, 0);  // the item named only ".." cannot be placed
    const std::map<std::string, std::string> expected = {{"escaped.txt", "1"},
                                                         {"escaped-abs.txt", "2"},
                                                         {"escaped-drive.txt", "3"},
                                                         {"escaped-deep.txt", "4"},
                                                         {"fine.txt", "6"}};
    EXPECT_EQ(Differences(Tree(dir / "jail" / "inner"), expected), "");
    // Nothing landed beside or above the folder.
    EXPECT_EQ(Tree(dir / "jail").size(), expected.size());
    EXPECT_FALSE(std::filesystem::exists(dir / "escaped.txt"));
    EXPECT_FALSE(std::filesystem::exists("/escaped-abs.txt"));
    EXPECT_NE(r.err.find("cannot be placed"), std::string::npos) << r.err;
}

TEST_F(ToolTest, ExtractDoesNotFollowSymbolicLinksOutOfTheFolder) {
    WrittenArchive archive = Build({Item("linked/escaped.txt", Bytes("1")),
                                    Item("file-link.txt", Bytes("2")), Item("ok.txt", Bytes("3"))});
    WriteArchiveFile("links.zip", archive);
    std::filesystem::create_directories(dir / "jail");
    std::filesystem::create_directories(dir / "outside");
    WriteText(dir / "outside" / "target.txt", "untouched");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "jail" / "linked");
    std::filesystem::create_symlink(dir / "outside" / "target.txt", dir / "jail" / "file-link.txt");
    const RunResult r = Tool("extract links.zip jail");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("symbolic link: linked/escaped.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("symbolic link: file-link.txt"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir / "jail" / "ok.txt"), "3");
    EXPECT_EQ(ReadText(dir / "outside" / "target.txt"), "untouched");
    EXPECT_FALSE(std::filesystem::exists(dir / "outside" / "escaped.txt"));
}

TEST_F(ToolTest, VerifyPassesSoundArchivesAndNamesTheBrokenItem) {
    RunResult r = Tool("verify a.zip");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(files.size()) + " items sound\n");

    WrittenArchive broken =
        Build({Item("good.txt", Content(5000, 1)), Item("bad.txt", Content(5000, 2))});
    Put32At(broken.bytes, broken.items[1].centralHeaderOffset + 16, 0x12345678);
    WriteArchiveFile("broken.zip", broken);
    r = Tool("verify broken.zip");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("bad.txt: Corrupt (0x700)"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("good.txt"), std::string::npos) << r.err;

    r = Tool("verify a.zip --password other");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("(0x1000)"), std::string::npos) << r.err;

    WriteText(dir / "junk.zip", "this is not an archive at all");
    r = Tool("verify junk.zip");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err, "driver-archive: junk.zip: OpenFailed (0x200)\n");
}

TEST_F(ToolTest, PackStopsWhenANeededItemIsMissing) {
    WriteText(dir / "needed.txt",
              "driver\\pos\\ZNWA4V.inf\r\nDRIVER\\POS\\Driver32\\znwa4uiv.dll\n"
              "driver\\pos\\ZNWA3V.gpd\nlan_cn.xml\n");
    const RunResult r = Tool("pack in needed.zip --require needed.txt");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err,
              "driver-archive: payload lacks a needed item: driver/pos/ZNWA3V.gpd\n"
              "driver-archive: payload lacks a needed item: lan_cn.xml\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "needed.zip"));
    WriteText(dir / "needed.txt", "driver\\pos\\ZNWA4V.inf\none.txt\n");
    EXPECT_EQ(Tool("pack in needed.zip --require needed.txt").exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "needed.zip"));
}

TEST_F(ToolTest, UsageErrors) {
    EXPECT_EQ(Tool("").exitCode, 2);
    EXPECT_EQ(Tool("frobnicate a.zip").exitCode, 2);
    EXPECT_EQ(Tool("list").exitCode, 2);
    EXPECT_EQ(Tool("list a.zip --bogus").exitCode, 2);
    EXPECT_EQ(Tool("list missing.zip").exitCode, 1);
    EXPECT_EQ(Tool("pack missing-folder x.zip").exitCode, 1);
}

}  // namespace
}  // namespace tde
