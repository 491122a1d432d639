// The in-place XML reader: tree shape, attributes, entities, the error messages
// and what a failed or element-less document leaves behind.
#include "text/text.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tde {
namespace {

using test::U16;

std::vector<uint8_t> Bytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(XmlReader, BuildsTheTreeWithChildrenSiblingsParentsAndText) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<root>head<a x=\"1\">in a</a> \n<b/><c><d/></c></root>"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"");
    EXPECT_EQ(doc.GetLastErrorLocation(), u"");
    EXPECT_EQ(doc.GetElementCount(), 5u);

    XmlNode root = doc.GetRoot();
    ASSERT_TRUE(root.IsValid());
    EXPECT_EQ(root.GetName(), u"root");
    EXPECT_EQ(root.GetValue(), u"head");  // text content runs to the first child
    EXPECT_FALSE(root.GetParent().IsValid());
    EXPECT_FALSE(root.GetNextSibling().IsValid());
    EXPECT_FALSE(root.HasAttributes());

    XmlNode a = root.GetFirstChild();
    EXPECT_EQ(a.GetName(), u"a");
    EXPECT_EQ(a.GetValue(), u"in a");
    EXPECT_EQ(a.GetParent().GetName(), u"root");
    EXPECT_FALSE(a.HasChildren());
    XmlNode b = a.GetNextSibling();
    EXPECT_EQ(b.GetName(), u"b");
    EXPECT_EQ(b.GetValue(), u"");
    XmlNode c = b.GetNextSibling();
    EXPECT_EQ(c.GetName(), u"c");
    EXPECT_TRUE(c.HasChildren());
    EXPECT_EQ(c.GetFirstChild().GetName(), u"d");
    EXPECT_EQ(c.GetFirstChild().GetParent().GetName(), u"c");
    EXPECT_FALSE(c.GetNextSibling().IsValid());
    EXPECT_FALSE(c.GetFirstChild().GetFirstChild().IsValid());
}

TEST(XmlReader, TopLevelElementsAfterTheFirstAreSiblingsOfTheRoot) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<first/>\n<second><x/></second> <third/>"));
    XmlNode root = doc.GetRoot();
    EXPECT_EQ(root.GetName(), u"first");
    EXPECT_FALSE(root.HasChildren());
    EXPECT_EQ(root.GetNextSibling().GetName(), u"second");
    EXPECT_EQ(root.GetNextSibling().GetNextSibling().GetName(), u"third");
    EXPECT_EQ(root.GetNextSibling().GetFirstChild().GetName(), u"x");
    EXPECT_FALSE(root.GetNextSibling().GetParent().IsValid());
}

TEST(XmlReader, AcceptsLooseEndsOfTheTopLevelAndTheRootContent) {
    struct Case {
        const char16_t* text;
        size_t elements;
    };
    const Case cases[] = {
        {u"<root><a>x</a><b>text", 3},  // root and its last child never closed
        {u"<root attr=\"v\">", 1},
        {u"<root/></stray>ignored <<<", 1},  // an end tag at the top level ends the document
        {u"</only>", 0},
        {u"<root>< a ></a ></root >", 2},  // whitespace around names
        {u"<>x</>", 1},                    // an empty name is still a name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        XmlDocument doc;
        EXPECT_TRUE(doc.LoadFromString(c.text))
            << std::string(doc.GetLastErrorMessage().begin(), doc.GetLastErrorMessage().end());
        EXPECT_EQ(doc.GetElementCount(), c.elements);
    }
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<root><a>x</a><b>text"));
    EXPECT_EQ(doc.GetRoot().GetName(), u"root");
    EXPECT_EQ(doc.GetRoot().GetFirstChild().GetNextSibling().GetValue(), u"text");
}

TEST(XmlReader, EveryErrorHasItsMessageAndLocationAndEmptiesTheDocument) {
    struct Case {
        const char16_t* text;
        const char16_t* message;
        const char16_t* location;
    };
    const Case cases[] = {
        {u"text before <root/>", u"Expected start tag", u"text before <root/>"},
        {u"<root/> trailing", u"Expected start tag", u"trailing"},
        {u"<root><a/>text after a child</root>", u"Expected start tag",
         u"text after a child</root>"},
        {u"<r><a><b></b>", u"Expected start tag", u""},  // the second level may not just end
        {u"<root", u"Error parsing element name", u""},
        {u"<root a=\"1\" ?>", u"Error while parsing attributes", u"?>"},
        {u"<root ", u"Expected start-tag closing", u""},
        {u"<root /x>", u"Expected start-tag closing", u"/x>"},
        {u"<r><a><b>text", u"Expected end-tag start", u""},
        {u"<root></Root>", u"Unmatched closing tag", u"Root>"},
        {u"<root><a></ab></root>", u"Unmatched closing tag", u"b></root>"},
        {u"<root></root x>", u"Unmatched closing tag", u"x>"},
        {u"<root a>", u"Error while parsing attributes", u">"},
        {u"<my-element/>", u"Error while parsing attributes", u"/>"},  // "-" is no name character
        {u"<root a='1'/>", u"Expected attribute value", u"'1'/>"},
        {u"<root a=\"unterminated", u"Error while parsing attribute string", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        XmlDocument doc;
        ASSERT_TRUE(doc.LoadFromString(u"<old><kept/></old>"));
        EXPECT_FALSE(doc.LoadFromString(c.text));
        EXPECT_EQ(doc.GetLastErrorMessage(), c.message);
        EXPECT_EQ(doc.GetLastErrorLocation(), c.location);
        EXPECT_FALSE(doc.GetRoot().IsValid());
        EXPECT_EQ(doc.GetElementCount(), 0u);
    }
}

TEST(XmlReader, ErrorLocationIsCutTo49CharactersAndASuccessClearsTheError) {
    XmlDocument doc;
    std::u16string tail(200, u'x');
    EXPECT_FALSE(doc.LoadFromString(u"<root/>" + tail));
    EXPECT_EQ(doc.GetLastErrorLocation(), tail.substr(0, 49));
    EXPECT_EQ(XmlDocument::kMaxErrorMessage, 99u);
    EXPECT_TRUE(doc.LoadFromString(u"<root/>"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"");
    EXPECT_EQ(doc.GetLastErrorLocation(), u"");
}

TEST(XmlReader, AttributesInOrderWithoutSeparatorsAndWithSpacesAroundTheEqualsSign) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(
        u"<e first=\"1\"second=\"two\" third = \"\" _:x9=\"a b\tc\" ns:n=\"&quot;q&quot;\">t</e>"));
    XmlNode e = doc.GetRoot();
    ASSERT_EQ(e.GetAttributeCount(), 5);
    EXPECT_TRUE(e.HasAttributes());
    const char16_t* names[] = {u"first", u"second", u"third", u"_:x9", u"ns:n"};
    const char16_t* values[] = {u"1", u"two", u"", u"a b\tc", u"\"q\""};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(e.GetAttributeName(i), names[i]) << i;
        EXPECT_EQ(e.GetAttributeValue(i), values[i]) << i;
    }
    EXPECT_EQ(e.GetName(), u"e");
    EXPECT_EQ(e.GetValue(), u"t");
    // Outside the list: empty texts, not nothing.
    EXPECT_NE(e.GetAttributeName(5).data(), nullptr);
    EXPECT_EQ(e.GetAttributeName(5), u"");
    EXPECT_EQ(e.GetAttributeValue(-1), u"");
    EXPECT_EQ(e.GetAttributeValue(5), u"");
}

TEST(XmlReader, AttributesAreMappedForwardsEmptyNamesIncluded) {
    struct Case {
        const char16_t* text;
        std::vector<std::pair<std::u16string, std::u16string>> attributes;
    };
    const Case cases[] = {
        {u"<Text id=\"value\" =\"X\"/>", {{u"id", u"value"}, {u"", u"X"}}},
        {u"<Text =\"X\" id=\"k\"/>", {{u"", u"X"}, {u"id", u"k"}}},
        {u"<Text id=\"a\"=\"X\"/>", {{u"id", u"a"}, {u"", u"X"}}},
        {u"<Text id = \"x\" value\t=\n\"y\"/>", {{u"id", u"x"}, {u"value", u"y"}}},
        {u"<Text id=\"&amp;&lt;\" = \"X\"v=\"&quot;\"/>",
         {{u"id", u"&<"}, {u"", u"X"}, {u"v", u"\""}}},
        {u"<Text id=\"a = &quot;b\"/>", {{u"id", u"a = \"b"}}},
        {u"<Text id=\"\" =\"\">t</Text>", {{u"id", u""}, {u"", u""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        XmlDocument doc;
        ASSERT_TRUE(doc.LoadFromString(c.text));
        XmlNode e = doc.GetRoot();
        EXPECT_EQ(e.GetName(), u"Text");
        ASSERT_EQ(e.GetAttributeCount(), static_cast<int>(c.attributes.size()));
        for (size_t i = 0; i < c.attributes.size(); ++i) {
            EXPECT_EQ(e.GetAttributeName(static_cast<int>(i)), c.attributes[i].first) << i;
            EXPECT_EQ(e.GetAttributeValue(static_cast<int>(i)), c.attributes[i].second) << i;
        }
    }
    // An empty name is no key: the table keeps what the id says.
    TextTable table;
    ASSERT_TRUE(table.LoadLanguageFile(u"<L><Text id=\"value\" =\"X\"/></L>"));
    EXPECT_TRUE(table.Texts().empty());
}

TEST(XmlReader, OnlyTheFirst64AttributesAreSeen) {
    std::u16string text = u"<e";
    for (int i = 0; i < 65; ++i) {
        text += U16(" a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"");
    }
    text += u"/>";
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(text));
    XmlNode e = doc.GetRoot();
    ASSERT_EQ(e.GetAttributeCount(), 64);
    EXPECT_EQ(e.GetAttributeName(63), u"a63");
    EXPECT_EQ(e.GetAttributeValue(63), u"v63");
    EXPECT_EQ(e.GetAttributeName(64), u"");
}

TEST(XmlReader, EntitiesAreDecodedOneLevelDeepInTextAndValues) {
    XmlDocument doc;
    ASSERT_TRUE(
        doc.LoadFromString(u"<e v=\"&amp;lt; &#65; &lt;&gt;&amp;&quot;&apos; &unknown; & &amp\">"
                           u"&amp;lt;&#65;&lt;b&gt; &apos;x&apos; &quot;&amp;</e>"));
    XmlNode e = doc.GetRoot();
    EXPECT_EQ(e.GetAttributeValue(0), u"&lt; &#65; <>&\"' &unknown; & &amp");
    EXPECT_EQ(e.GetValue(), u"&lt;&#65;<b> 'x' \"&");
}

TEST(XmlReader, DecodedValuesLeaveLaterAttributesIntact) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<e a=\"&amp;&amp;&quot;x\"b=\"&lt;&gt;\" c=\"plain\"/>"));
    XmlNode e = doc.GetRoot();
    ASSERT_EQ(e.GetAttributeCount(), 3);
    EXPECT_EQ(e.GetAttributeName(0), u"a");
    EXPECT_EQ(e.GetAttributeValue(0), u"&&\"x");
    EXPECT_EQ(e.GetAttributeName(1), u"b");
    EXPECT_EQ(e.GetAttributeValue(1), u"<>");
    EXPECT_EQ(e.GetAttributeName(2), u"c");
    EXPECT_EQ(e.GetAttributeValue(2), u"plain");
}

TEST(XmlReader, CommentsAndDeclarationsLeaveNoElementBehind) {
    XmlDocument doc;
    ASSERT_TRUE(
        doc.LoadFromString(u"<?xml version=\"1.0\"?>\n<!-- a <comment> -->\n<!DOCTYPE x->"
                           u"<root><!-- inside --><a/><?pi?></root><!-- after -->"));
    EXPECT_EQ(doc.GetElementCount(), 2u);
    EXPECT_EQ(doc.GetRoot().GetName(), u"root");
    EXPECT_EQ(doc.GetRoot().GetFirstChild().GetName(), u"a");
    EXPECT_FALSE(doc.GetRoot().GetFirstChild().GetNextSibling().IsValid());

    // "<!" without "->" swallows the rest of the document.
    ASSERT_TRUE(doc.LoadFromString(u"<root><a/><!-- open <b/><c/>"));
    EXPECT_EQ(doc.GetElementCount(), 2u);
}

TEST(XmlReader, ADocumentWithoutElementsParsesButHasNoRoot) {
    const char16_t* texts[] = {u"", u"  \r\n\t ", u"<!-- only a comment -->",
                               u"<?xml version=\"1.0\"?>"};
    for (const char16_t* text : texts) {
        XmlDocument doc;
        EXPECT_TRUE(doc.LoadFromString(text));
        XmlNode root = doc.GetRoot();
        EXPECT_FALSE(root.IsValid());
        EXPECT_EQ(root.GetName().data(), nullptr);
        EXPECT_FALSE(root.GetFirstChild().IsValid());
        EXPECT_FALSE(root.GetNextSibling().IsValid());
        EXPECT_EQ(root.GetAttributeCount(), 0);
        EXPECT_EQ(root.GetAttributeName(0).data(), nullptr);
        EXPECT_EQ(root.GetAttributeValue(0).data(), nullptr);
    }
    XmlDocument never;
    EXPECT_FALSE(never.GetRoot().IsValid());
    EXPECT_FALSE(XmlNode().IsValid());
}

TEST(XmlReader, MemoryIsUtf8WithAnOptionalByteOrderMark) {
    std::string text = "<t v=\"\xE6\x89\x93\xE5\x8D\xB0 \xF0\x9F\x96\xA8\">\xC3\xA9</t>";
    XmlDocument plain;
    auto bytes = Bytes(text);
    ASSERT_TRUE(plain.LoadFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(plain.GetRoot().GetAttributeValue(0), u"\u6253\u5370 \U0001F5A8");
    EXPECT_EQ(plain.GetRoot().GetValue(), u"\u00E9");

    XmlDocument withBom;
    auto bomBytes = Bytes("\xEF\xBB\xBF" + text);
    ASSERT_TRUE(withBom.LoadFromMemory(bomBytes.data(), bomBytes.size()));
    EXPECT_EQ(withBom.GetRoot().GetName(), u"t");
    EXPECT_EQ(withBom.GetRoot().GetAttributeValue(0), plain.GetRoot().GetAttributeValue(0));

    // Invalid bytes become U+FFFD instead of failing or being dropped.
    XmlDocument broken;
    auto badBytes = Bytes("<t>\xFF\xC3</t>");
    ASSERT_TRUE(broken.LoadFromMemory(badBytes.data(), badBytes.size()));
    EXPECT_EQ(broken.GetRoot().GetValue(), u"\uFFFD\uFFFD");

    // A bare byte-order mark is an empty document; fewer than three bytes are text.
    XmlDocument tiny;
    EXPECT_TRUE(tiny.LoadFromMemory(bomBytes.data(), 3));
    EXPECT_FALSE(tiny.GetRoot().IsValid());
    EXPECT_TRUE(tiny.LoadFromMemory(nullptr, 0));
    auto two = Bytes("\xEF\xBB");
    EXPECT_FALSE(tiny.LoadFromMemory(two.data(), two.size()));
    EXPECT_EQ(tiny.GetLastErrorMessage(), u"Expected start tag");
}

TEST(XmlReader, TextEndsAtItsFirstNul) {
    XmlDocument doc;
    std::u16string text = u"<a/>";
    text.push_back(u'\0');
    text += u"garbage that would fail";
    EXPECT_TRUE(doc.LoadFromString(text));
    auto bytes = Bytes(std::string("<a>x", 4) + std::string(1, '\0') + "</b>");
    EXPECT_TRUE(doc.LoadFromMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(doc.GetRoot().GetValue(), u"x");
}

TEST(XmlReader, NamesTakeLettersAndDigitsOfAnyScript) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<文本 属性=\"值\" é1=\"x\"/>"));
    EXPECT_EQ(doc.GetRoot().GetName(), u"文本");
    EXPECT_EQ(doc.GetRoot().GetAttributeName(0), u"属性");
    EXPECT_EQ(doc.GetRoot().GetAttributeName(1), u"é1");
    // Full-width punctuation is not part of a name.
    EXPECT_FALSE(doc.LoadFromString(u"<a，b/>"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Error while parsing attributes");
}

TEST(XmlReader, ElementArrayGrowsByHalfPlus500) {
    // Entry 0 is reserved, so n elements need n + 1 entries.
    auto capacityFor = [](size_t elements) {
        std::u16string text = u"<r>";
        for (size_t i = 1; i < elements; ++i) {
            text += u"<e/>";
        }
        XmlDocument doc;
        EXPECT_TRUE(doc.LoadFromString(text));
        EXPECT_EQ(doc.GetElementCount(), elements);
        return doc.GetElementCapacity();
    };
    EXPECT_EQ(capacityFor(1), 500u);
    EXPECT_EQ(capacityFor(499), 500u);
    EXPECT_EQ(capacityFor(500), 1250u);  // 500 + 250 + 500
    EXPECT_EQ(capacityFor(1249), 1250u);
    EXPECT_EQ(capacityFor(1250), 2375u);  // 1250 + 625 + 500
    EXPECT_EQ(capacityFor(2375), 4062u);  // 2375 + 1187 + 500
}

TEST(XmlReader, AMillionNestedElementsNeedNoStack) {
    const size_t depth = 1000000;
    std::u16string open;
    std::u16string close;
    open.reserve(depth * 3);
    close.reserve(depth * 4);
    for (size_t i = 0; i < depth; ++i) {
        open += u"<a>";
        close += u"</a>";
    }
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(open + u"deep" + close));
    EXPECT_EQ(doc.GetElementCount(), depth);
    XmlNode node = doc.GetRoot();
    size_t levels = 1;
    while (node.HasChildren()) {
        node = node.GetFirstChild();
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(node.GetValue(), u"deep");

    // Left open below the second level, the same depth fails cleanly.
    EXPECT_FALSE(doc.LoadFromString(open + u"deep"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Expected end-tag start");
    EXPECT_FALSE(doc.LoadFromString(open + u"deep" + close.substr(4) + u"</b>"));
    EXPECT_EQ(doc.GetLastErrorMessage(), u"Unmatched closing tag");
}

TEST(XmlReader, AReloadStartsFromEmpty) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromString(u"<a><b/><c/></a>"));
    EXPECT_EQ(doc.GetElementCount(), 3u);
    ASSERT_TRUE(doc.LoadFromString(u"<x/>"));
    EXPECT_EQ(doc.GetElementCount(), 1u);
    EXPECT_EQ(doc.GetRoot().GetName(), u"x");
    doc.Clear();
    EXPECT_FALSE(doc.GetRoot().IsValid());
}

}  // namespace
}  // namespace tde
