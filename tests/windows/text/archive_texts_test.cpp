// Language files through the real embedded archive: this test program carries
// the same "ZIPRES" 129 resource as the exe and registers it the way start-up
// does.
#include "archive/archive.h"
#include "text/text.h"
#include "version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tde {
namespace {

std::vector<uint8_t> ReadShipped(const char* name) {
    std::ifstream in(std::string(TDE_PAYLOAD_DIR) + "\\" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

class ArchiveTexts : public testing::Test {
  protected:
    void SetUp() override {
        CUiResources::ResetAll();
        CUiResources::SetModuleInstance(GetModuleHandleW(nullptr));
        ASSERT_TRUE(RegisterEmbeddedArchive()) << "the test program lacks ZIPRES 129";
    }
    void TearDown() override {
        DestroyTextTable();
        CUiResources::ResetAll();
    }
};

TEST_F(ArchiveTexts, EnglishFileLoadsFromTheEmbeddedArchive) {
    std::vector<uint8_t> shipped = ReadShipped("lan_en.xml");
    ASSERT_FALSE(shipped.empty());
    XmlDocument expected;
    ASSERT_TRUE(expected.LoadFromMemory(shipped.data(), shipped.size()));
    TextTable reference;
    ASSERT_TRUE(reference.MergeLanguageDocument(expected));

    // As start-up and dialog initialisation do it.
    EXPECT_FALSE(GetTextTable().LoadResourceIndex(kResourceIndexFile));
    ASSERT_TRUE(GetTextTable().LoadLanguageFile(ChooseLanguage(1033, 2052).file));
    EXPECT_EQ(GetTextTable().Texts(), reference.Texts());
    EXPECT_EQ(WindowCaption(GetTextTable()), u"Printer Driver Setup - V" TDE_VERSION_TEXT);
    for (const TextKeyInfo& info : TextKeyVocabulary()) {
        EXPECT_NE(GetTextTable().GetText(info.key), info.key);
    }
}

TEST_F(ArchiveTexts, UpperCaseNamesFetchTheSameFiles) {
    for (const char* name : {"lan_en.xml", "lan_cn.xml"}) {
        SCOPED_TRACE(name);
        std::string upper(name);
        for (char& c : upper) {
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        std::vector<uint8_t> bytes;
        std::string error = "unchanged";
        ASSERT_TRUE(FetchResourceFile(std::u16string(upper.begin(), upper.end()), bytes, error))
            << error;
        EXPECT_EQ(bytes, ReadShipped(name));
    }
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromFile(u"LAN_CN.XML"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"");
    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(u"LAN_CN.XML"));
    EXPECT_EQ(table.GetText(textkey::kBeginInstall), u"安装驱动");
}

TEST_F(ArchiveTexts, MissingFilesAndAReleasedArchiveLeaveTheTableAlone) {
    XmlDocument doc;
    EXPECT_FALSE(doc.LoadFromFile(kResourceIndexFile));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Could not find ziped file");

    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(u"lan_en.xml"));
    auto loaded = table.Texts();
    ReleaseResources();
    EXPECT_FALSE(table.LoadLanguageFile(u"lan_cn.xml"));
    EXPECT_EQ(table.Texts(), loaded);
    EXPECT_FALSE(doc.LoadFromFile(u"lan_cn.xml"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Error opening zip file");
}

}  // namespace
}  // namespace tde
