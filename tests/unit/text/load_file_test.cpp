// Loading language files and the resource index by name, through a registered
// archive and through the resource folder.
#include "text/text.h"

#include "archive/archive.h"
#include "archive/platform.h"
#include "support/archive_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace tde {
namespace {

using namespace testing_util;

std::vector<uint8_t> ReadPayload(const char* name) {
    std::ifstream in(std::string(TDE_PAYLOAD_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

class LoadFile : public testing::Test {
  protected:
    void SetUp() override {
        CUiResources::ResetAll();
        SetResourcePlatform(&platform);
    }
    void TearDown() override {
        CUiResources::ResetAll();
        SetResourcePlatform(nullptr);
    }

    void RegisterArchive() {
        image = Build({Item("lan_cn.xml", ReadPayload("lan_cn.xml")),
                       Item("lan_en.xml", ReadPayload("lan_en.xml")),
                       Item("broken.xml", Bytes("<L><Text id='x' value=\"y\"/></L>")),
                       Item("empty.xml", {}), Item("sub/nested.xml", Bytes("<n/>"))});
        CUiResources::RegisterArchiveImage(
            image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), u"kdw20190304");
        ASSERT_NE(CUiResources::GetArchiveHandle(), nullptr);
    }

    MemoryResourcePlatform platform;
    WrittenArchive image;
};

TEST_F(LoadFile, DocumentsComeFromTheArchiveWhateverTheCaseOfTheName) {
    RegisterArchive();
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromFile(u"lan_en.xml"));
    EXPECT_EQ(doc.GetRoot().GetName(), u"Language");
    ASSERT_TRUE(doc.LoadFromFile(u"LAN_EN.XML"));
    EXPECT_EQ(doc.GetRoot().GetFirstChild().GetAttributeValue(1), u"Printer Driver Setup");
    ASSERT_TRUE(doc.LoadFromFile(u"sub\\nested.xml"));
    EXPECT_EQ(doc.GetRoot().GetName(), u"n");
}

TEST_F(LoadFile, FetchAndParseFailuresBecomeTheLastError) {
    RegisterArchive();
    struct Case {
        const char16_t* name;
        const char16_t* message;
        const char16_t* location;
    };
    const Case cases[] = {
        {u"res.xml", u"Could not find ziped file", u""},
        {u"empty.xml", u"File is empty", u""},
        {u"broken.xml", u"Expected attribute value", u"'x' value=\"y\"/></L>"},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        ASSERT_TRUE(doc.LoadFromString(u"<previous/>"));
        EXPECT_FALSE(doc.LoadFromFile(c.name));
        EXPECT_EQ(doc.GetLastErrorMessage(), c.message);
        EXPECT_EQ(doc.GetLastErrorLocation(), c.location);
        EXPECT_FALSE(doc.GetRoot().IsValid());
    }
}

TEST_F(LoadFile, LanguageFilesMergeAndAMissingIndexChangesNothing) {
    RegisterArchive();
    TextTable table;
    EXPECT_FALSE(table.LoadResourceIndex(kResourceIndexFile));
    EXPECT_TRUE(table.ImagePaths().empty());
    EXPECT_TRUE(table.XmlPaths().empty());

    ASSERT_TRUE(table.LoadLanguageFile(ChooseLanguage(2052, 2052).file));
    EXPECT_EQ(table.GetText(textkey::kCancel), u"退出");
    ASSERT_TRUE(table.LoadLanguageFile(LanguageFileForComboIndex(0)));
    EXPECT_EQ(table.GetText(textkey::kCancel), u"Exit");
    auto before = table.Texts();
    EXPECT_FALSE(table.LoadLanguageFile(u"broken.xml"));
    EXPECT_FALSE(table.LoadLanguageFile(u"missing.xml"));
    EXPECT_EQ(table.Texts(), before);
}

TEST_F(LoadFile, WithoutAnArchiveFilesComeFromTheResourceFolder) {
    CUiResources::SetResourceFolder(u"C:\\prog\\skin\\TarnDovEzuvar\\");
    platform.files[u"C:\\prog\\skin\\TarnDovEzuvar\\lan_en.xml"] = ReadPayload("lan_en.xml");
    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(u"lan_en.xml"));
    EXPECT_EQ(table.GetText(textkey::kDlgTitle), u"Printer Driver Setup");

    XmlDocument doc;
    EXPECT_FALSE(doc.LoadFromFile(u"lan_cn.xml"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Error opening file");
    EXPECT_FALSE(table.LoadLanguageFile(u"lan_cn.xml"));
    EXPECT_EQ(table.GetText(textkey::kDlgTitle), u"Printer Driver Setup");
}

}  // namespace
}  // namespace tde
