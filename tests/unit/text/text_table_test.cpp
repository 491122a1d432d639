// The text table: lookups, merging language files, the resource index, the
// process-wide instance and the language choice.
#include "text/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

using testing::ElementsAre;
using testing::IsEmpty;
using testing::Pair;

namespace tde {
namespace {

TEST(TextTable, LookupGivesTheTextTheKeyItselfOrNothingForNoKey) {
    TextTable table;
    EXPECT_EQ(table.GetText(u"tip.btn.cancel"), u"tip.btn.cancel");
    EXPECT_EQ(table.GetText(static_cast<const char16_t*>(nullptr)), u"");
    ASSERT_TRUE(table.LoadLanguageFile(u"<L><Text id=\"tip.btn.cancel\" value=\"Exit\"/></L>"));
    EXPECT_EQ(table.GetText(u"tip.btn.cancel"), u"Exit");
    EXPECT_EQ(table.GetText(std::u16string(u"tip.btn.cancel")), u"Exit");
    EXPECT_EQ(table.GetText(u"TIP.BTN.CANCEL"), u"TIP.BTN.CANCEL");  // keys are case-sensitive
    EXPECT_EQ(table.GetText(u"tip.btn.cancel "), u"tip.btn.cancel ");
    EXPECT_EQ(table.GetText(u""), u"");
}

TEST(TextTable, TextElementsCountWhateverTheCaseAndOrderButOnlyDirectlyUnderTheRoot) {
    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(
        u"<Language>plain content is ignored"
        u"<Text value=\"reversed\" id=\"k.order\"/>"
        u"<text id=\"k.lower\" value=\"lower\"/>"
        u"<TEXT ID=\"k.upper\" VALUE=\"upper\" extra=\"ignored\"/>"
        u"<Group><Text id=\"k.nested\" value=\"nested\"/></Group>"
        u"<Texts id=\"k.other\" value=\"other element\"/>"
        u"<Text id=\"k.withchild\" value=\"kept\"><Text id=\"k.grandchild\" value=\"x\"/></Text>"
        u"</Language>"
        u"<Second><Text id=\"k.second\" value=\"second root\"/></Second>"));
    EXPECT_THAT(table.Texts(),
                ElementsAre(Pair(u"k.lower", u"lower"), Pair(u"k.order", u"reversed"),
                            Pair(u"k.upper", u"upper"), Pair(u"k.withchild", u"kept")));
}

TEST(TextTable, KeyAndTextAreCarriedFromOneTextElementToTheNext) {
    TextTable table;
    ASSERT_TRUE(
        table.LoadLanguageFile(u"<L>"
                               u"<Text id=\"lonely.key\"/>"     // no text seen yet: nothing stored
                               u"<Text value=\"first text\"/>"  // pairs with lonely.key
                               u"<Text id=\"second.key\"/>"     // pairs with "first text"
                               u"<Text/>"                       // no attributes: skipped
                               u"<Text id=\"a\" id=\"b\" value=\"later id wins\"/>"
                               u"<Text id=\"dup\" value=\"one\"/><Text id=\"dup\" value=\"two\"/>"
                               u"<Text id=\"\" value=\"empty key\"/>"
                               u"<Text id=\"empty.value\" value=\"\"/>"
                               u"</L>"));
    EXPECT_THAT(table.Texts(), ElementsAre(Pair(u"", u"empty key"), Pair(u"b", u"later id wins"),
                                           Pair(u"dup", u"two"), Pair(u"empty.value", u""),
                                           Pair(u"lonely.key", u"first text"),
                                           Pair(u"second.key", u"first text")));
}

TEST(TextTable, LoadingMergesAndAFailedLoadChangesNothing) {
    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(
        u"<L><Text id=\"both\" value=\"中文\"/><Text id=\"cn.only\" value=\"仅中文\"/></L>"));
    ASSERT_TRUE(table.LoadLanguageFile(
        u"<L><Text id=\"both\" value=\"English\"/><Text id=\"en.only\" value=\"only\"/></L>"));
    EXPECT_THAT(table.Texts(), ElementsAre(Pair(u"both", u"English"), Pair(u"cn.only", u"仅中文"),
                                           Pair(u"en.only", u"only")));

    auto before = table.Texts();
    EXPECT_FALSE(table.LoadLanguageFile(u"<L><Text id=\"both\" value='single'/></L>"));
    EXPECT_FALSE(table.LoadLanguageFile(u"<L><Text id=\"both\" value=\"x\"/></Oops>"));
    // Element-less documents parse but are no language file.
    EXPECT_FALSE(table.LoadLanguageFile(u"<!-- nothing -->"));
    EXPECT_EQ(table.Texts(), before);
}

TEST(TextTable, ResourceIndexCollectsLeafImageAndXmlEntriesFirstWins) {
    TextTable table;
    ASSERT_TRUE(table.LoadResourceIndex(
        u"<Res>"
        u"<image id=\"logo\" path=\"img/logo.png\"/>"
        u"<Image id=\"logo\" path=\"img/other.png\"/>"  // the first entry of an id wins
        u"<Folder>"
        u"  <XML Id=\"main\" PATH=\"ui/main.xml\"/>"
        u"  <Deeper><Image id=\"deep\" path=\"d.png\"/></Deeper>"
        u"</Folder>"
        u"<Image id=\"parent\" path=\"p.png\"><Image id=\"child\" path=\"c.png\"/></Image>"
        u"<Image id=\"carried\"/>"  // pairs with the last path seen here
        u"<Other id=\"other\" path=\"o\"/>"
        u"</Res>"));
    EXPECT_THAT(table.ImagePaths(),
                ElementsAre(Pair(u"carried", u"img/other.png"), Pair(u"child", u"c.png"),
                            Pair(u"deep", u"d.png"), Pair(u"logo", u"img/logo.png")));
    EXPECT_THAT(table.XmlPaths(), ElementsAre(Pair(u"main", u"ui/main.xml")));
    EXPECT_THAT(table.Texts(), IsEmpty());

    EXPECT_FALSE(table.LoadResourceIndex(u"<Res><Image id=\"x\" path='y'/></Res>"));
    EXPECT_EQ(table.ImagePaths().size(), 4u);
}

TEST(TextTable, ResourceIndexWalksDeepTreesWithoutRecursion) {
    std::u16string open;
    for (int i = 0; i < 200000; ++i) {
        open += u"<f>";
    }
    TextTable table;
    // Left open below the root's content, the document is refused.
    EXPECT_FALSE(table.LoadResourceIndex(open + u"<Xml id=\"bottom\" path=\"b.xml\"/>"));
    EXPECT_THAT(table.XmlPaths(), IsEmpty());
    std::u16string closed = u"<r>";
    for (int i = 0; i < 200000; ++i) {
        closed += u"<f>";
    }
    closed += u"<Xml id=\"bottom\" path=\"b.xml\"/>";
    for (int i = 0; i < 200000; ++i) {
        closed += u"</f>";
    }
    ASSERT_TRUE(table.LoadResourceIndex(closed));
    EXPECT_THAT(table.XmlPaths(), ElementsAre(Pair(u"bottom", u"b.xml")));
}

TEST(TextTable, ProcessWideTableIsCreatedOnceEvenFromTwoThreads) {
    DestroyTextTable();
    TextTable* seen[2] = {nullptr, nullptr};
    std::thread first([&] { seen[0] = &GetTextTable(); });
    std::thread second([&] { seen[1] = &GetTextTable(); });
    first.join();
    second.join();
    EXPECT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(&GetTextTable(), seen[0]);

    ASSERT_TRUE(GetTextTable().LoadLanguageFile(u"<L><Text id=\"k\" value=\"v\"/></L>"));
    EXPECT_EQ(GetTextTable().GetText(u"k"), u"v");
    DestroyTextTable();
    // A table asked for after shutdown starts empty.
    EXPECT_EQ(GetTextTable().GetText(u"k"), u"k");
    DestroyTextTable();
    DestroyTextTable();  // a second destruction is harmless
}

TEST(Languages, ChineseOnlyWhenUserAndSystemAreBothChinese) {
    struct Case {
        uint16_t user;
        uint16_t system;
        std::u16string_view file;
        uint16_t messageLanguage;
        int combo;
    };
    const Case cases[] = {
        {2052, 2052, u"lan_cn.xml", 2052, 1}, {2052, 1033, u"lan_en.xml", 1033, 0},
        {1033, 2052, u"lan_en.xml", 1033, 0}, {1033, 1033, u"lan_en.xml", 1033, 0},
        {1028, 1028, u"lan_en.xml", 1033, 0},  // Chinese (Taiwan) is not 2052
        {0, 0, u"lan_en.xml", 1033, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.user << "/" << c.system);
        LanguageChoice choice = ChooseLanguage(c.user, c.system);
        EXPECT_EQ(choice.file, c.file);
        EXPECT_EQ(choice.messageLanguageId, c.messageLanguage);
        EXPECT_EQ(choice.comboIndex, c.combo);
    }
    EXPECT_EQ(LanguageFileForComboIndex(1), u"lan_cn.xml");
    EXPECT_EQ(LanguageFileForComboIndex(0), u"lan_en.xml");
    EXPECT_EQ(LanguageFileForComboIndex(-1), u"lan_en.xml");  // no selection
    EXPECT_EQ(LanguageFileForComboIndex(2), u"lan_en.xml");
}

TEST(Languages, MessageLanguageStartsEnglishAndKeepsWhatIsSet) {
    EXPECT_EQ(MessageLanguageId(), 1033);
    SetMessageLanguageId(ChooseLanguage(2052, 2052).messageLanguageId);
    EXPECT_EQ(MessageLanguageId(), 2052);
    SetMessageLanguageId(1033);
    EXPECT_EQ(MessageLanguageId(), 1033);
}

}  // namespace
}  // namespace tde
