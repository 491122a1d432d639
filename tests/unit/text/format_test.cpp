// Filling texts that are used as formats, and the vocabulary of keys.
#include "text/text.h"
#include "version.h"

#include <gtest/gtest.h>

#include <set>

namespace tde {
namespace {

TEST(FormatText, FillsPlaceholdersInOrderAndDropsExtraValues) {
    EXPECT_EQ(FormatText(u"Copy %s failed: %s", {u"driver/pos/ZNWA4V.gpd", u"Code:5--->denied"}),
              u"Copy driver/pos/ZNWA4V.gpd failed: Code:5--->denied");
    EXPECT_EQ(FormatText(u"%s%s", {u"a", u"b"}), u"ab");
    // Fewer placeholders than values: the text without the extras.
    EXPECT_EQ(FormatText(u"Failed: %s", {u"one", u"two"}), u"Failed: one");
    EXPECT_EQ(FormatText(u"No placeholder", {u"one"}), u"No placeholder");
    EXPECT_EQ(FormatText(u"", {u"one"}), u"");
    // Values are inserted as they are, never read as formats themselves.
    EXPECT_EQ(FormatText(u"[%s]", {u"%s %d %n %%"}), u"[%s %d %n %%]");
}

TEST(FormatText, NeverReadsAMissingValueOrObeysOtherSpecifiers) {
    // More placeholders than values: the missing ones become empty.
    EXPECT_EQ(FormatText(u"%s and %s and %s", {u"one"}), u"one and  and ");
    EXPECT_EQ(FormatText(u"%s", {}), u"");
    // Other conversions stay as written, "%%" is a percent sign.
    EXPECT_EQ(FormatText(u"%d%n%x %ls %5s %p 100%% %s", {u"v"}), u"%d%n%x %ls %5s %p 100% v");
    EXPECT_EQ(FormatText(u"%%s is literal, %s is not", {u"this"}), u"%s is literal, this is not");
    EXPECT_EQ(FormatText(u"trailing %", {u"v"}), u"trailing %");
    EXPECT_EQ(FormatText(u"%S uppercase", {u"v"}), u"%S uppercase");
}

TEST(FormatText, CountsThePlaceholdersItWouldFill) {
    struct Case {
        const char16_t* text;
        int count;
    };
    const Case cases[] = {
        {u"", 0},      {u"%s", 1}, {u"%s%s", 2}, {u"%%s", 0},     {u"%%%s", 1},
        {u"%d %s", 1}, {u"%", 0},  {u"%ss", 1},  {u"a%sb%sc", 2}, {u"%S", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::u16string_view(c.text).size());
        EXPECT_EQ(CountPlaceholders(c.text), c.count);
        // Each counted placeholder takes one value: with "#" values the output
        // holds exactly that many more "#" than the text.
        std::u16string_view marks[] = {u"#", u"#", u"#", u"#"};
        std::u16string filled = FormatText(c.text, std::span<const std::u16string_view>(marks));
        size_t hashes = 0;
        for (char16_t ch : filled) {
            hashes += ch == u'#';
        }
        EXPECT_EQ(hashes, static_cast<size_t>(c.count));
    }
}

TEST(Vocabulary, EveryKeyOnceWithItsPlaceholders) {
    std::set<std::u16string_view> keys;
    for (const TextKeyInfo& info : TextKeyVocabulary()) {
        EXPECT_TRUE(keys.insert(info.key).second) << "duplicate key";
        EXPECT_EQ(info.key.substr(0, 4), u"tip.");
    }
    EXPECT_EQ(keys.size(), 40u);
    auto placeholders = [](std::u16string_view key) {
        for (const TextKeyInfo& info : TextKeyVocabulary()) {
            if (info.key == key) {
                return info.placeholders;
            }
        }
        return -1;
    };
    EXPECT_EQ(placeholders(u"tip.copyfilefail"), 1);
    EXPECT_EQ(placeholders(u"tip.copyfilefail2"), 2);
    EXPECT_EQ(placeholders(u"tip.installprinterfail"), 1);
    EXPECT_EQ(placeholders(u"tip.installdriverfail2"), 0);
    EXPECT_EQ(placeholders(u"tip.notselectusbport"), 0);
    EXPECT_EQ(placeholders(u"tip.dlgtitle"), 0);
}

TEST(Vocabulary, DialogCaptionsInTheOrderTheyAreSet) {
    const int controls[] = {1002, 1004, 1003, 1005, 1006, 1008, 1009, 1010, 1012, 1000, 1001, 1014};
    auto captions = DialogCaptionKeys();
    ASSERT_EQ(captions.size(), std::size(controls));
    for (size_t i = 0; i < captions.size(); ++i) {
        EXPECT_EQ(captions[i].controlId, controls[i]) << i;
    }
    EXPECT_EQ(captions[0].key, u"tip.title.systemversion");
    EXPECT_EQ(captions[9].key, u"tip.btn.begininstall");
    EXPECT_EQ(captions[11].key, u"tip.title.uilanguage");
}

TEST(Vocabulary, WindowCaptionShowsTheKeyWhenTheTableHasNoText) {
    TextTable table;
    EXPECT_EQ(WindowCaption(table), u"tip.dlgtitle - V" TDE_VERSION_TEXT);
    ASSERT_TRUE(table.LoadLanguageFile(u"<L><Text id=\"tip.dlgtitle\" value=\"Setup\"/></L>"));
    EXPECT_EQ(WindowCaption(table), u"Setup - V" TDE_VERSION_TEXT);
}

}  // namespace
}  // namespace tde
