// Name characters in the Windows program: the reader classifies them with the C
// runtime's iswalnum. Under Wine that is Wine's msvcrt with Wine's own tables:
// what this test measures is Wine's answer, not that of Windows.
#include "text/name_chars.h"
#include "text/text.h"

#include <gtest/gtest.h>
#include <wctype.h>

#include <cstdio>
#include <string>

namespace tde {
namespace {

// Whether the reader takes c into an element name and an attribute name.
bool ReaderTakesIntoNames(char16_t c) {
    std::u16string element = std::u16string(u"a") + c + u"b";
    std::u16string attribute = std::u16string(u"x") + c + u"y";
    XmlDocument doc;
    return doc.LoadFromString(u"<" + element + u" " + attribute + u"=\"v\"/>") &&
           doc.GetRoot().GetName() == element && doc.GetRoot().GetAttributeCount() == 1 &&
           doc.GetRoot().GetAttributeName(0) == attribute;
}

// Every code unit but NUL (which ends the text) through the reader, and where
// the runtime and the portable table part, printed as ranges. The doubtful
// characters first: superscript two, Greek, Armenian and Devanagari
// punctuation, U+3005 and U+3007.
TEST(NameCharacters, TheReaderFollowsTheRuntimeForEveryCodeUnit) {
    for (char16_t c : {0x00B2, 0x037E, 0x0387, 0x055D, 0x0589, 0x0964, 0x0965, 0x3005, 0x3007}) {
        std::printf("U+%04X runtime %-3s table %s\n", static_cast<unsigned>(c),
                    iswalnum(c) ? "yes" : "no", IsPortableNameCharacter(c) ? "yes" : "no");
    }
    std::printf("Where Wine's msvcrt iswalnum and the portable table differ:\n");
    int differ = 0;
    int runStart = -1;
    for (int i = 1; i <= 0x10000; ++i) {
        char16_t c = static_cast<char16_t>(i);
        bool runtime = i <= 0xFFFF && (c == u'_' || c == u':' || iswalnum(c) != 0);
        if (i <= 0xFFFF) {
            ASSERT_EQ(ReaderTakesIntoNames(c), runtime) << "U+" << std::hex << i;
            ASSERT_EQ(IsNameCharacter(c), runtime) << "U+" << std::hex << i;
        }
        bool differs = i <= 0xFFFF && runtime != IsPortableNameCharacter(c);
        differ += differs;
        bool sameRun =
            differs && runStart >= 0 && runtime == (iswalnum(static_cast<char16_t>(runStart)) != 0);
        if (runStart >= 0 && !sameRun) {
            std::printf(
                "  U+%04X..U+%04X runtime %s (%d)\n", runStart, i - 1,
                iswalnum(static_cast<char16_t>(runStart)) ? "yes, table no" : "no, table yes",
                i - runStart);
            runStart = -1;
        }
        if (differs && runStart < 0) {
            runStart = i;
        }
    }
    std::printf("%d code units differ\n", differ);
    RecordProperty("differing_code_units", differ);
    // The ASCII names of the shipped files read the same everywhere.
    for (char16_t c = 1; c < 0x80; ++c) {
        EXPECT_EQ(IsNameCharacter(c), IsPortableNameCharacter(c)) << static_cast<int>(c);
    }
}

}  // namespace
}  // namespace tde
