// Item names: UTF-8 <-> UTF-16 and the sanitising of stored names.
#include <gtest/gtest.h>

#include "archive/names.h"

#include "base/utf8.h"

namespace tde {
namespace {

TEST(ItemNamesTest, SanitisingKeepsNamesBelowTheFolder) {
    struct Case {
        const char16_t* stored;
        const char16_t* sanitised;
    };
    const Case cases[] = {
        {u"driver/pos/ZNWA4V.inf", u"driver/pos/ZNWA4V.inf"},
        {u"C:\\Windows\\win.ini", u"Windows\\win.ini"},
        {u"c:relative.txt", u"relative.txt"},
        {u"/etc/passwd", u"etc/passwd"},
        {u"\\\\server\\share\\x", u"server\\share\\x"},
        {u"a/../b", u"b"},
        {u"a\\..\\b", u"b"},
        {u"a/..\\b/../c", u"c"},
        {u"../../x", u"x"},
        {u"..\\x", u"x"},
        {u"D:/../..//x", u"x"},
        {u"a/..", u""},
        {u"..", u""},
        {u"a..b/..c/d..", u"a..b/..c/d.."},  // ".." only as a whole part
        {u"./a", u"./a"},
        {u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SanitizeItemName(c.stored), c.sanitised) << Utf16ToUtf8(c.stored);
    }
}

TEST(ItemNamesTest, BackslashesBecomeSlashesForLookups) {
    EXPECT_EQ(ToItemName(u"driver\\pos\\ZNWA4V.inf"), u"driver/pos/ZNWA4V.inf");
    EXPECT_EQ(ToItemName(u"\\lead"), u"/lead");
    EXPECT_EQ(ToItemName(u"plain"), u"plain");
}

TEST(ItemNamesTest, ConvertsUtf8AndUtf16BothWays) {
    const std::u16string text = u"lan_\u4e2d\u6587 caf\u00e9 \U0001F5A8";
    const std::string utf8 = "lan_\xe4\xb8\xad\xe6\x96\x87 caf\xc3\xa9 \xf0\x9f\x96\xa8";
    EXPECT_EQ(Utf16ToUtf8(text), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
    // Unpaired surrogates and malformed bytes become U+FFFD.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xef\xbf\xbdx");
    EXPECT_EQ(Utf8ToUtf16("a\xff"
                          "b"),
              u"a\ufffdb");
    EXPECT_EQ(Utf8ToUtf16("\xe4\xb8"), u"\ufffd\ufffd");            // cut short
    EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\ufffd\ufffd");            // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd");  // encoded surrogate
}

}  // namespace
}  // namespace tde
