// The two shipped language files, read from the payload folder as the archive
// carries them.
#include "text/text.h"
#include "version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace tde {
namespace {

std::vector<uint8_t> ReadPayload(const char* name) {
    std::ifstream in(std::string(TDE_PAYLOAD_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool LoadPayload(TextTable& table, const char* name) {
    std::vector<uint8_t> bytes = ReadPayload(name);
    XmlDocument doc;
    if (bytes.empty() || !doc.LoadFromMemory(bytes.data(), bytes.size())) {
        return false;
    }
    return table.MergeLanguageDocument(doc);
}

class LanguageFiles : public testing::TestWithParam<const char*> {};

TEST_P(LanguageFiles, DefineEveryKeyWithItsPlaceholdersAndNothingElse) {
    TextTable table;
    ASSERT_TRUE(LoadPayload(table, GetParam()));
    EXPECT_EQ(table.Texts().size(), TextKeyVocabulary().size());
    for (const TextKeyInfo& info : TextKeyVocabulary()) {
        auto found = table.Texts().find(std::u16string(info.key));
        ASSERT_NE(found, table.Texts().end()) << "missing key";
        EXPECT_FALSE(found->second.empty());
        EXPECT_EQ(CountPlaceholders(found->second), info.placeholders);
        EXPECT_EQ(found->second.find(u'\uFFFD'), std::u16string::npos) << "not UTF-8";
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, LanguageFiles, testing::Values("lan_cn.xml", "lan_en.xml"));

TEST(LanguageFiles, ChineseCaptionsAreTheDialogTemplateCaptions) {
    TextTable table;
    ASSERT_TRUE(LoadPayload(table, "lan_cn.xml"));
    EXPECT_EQ(table.GetText(u"tip.title.systemversion"), u"系统版本（自动设别）");
    EXPECT_EQ(table.GetText(u"tip.title.32bit"), u"32位");
    EXPECT_EQ(table.GetText(u"tip.title.64bit"), u"64位");
    EXPECT_EQ(table.GetText(u"tip.title.printermodelset"), u"机型设置");
    EXPECT_EQ(table.GetText(u"tip.title.printermodel"), u"打印机类型：");
    EXPECT_EQ(table.GetText(u"tip.title.defaultprinter"), u"缺省打印机");
    EXPECT_EQ(table.GetText(u"tip.title.port"), u"打印端口");
    EXPECT_EQ(table.GetText(u"tip.title.selport"), u"端口选择：");
    EXPECT_EQ(table.GetText(u"tip.title.usbchecked"), u"usb端口检测");
    EXPECT_EQ(table.GetText(u"tip.btn.begininstall"), u"安装驱动");
    EXPECT_EQ(table.GetText(u"tip.btn.cancel"), u"退出");
    EXPECT_EQ(table.GetText(u"tip.title.uilanguage"), u"UI Language:");
}

TEST(LanguageFiles, EnglishAfterChineseReplacesEveryKeyTheEnglishFileDefines) {
    TextTable table;
    ASSERT_TRUE(LoadPayload(table, "lan_cn.xml"));
    ASSERT_TRUE(table.LoadLanguageFile(u"<L><Text id=\"tip.cn.only\" value=\"保留\"/></L>"));
    ASSERT_TRUE(LoadPayload(table, "lan_en.xml"));
    EXPECT_EQ(table.GetText(u"tip.btn.cancel"), u"Exit");
    EXPECT_EQ(table.GetText(u"tip.cn.only"), u"保留");
    EXPECT_EQ(WindowCaption(table), u"Printer Driver Setup - V" TDE_VERSION_TEXT);
    std::u16string filled = FormatText(table.GetText(u"tip.copyfilefail2"),
                                       {u"driver/pos/znw.cer", u"Code:5--->Access is denied."});
    EXPECT_EQ(filled,
              u"Could not copy the driver file driver/pos/znw.cer: Code:5--->Access is denied.");
}

}  // namespace
}  // namespace tde
