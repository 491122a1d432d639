// Extraction of one item through the registered archive.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/platform.h"
#include "support/archive_test_util.h"
#include "base/utf8.h"

namespace tde {
namespace {

using namespace testing_util;

class ExtractTest : public testing::Test {
  protected:
    void SetUp() override {
        CUiResources::ResetAll();
        SetResourcePlatform(&platform);
        archive = Build({Item("driver/pos/Driver32/ZNWA4UIV.dll", Content(70000, 1)),
                         Item("driver/pos/empty.txt", {}),
                         Item("driver/pos/huge.bin", Content(MaxResourceFileSize + 1, 2)),
                         Item("driver/pos/wrong.bin", Content(900, 3))});
        // A wrong CRC: the unzip fails at the item's last byte.
        Put32At(archive.bytes, archive.items[3].centralHeaderOffset + 16, 0);
        CUiResources::SetResourceSource(ResourceSource::ArchiveInModule);
        CUiResources::RegisterArchiveImage(
            archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()), kArchivePassword);
    }
    void TearDown() override {
        CUiResources::ResetAll();
        SetResourcePlatform(nullptr);
    }

    MemoryResourcePlatform platform;
    WrittenArchive archive;
    std::string error;
    const std::u16string staging = u"C:\\ZNWDriver\\DovEzuvar\\Driver32\\";
};

TEST_F(ExtractTest, WritesTheItemUnderTheFileNameOfThePath) {
    std::u16string dependent = u"prev";
    ASSERT_TRUE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", staging, dependent));
    EXPECT_EQ(dependent, u"prevZNWA4UIV.dll");
    EXPECT_EQ(platform.files[staging + u"ZNWA4UIV.dll"], Content(70000, 1));
    // Letter case of the path wins over the stored name's; extracting twice
    // leaves one file with the item's bytes.
    ASSERT_TRUE(ExtractArchiveItem(u"DRIVER\\pos\\driver32\\znwa4uiv.DLL", staging, dependent));
    ASSERT_TRUE(ExtractArchiveItem(u"DRIVER\\pos\\driver32\\znwa4uiv.DLL", staging, dependent));
    EXPECT_EQ(dependent, u"prevZNWA4UIV.dllznwa4uiv.DLLznwa4uiv.DLL");
    EXPECT_EQ(platform.files[staging + u"znwa4uiv.DLL"], Content(70000, 1));
    // Each made new, the one of the same name deleted first, owned by Administrators.
    using C = MemoryResourcePlatform::Creation;
    EXPECT_EQ(platform.creations, (std::vector<C>{{staging + u"ZNWA4UIV.dll", u"O:BA", false},
                                                  {staging + u"znwa4uiv.DLL", u"O:BA", false},
                                                  {staging + u"znwa4uiv.DLL", u"O:BA", true}}));
}

TEST_F(ExtractTest, EveryFailureIsFalseAndTheNameIsStillRecorded) {
    std::u16string dependent;
    EXPECT_FALSE(ExtractArchiveItem(u"ZNWA4UIV.dll", staging, dependent));
    EXPECT_TRUE(dependent.empty());  // no backslash: nothing recorded
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\missing.dll", staging, dependent));
    EXPECT_EQ(dependent, u"missing.dll");
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\empty.txt", staging, dependent));
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\huge.bin", staging, dependent));
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\wrong.bin", staging, dependent));
    EXPECT_EQ(dependent, u"missing.dllempty.txthuge.binwrong.bin");
    EXPECT_EQ(platform.files.count(staging + u"wrong.bin"), 0u);
    EXPECT_EQ(platform.files.count(staging + u"huge.bin"), 0u);
    // A failing write.
    platform.unopenable.push_back(staging + u"ZNWA4UIV.dll");
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", staging, dependent));
}

TEST_F(ExtractTest, NeedsTheArchiveSourceAndAnOpenArchive) {
    std::u16string dependent;
    CUiResources::SetResourceSource(ResourceSource::Folder);
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", staging, dependent));
    EXPECT_EQ(dependent, u"ZNWA4UIV.dll");
    CUiResources::SetResourceSource(ResourceSource::ArchiveInModule);
    ReleaseResources();
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", staging, dependent));
    EXPECT_TRUE(platform.files.empty());
}

// Stored names that climb out of the folder or name no plain file: each item
// exists and reads, yet none is written, and its last part is still recorded.
TEST_F(ExtractTest, ALastPartThatIsNoPlainFileNameIsRefused) {
    const char* const stored[] = {"driver/../../ZA4V.inf", "driver/pos/nois/e/..",
                                  "driver/pos/.",          "driver/pos/. .",
                                  "driver/a:stream",       "driver/C:evil.dll"};
    std::vector<ArchiveWriterItem> items;
    for (const char* name : stored) {
        items.push_back(Item(name, Content(300, 4)));
    }
    CUiResources::ResetAll();
    archive = Build(items);
    CUiResources::SetResourceSource(ResourceSource::ArchiveInModule);
    CUiResources::RegisterArchiveImage(
        archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()), kArchivePassword);
    const std::u16string paths[] = {u"driver\\../../ZA4V.inf", u"driver\\pos\\nois\\e\\..",
                                    u"driver\\pos\\.",         u"driver\\pos\\. .",
                                    u"driver\\a:stream",       u"driver\\C:evil.dll"};
    for (const std::u16string& path : paths) {
        SCOPED_TRACE(Utf16ToUtf8(path));
        std::vector<uint8_t> data;
        ASSERT_TRUE(FetchResourceFile(path, data, error));  // the item is there and sound
        std::u16string dependent;
        EXPECT_FALSE(ExtractArchiveItem(path, staging, dependent));
        EXPECT_EQ(dependent, path.substr(path.rfind(u'\\') + 1));
        EXPECT_TRUE(platform.files.empty());
    }
}

TEST_F(ExtractTest, AShortWriteIsAFailure) {
    platform.writeLimit = 100;
    std::u16string dependent;
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", staging, dependent));
    // The partly written file stays.
    EXPECT_EQ(platform.files[staging + u"ZNWA4UIV.dll"].size(), 100u);
    EXPECT_FALSE(WriteBufferToFile(u"x",
                                   "0123456789ABCDEF0123456789ABCDEF"
                                   "0123456789ABCDEF0123456789ABCDEF"
                                   "0123456789ABCDEF0123456789ABCDEF0123",
                                   101));
}

// The system platform against the real file system (under Wine: CreateFileW).
TEST(WriteBufferToFileTest, CreatesOrTruncatesAndFailsForAMissingFolder) {
    SetResourcePlatform(nullptr);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "tde-archive-write-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::u16string file = (dir / "out.bin").u16string();
    const std::vector<uint8_t> first = Content(5000, 5);
    ASSERT_TRUE(WriteBufferToFile(file, first.data(), static_cast<uint32_t>(first.size())));
    ASSERT_TRUE(WriteBufferToFile(file, "abc", 3));
    std::ifstream in(dir / "out.bin", std::ios::binary);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, "abc");
    in.close();
    // A second name of another file is replaced, never written through.
    std::ofstream(dir / "other.bin") << "keep";
    std::filesystem::remove(dir / "out.bin");
    std::filesystem::create_hard_link(dir / "other.bin", dir / "out.bin");
    ASSERT_TRUE(WriteBufferToFile(file, "abc", 3));
    std::ifstream other(dir / "other.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "keep");
    other.close();
    EXPECT_FALSE(WriteBufferToFile((dir / "missing" / "out.bin").u16string(), "abc", 3));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tde
