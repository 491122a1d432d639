// The translators' checker, run as translators run it.
#include "text/text.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Langcheck : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/langcheck-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& content) {
        fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    Result Run(const std::string& args) {
        Result r;
        std::string command = std::string(LANGCHECK) + " " + args + " >" + (dir_ / "out").string() +
                              " 2>" + (dir_ / "err").string();
        int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(dir_ / "out");
        r.err = ReadAll(dir_ / "err");
        return r;
    }

    std::string Shipped(const char* name) { return std::string(PAYLOAD_DIR) + "/" + name; }

    fs::path dir_;
};

TEST_F(Langcheck, ShippedFilesAreCleanAndMergeInOrder) {
    Result cn = Run(Shipped("lan_cn.xml"));
    EXPECT_EQ(cn.status, 0) << cn.err;
    EXPECT_EQ(cn.err, "");
    EXPECT_NE(cn.out.find("tip.btn.cancel=退出\n"), std::string::npos);

    Result both = Run(Shipped("lan_cn.xml") + " " + Shipped("lan_en.xml"));
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_NE(both.out.find("tip.btn.cancel=Exit\n"), std::string::npos);
    // One line per key, sorted.
    EXPECT_EQ(both.out.rfind("tip.btn.begininstall=", 0), 0u);
    size_t lines = 0;
    for (char c : both.out) {
        lines += c == '\n';
    }
    EXPECT_EQ(lines, 40u);
}

TEST_F(Langcheck, ReportsMissingUnknownAndMiscountedKeys) {
    std::string a = Write("a.xml",
                          "<L><Text id=\"tip.copyfilefail\" value=\"no placeholder\"/>"
                          "<Text id=\"tip.btn.cancel\" value=\"Exit %s\"/>"
                          "<Text id=\"tip.mistyped\" value=\"x\"/>"
                          "<Text id=\"tip.copyfilefail2\" value=\"%s: %s\nline two\"/></L>");
    Result r = Run(a);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing key: tip.dlgtitle\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing key: tip.installprinterfail\n"), std::string::npos);
    EXPECT_NE(r.err.find("unknown key: tip.mistyped\n"), std::string::npos);
    EXPECT_NE(r.err.find("tip.copyfilefail: 0 %s placeholder(s), the installer fills in 1"),
              std::string::npos);
    EXPECT_NE(r.err.find("tip.btn.cancel: 1 %s placeholder(s), the installer fills in 0"),
              std::string::npos);
    EXPECT_EQ(r.err.find("tip.copyfilefail2:"), std::string::npos);
    EXPECT_NE(r.out.find("tip.copyfilefail2=%s: %s\\nline two\n"), std::string::npos);

    // A later file completes an earlier one: every key, with as many %s as the
    // installer fills in.
    std::string rest = "<L>";
    for (const tde::TextKeyInfo& info : tde::TextKeyVocabulary()) {
        std::string value = info.placeholders == 0 ? "t" : "";
        for (int n = 0; n < info.placeholders; ++n) {
            value += "%s ";
        }
        rest += "<Text id=\"" + std::string(info.key.begin(), info.key.end()) + "\" value=\"" +
                value + "\"/>";
    }
    rest += "</L>";
    std::string b = Write("b.xml", rest);
    Result merged = Run(a + " " + b);
    EXPECT_EQ(merged.status, 1);
    EXPECT_EQ(merged.err.find("missing key"), std::string::npos) << merged.err;
    EXPECT_NE(merged.err.find("unknown key: tip.mistyped"), std::string::npos);
    Result clean = Run(Shipped("lan_en.xml") + " " + b);
    EXPECT_EQ(clean.status, 0) << clean.err;
}

// Each snippet goes into the shipped English file just before its closing tag,
// so whatever is reported comes from the snippet alone.
TEST_F(Langcheck, NamesTextElementsTheInstallerMisreadsWithTheirLines) {
    struct Expected {
        int line;  // within the snippet, from 1
        const char* text;
    };
    struct Case {
        const char* snippet;
        int status;
        std::vector<Expected> expected;
        const char* after = "";  // after the root element
    };
    // "@" in an expected text stands for the snippet's first line.
    const Case cases[] = {
        {"<Text id=\"tip.extra\" valeu=\"Quit\"/>\n",
         1,
         {{1,
           "Text element without a \"value\"; it has \"id\", \"valeu\"; the installer gives "
           "its id \"tip.extra\" the value \""}}},
        {"<Text iD=\"tip.dlgtitle\" value=\"T\"/>\n<TEXT Value=\"Quit\"/>\n",
         1,
         {{1, "duplicate id \"tip.dlgtitle\", also on line(s) 5; this last one wins"},
          {2,
           "Text element without an \"id\"; it has \"Value\"; the installer gives its value "
           "\"Quit\" to the id \"tip.dlgtitle\" of an earlier Text element"}}},
        {"<Text/>\n<Text =\"x\"/>\n",
         1,
         {{1, "Text element without an \"id\" or a \"value\"; it has no attribute\n"},
          {2, "Text element without an \"id\" or a \"value\"; it has \"\"\n"}}},
        {"<Text id=\"tip.btn.cancel\" value=\"A\"/>\n<Text id=\"tip.btn.cancel\" value=\"B\"/>\n",
         1,
         {{2, "duplicate id \"tip.btn.cancel\", also on line(s) 18, @; this last one wins"}}},
        {"<Group>\n  <Text id=\"tip.x\" value=\"never\"/>\n</Group>\n",
         1,
         {{2, "Text element not directly under the root element; the installer never reads it"},
          {5, "Text element not directly under the root element; the installer never reads it"}},
         "<text id=\"tip.y\" value=\"n\"/>\n"},
        {"<名前 属性=\"x\" ok=\"y\"/>\n",
         0,
         {{1, "warning: element name \"名前\" has characters outside ASCII"},
          {1, "warning: attribute name \"属性\" has characters outside ASCII"}}},
    };
    std::string shipped = ReadAll(Shipped("lan_en.xml"));
    size_t at = shipped.find("</Language>");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(shipped.back(), '\n');  // what follows the root starts a line
    int base = 1 + static_cast<int>(std::count(shipped.begin(), shipped.begin() + at, '\n'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.snippet);
        // A byte-order mark must not shift the lines.
        std::string content = "\xEF\xBB\xBF" + shipped;
        content.insert(3 + at, c.snippet);
        content += c.after;
        std::string path = Write("s.xml", content);
        Result r = Run(path);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const Expected& e : c.expected) {
            std::string text = e.text;
            if (size_t mark = text.find('@'); mark != std::string::npos) {
                text.replace(mark, 1, std::to_string(base));
            }
            std::string line = path + ":" + std::to_string(base + e.line - 1) + ": " + text;
            EXPECT_NE(r.err.find(line), std::string::npos) << line << "\nin\n" << r.err;
        }
        // Nothing else is named with a line.
        size_t named = 0;
        for (size_t p = r.err.find(path + ":"); p != std::string::npos;
             p = r.err.find(path + ":", p + 1)) {
            ++named;
        }
        EXPECT_EQ(named, c.expected.size()) << r.err;
        EXPECT_NE(r.out.find("tip.btn.cancel="), std::string::npos);
    }
}

TEST_F(Langcheck, BrokenFilesEndWithStatusTwoAndTheReadersMessage) {
    Result quotes = Run(Write("q.xml", "<L>\n  <Text id='tip.dlgtitle' value=\"x\"/>\n</L>"));
    EXPECT_EQ(quotes.status, 2);
    EXPECT_NE(
        quotes.err.find("Expected attribute value at \"'tip.dlgtitle' value=\"x\"/>\\n</L>\""),
        std::string::npos)
        << quotes.err;
    EXPECT_EQ(quotes.out, "");

    Result empty = Run(Write("e.xml", "<!-- nothing here -->"));
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("holds no element"), std::string::npos);

    EXPECT_EQ(Run((dir_ / "absent.xml").string()).status, 2);
    EXPECT_EQ(Run("").status, 2);
}

TEST_F(Langcheck, FlagsFilesThatAreNotUtf8) {
    // "退出" in GBK, as an editor saving in the local code page would write it.
    std::string gbk = ReadAll(Shipped("lan_en.xml"));
    size_t at = gbk.find("value=\"Exit\"");
    ASSERT_NE(at, std::string::npos);
    gbk.replace(at, 12, "value=\"\xCD\xCB\xB3\xF6\"");
    Result r = Run(Write("gbk.xml", gbk));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not valid UTF-8"), std::string::npos) << r.err;
}

}  // namespace
