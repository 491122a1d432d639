// Resource settings, registration of an archive image and the fetch of named
// resource files, over the in-memory platform and over the real file system.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/platform.h"
#include "support/archive_test_util.h"

namespace tde {
namespace {

using namespace testing_util;

class ResourcesTest : public testing::Test {
  protected:
    void SetUp() override {
        CUiResources::ResetAll();
        SetResourcePlatform(&platform);
    }
    void TearDown() override {
        CUiResources::ResetAll();
        SetResourcePlatform(nullptr);
    }

    WrittenArchive ProgramArchive() {
        return Build({Item("lan_cn.xml", Bytes("<Language>cn</Language>")),
                      Item("lan_en.xml", Bytes("<Language>en</Language>")),
                      Item("driver/pos/ZNWA4V.inf", Bytes("[Version]")), Item("empty.txt", {}),
                      Item("big/exact.bin", Content(MaxResourceFileSize, 1)),
                      Item("big/over.bin", Content(MaxResourceFileSize + 1, 2))});
    }

    MemoryResourcePlatform platform;
    ModuleHandle module = reinterpret_cast<ModuleHandle>(0x400000);
};

TEST_F(ResourcesTest, SettingsStartEmptyAndStoreWhatTheyAreGiven) {
    EXPECT_EQ(CUiResources::GetResourceModule(), nullptr);
    EXPECT_TRUE(CUiResources::GetProgramFolder().empty());
    EXPECT_EQ(CUiResources::GetResourceSource(), ResourceSource::Folder);
    EXPECT_TRUE(CUiResources::GetResourceFolder().empty());
    EXPECT_TRUE(CUiResources::GetArchiveName().empty());
    EXPECT_EQ(CUiResources::GetArchiveHandle(), nullptr);
    EXPECT_TRUE(CUiResources::IsArchiveKeptOpen());

    CUiResources::SetResourceFolder(u"skin");
    EXPECT_EQ(CUiResources::GetResourceFolder(), u"skin\\");
    CUiResources::SetResourceFolder(u"C:\\x\\");
    EXPECT_EQ(CUiResources::GetResourceFolder(), u"C:\\x\\");
    CUiResources::SetResourceFolder(u"/x/");
    EXPECT_EQ(CUiResources::GetResourceFolder(), u"/x/");
    CUiResources::SetResourceFolder(u"");
    EXPECT_EQ(CUiResources::GetResourceFolder(), u"");

    platform.modulePaths[module] = u"C:\\Program Files\\ZNW\\TarnDovEzuvar.exe";
    CUiResources::SetModuleInstance(module);
    EXPECT_EQ(CUiResources::GetResourceModule(), module);
    EXPECT_EQ(CUiResources::GetProgramFolder(), u"C:\\Program Files\\ZNW\\");
    platform.modulePaths[module] = u"NoFolder.exe";
    EXPECT_EQ(CUiResources::GetProgramFolder(), u"NoFolder.exe");
}

TEST_F(ResourcesTest, RegisterEmbeddedArchiveCopiesTheResourceAndKeepsAReaderOpen) {
    platform.modulePaths[module] = u"C:\\Apps\\TarnDovEzuvar.exe";
    platform.moduleResources[module] = ProgramArchive().bytes;
    CUiResources::SetModuleInstance(module);
    ASSERT_TRUE(RegisterEmbeddedArchive());
    EXPECT_EQ(CUiResources::GetResourceSource(), ResourceSource::ArchiveInModule);
    EXPECT_EQ(CUiResources::GetResourceFolder(), u"C:\\Apps\\skin\\TarnDovEzuvar\\");
    EXPECT_EQ(CUiResources::GetArchiveName(), u"membuffer");
    EXPECT_EQ(CUiResources::GetArchivePassword(), u"kdw20190304");
    EXPECT_NE(CUiResources::GetArchiveHandle(), nullptr);

    // The resource memory is not used after registration.
    platform.moduleResources[module].assign(platform.moduleResources[module].size(), 0);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(FetchResourceFile(u"LAN_CN.XML", bytes, error)) << error;
    EXPECT_EQ(bytes, Bytes("<Language>cn</Language>"));
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(FetchResourceFile(u"driver\\pos\\ZNWA4V.inf", bytes, error)) << error;
    EXPECT_EQ(bytes, Bytes("[Version]"));
    // Repeated fetches through the same reader.
    ASSERT_TRUE(FetchResourceFile(u"lan_en.xml", bytes, error));
    EXPECT_EQ(bytes, Bytes("<Language>en</Language>"));

    ReleaseResources();
    EXPECT_EQ(CUiResources::GetArchiveHandle(), nullptr);
    EXPECT_EQ(CUiResources::GetArchiveName(), u"membuffer");  // strings stay
    EXPECT_FALSE(FetchResourceFile(u"lan_en.xml", bytes, error));
    EXPECT_EQ(error, "Error opening zip file");
}

TEST_F(ResourcesTest, FetchFailuresCarryTheirExactTexts) {
    WrittenArchive a = ProgramArchive();
    CUiResources::RegisterArchiveImage(a.bytes.data(), static_cast<uint32_t>(a.bytes.size()),
                                       kArchivePassword);
    std::vector<uint8_t> bytes = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(FetchResourceFile(u"res.xml", bytes, error));
    EXPECT_EQ(error, "Could not find ziped file");
    EXPECT_TRUE(bytes.empty());
    // No leading separator is removed.
    EXPECT_FALSE(FetchResourceFile(u"\\lan_cn.xml", bytes, error));
    EXPECT_EQ(error, "Could not find ziped file");
    EXPECT_FALSE(FetchResourceFile(u"empty.txt", bytes, error));
    EXPECT_EQ(error, "File is empty");
    EXPECT_FALSE(FetchResourceFile(u"big\\over.bin", bytes, error));
    EXPECT_EQ(error, "File too large");
    ASSERT_TRUE(FetchResourceFile(u"big\\exact.bin", bytes, error)) << error;
    EXPECT_EQ(bytes, Content(MaxResourceFileSize, 1));
}

TEST_F(ResourcesTest, FetchFailsToUnzipWithTheWrongPassword) {
    WrittenArchive a = Build({Item("lan_cn.xml", Content(5000, 3))}, "other");
    CUiResources::RegisterArchiveImage(a.bytes.data(), static_cast<uint32_t>(a.bytes.size()),
                                       u"kdw20190304");
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(FetchResourceFile(u"lan_cn.xml", bytes, error));
    EXPECT_EQ(error, "Could not unzip file");
}

TEST_F(ResourcesTest, ASecondRegistrationChangesNothing) {
    WrittenArchive first = Build({Item("lan_cn.xml", Bytes("first"))}, "one");
    WrittenArchive second = Build({Item("lan_cn.xml", Bytes("second"))}, "two");
    CUiResources::RegisterArchiveImage(first.bytes.data(),
                                       static_cast<uint32_t>(first.bytes.size()), u"one");
    ArchiveReader* reader = CUiResources::GetArchiveHandle();
    CUiResources::RegisterArchiveImage(second.bytes.data(),
                                       static_cast<uint32_t>(second.bytes.size()), u"two");
    EXPECT_EQ(CUiResources::GetArchiveHandle(), reader);
    EXPECT_EQ(CUiResources::GetArchivePassword(), u"one");
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(FetchResourceFile(u"lan_cn.xml", bytes, error));
    EXPECT_EQ(bytes, Bytes("first"));
}

TEST_F(ResourcesTest, AnImageThatIsNotAnArchiveRegistersWithoutAReader) {
    const std::vector<uint8_t> junk = Content(1000, 4);
    CUiResources::RegisterArchiveImage(junk.data(), static_cast<uint32_t>(junk.size()), u"pw");
    EXPECT_EQ(CUiResources::GetArchiveName(), u"membuffer");
    EXPECT_EQ(CUiResources::GetArchiveHandle(), nullptr);
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(FetchResourceFile(u"lan_cn.xml", bytes, error));
    EXPECT_EQ(error, "Error opening zip file");
}

TEST_F(ResourcesTest, WithoutTheResourceStartUpGoesOnAndFilesComeFromDisk) {
    platform.modulePaths[module] = u"C:\\Apps\\TarnDovEzuvar.exe";
    CUiResources::SetModuleInstance(module);
    EXPECT_FALSE(RegisterEmbeddedArchive());
    EXPECT_TRUE(CUiResources::GetArchiveName().empty());
    EXPECT_EQ(CUiResources::GetResourceSource(), ResourceSource::ArchiveInModule);
    // An empty resource counts as missing.
    platform.moduleResources[module] = {};
    EXPECT_FALSE(RegisterEmbeddedArchive());
    EXPECT_TRUE(CUiResources::GetArchiveName().empty());

    const std::u16string folder = u"C:\\Apps\\skin\\TarnDovEzuvar\\";
    platform.files[folder + u"lan_en.xml"] = Bytes("<Language/>");
    platform.files[folder + u"empty.xml"] = {};
    platform.files[folder + u"big.xml"] = std::vector<uint8_t>(MaxResourceFileSize + 1);
    platform.files[folder + u"exact.xml"] = std::vector<uint8_t>(MaxResourceFileSize, 'x');
    platform.files[folder + u"short.xml"] = Bytes("short");
    platform.shortReads.push_back(folder + u"short.xml");
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(FetchResourceFile(u"lan_en.xml", bytes, error)) << error;
    EXPECT_EQ(bytes, Bytes("<Language/>"));
    EXPECT_TRUE(FetchResourceFile(u"exact.xml", bytes, error));
    EXPECT_EQ(bytes.size(), MaxResourceFileSize);
    EXPECT_FALSE(FetchResourceFile(u"lan_cn.xml", bytes, error));
    EXPECT_EQ(error, "Error opening file");
    EXPECT_FALSE(FetchResourceFile(u"empty.xml", bytes, error));
    EXPECT_EQ(error, "File is empty");
    EXPECT_FALSE(FetchResourceFile(u"big.xml", bytes, error));
    EXPECT_EQ(error, "File too large");
    EXPECT_FALSE(FetchResourceFile(u"short.xml", bytes, error));
    EXPECT_EQ(error, "Could not read file");
    EXPECT_TRUE(bytes.empty());
}

// The system platform reads real files (under Wine: through CreateFileW).
TEST(ResourcesDiskTest, FetchesFromTheResourceFolderOnDisk) {
    CUiResources::ResetAll();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "tde-archive-fetch-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    {
        std::ofstream(dir / "lan_en.xml", std::ios::binary) << "<Language>disk</Language>";
        std::ofstream(dir / "empty.xml", std::ios::binary);
    }
    // With its own trailing separator, so none is added.
    CUiResources::SetResourceFolder((dir / "").u16string());
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(FetchResourceFile(u"lan_en.xml", bytes, error)) << error;
    EXPECT_EQ(bytes, Bytes("<Language>disk</Language>"));
    EXPECT_FALSE(FetchResourceFile(u"empty.xml", bytes, error));
    EXPECT_EQ(error, "File is empty");
    EXPECT_FALSE(FetchResourceFile(u"missing.xml", bytes, error));
    EXPECT_EQ(error, "Error opening file");
    CUiResources::ResetAll();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tde
