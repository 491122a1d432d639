// Name characters in the Windows program: the reader classifies them with the C
// runtime's iswalnum. Under Wine that is Wine's msvcrt, whose tables are Wine's
// own; what this test measures is Wine's answer, not that of Windows.
#include "text/name_chars.h"
#include "text/text.h"

#include <gtest/gtest.h>
#include <wctype.h>

#include <cstdio>
#include <string>

namespace tde {
namespace {

bool RuntimeSaysNameCharacter(char16_t c) {
    return c == u'_' || c == u':' || iswalnum(static_cast<wint_t>(c)) != 0;
}

// Whether the reader takes c into an element name and an attribute name.
bool ReaderTakesIntoNames(char16_t c, bool& parsed) {
    std::u16string element = std::u16string(u"a") + c + u"b";
    std::u16string attribute = std::u16string(u"x") + c + u"y";
    XmlDocument doc;
    parsed = doc.LoadFromString(u"<" + element + u" " + attribute + u"=\"v\"/>");
    return parsed && doc.GetRoot().GetName() == element && doc.GetRoot().GetAttributeCount() == 1 &&
           doc.GetRoot().GetAttributeName(0) == attribute;
}

TEST(NameCharacters, TheReaderFollowsTheRuntimeForTheDoubtfulCharacters) {
    const char16_t candidates[] = {
        0x00B2, 0x00B3, 0x00B9,                          // superscript digits
        0x037E, 0x0387,                                  // Greek question mark, ano teleia
        0x055A, 0x055B, 0x055C, 0x055D, 0x055E, 0x055F,  // Armenian punctuation
        0x0589, 0x058A,                                  // Armenian full stop, hyphen
        0x0964, 0x0965, 0x0970,  // Devanagari danda, double danda, abbreviation
        0x3005, 0x3007,          // ideographic iteration mark, number zero
        0x00E9, 0x6587, 0xFF0C,  // a letter, an ideograph, a full-width comma
    };
    for (char16_t c : candidates) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<int>(c));
        bool parsed = false;
        bool taken = ReaderTakesIntoNames(c, parsed);
        EXPECT_EQ(taken, RuntimeSaysNameCharacter(c));
        EXPECT_EQ(taken, IsNameCharacter(c));
        // A character that is no name character ends the name, and what follows
        // is no attribute.
        EXPECT_EQ(parsed, taken);
        std::printf("U+%04X  runtime %-3s  portable table %-3s%s\n", static_cast<unsigned>(c),
                    taken ? "yes" : "no", IsPortableNameCharacter(c) ? "yes" : "no",
                    taken != IsPortableNameCharacter(c) ? "  differs" : "");
    }
    // Letters and ideographs are name characters in any classification.
    EXPECT_TRUE(IsNameCharacter(0x00E9));
    EXPECT_TRUE(IsNameCharacter(0x6587));
    EXPECT_FALSE(IsNameCharacter(0xFF0C));
}

// Every UTF-16 code unit through the reader, and the measurement of where the
// runtime and the portable table part: printed as ranges.
TEST(NameCharacters, EveryCodeUnitAgainstThePortableTable) {
    int mismatches = 0;
    int differ = 0;
    int runStart = -1;
    bool runRuntime = false;
    auto flush = [&](int end) {
        if (runStart < 0) {
            return;
        }
        if (runStart == end - 1) {
            std::printf("  U+%04X", runStart);
        } else {
            std::printf("  U+%04X..U+%04X", runStart, end - 1);
        }
        std::printf("  runtime %s, table %s (%d)\n", runRuntime ? "yes" : "no",
                    runRuntime ? "no" : "yes", end - runStart);
        runStart = -1;
    };
    std::printf("Wine's msvcrt iswalnum against the portable table, where they differ:\n");
    for (int i = 0; i <= 0xFFFF; ++i) {
        char16_t c = static_cast<char16_t>(i);
        bool runtime = RuntimeSaysNameCharacter(c);
        bool parsed = false;
        // Reading a name stops at the text's end, so NUL cannot be in one.
        if (i != 0 && ReaderTakesIntoNames(c, parsed) != runtime) {
            ++mismatches;
            ADD_FAILURE() << "the reader and the runtime disagree on U+" << std::hex << i;
        }
        bool table = IsPortableNameCharacter(c);
        bool differs = runtime != table;
        differ += differs;
        if (runStart >= 0 && (!differs || runtime != runRuntime)) {
            flush(i);
        }
        if (differs && runStart < 0) {
            runStart = i;
            runRuntime = runtime;
        }
    }
    flush(0x10000);
    std::printf("%d code units differ\n", differ);
    RecordProperty("differing_code_units", differ);
    EXPECT_EQ(mismatches, 0);
    // ASCII is the same for both.
    for (int i = 0; i < 0x80; ++i) {
        EXPECT_EQ(RuntimeSaysNameCharacter(static_cast<char16_t>(i)),
                  IsPortableNameCharacter(static_cast<char16_t>(i)))
            << i;
    }
}

}  // namespace
}  // namespace tde
