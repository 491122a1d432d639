// langcheck FILE [FILE...]: the translators' checker for language files.
//
// Loads the files in order into one text table, merging as the installer does,
// prints the table as "key=value" lines sorted by key (line breaks inside a
// text shown as \r and \n), and reports on standard error: keys of the
// installer's vocabulary that are missing, keys it does not know, texts whose
// number of "%s" differs from what the installer fills in, files that are not
// UTF-8 and files too large for the installer to read. With the line, it also
// reports Text elements the installer reads wrongly or not at all: one without
// an id or a value (the installer then pairs the other attribute with one
// remembered from an earlier element), a duplicate id, and a Text element that
// is not directly under the root. It warns about element and attribute names
// with characters outside ASCII, which the installer on Windows classifies as
// the platform does and so may read otherwise than this checker.
// Exit status: 0 clean (warnings allowed), 1 problems reported, 2 a file could
// not be read or parsed.
#include "text/text.h"

#include "base/utf8.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// The largest resource file the installer fetches.
constexpr size_t kMaxResourceFileSize = 4194304;

std::string Narrow(std::u16string_view text) {
    return tde::Utf16ToUtf8(text);
}

std::string Printable(std::u16string_view text) {
    std::string out;
    for (char c : Narrow(text)) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

bool HasNonAscii(std::u16string_view name) {
    return std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= 0x80; });
}

std::string Quoted(std::u16string_view text) {
    return "\"" + Printable(text) + "\"";
}

struct Finding {
    size_t line;
    bool problem;  // a warning otherwise
    std::string text;
};

// Line numbers of positions in the document's text as the reader decoded it.
class LineIndex {
  public:
    explicit LineIndex(const std::vector<uint8_t>& bytes) {
        const uint8_t* data = bytes.data();
        size_t count = bytes.size();
        if (count > 2 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
            data += 3;
            count -= 3;
        }
        std::u16string text;
        tde::DecodeUtf8(data, count, text);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n') {
                breaks_.push_back(i);
            }
        }
    }
    size_t LineOf(size_t offset) const {
        return 1 + static_cast<size_t>(std::lower_bound(breaks_.begin(), breaks_.end(), offset) -
                                       breaks_.begin());
    }

  private:
    std::vector<size_t> breaks_;
};

// What the installer would make of the document's elements, beyond what the
// merged table shows.
std::vector<Finding> CheckElements(const tde::XmlDocument& document, const LineIndex& lines) {
    std::vector<Finding> findings;
    tde::XmlNode root = document.GetRoot();
    std::map<std::u16string, std::vector<size_t>> idLines;
    std::optional<std::u16string> carriedId;
    std::optional<std::u16string> carriedValue;
    // Every element in document order, the top-level ones after the root too;
    // iterative, as nesting may be deep.
    for (tde::XmlNode node = root; node.IsValid();) {
        size_t line = lines.LineOf(node.GetNameOffset());
        if (HasNonAscii(node.GetName())) {
            findings.push_back({line, false,
                                "element name " + Quoted(node.GetName()) +
                                    " has characters outside ASCII; the installer on Windows may "
                                    "not read it as this check does"});
        }
        int count = node.GetAttributeCount();
        for (int i = 0; i < count; ++i) {
            if (HasNonAscii(node.GetAttributeName(i))) {
                findings.push_back({line, false,
                                    "attribute name " + Quoted(node.GetAttributeName(i)) +
                                        " has characters outside ASCII; the installer on Windows "
                                        "may not read it as this check does"});
            }
        }
        if (EqualsIgnoringAsciiCase(node.GetName(), u"Text")) {
            tde::XmlNode parent = node.GetParent();
            if (!parent.IsValid() || parent.GetNameOffset() != root.GetNameOffset()) {
                findings.push_back({line, true,
                                    "Text element not directly under the root element; the "
                                    "installer never reads it"});
            } else {
                // As the installer reads it: the last id and the last value count,
                // and a missing one is taken from an earlier Text element.
                std::optional<std::u16string> id;
                std::optional<std::u16string> value;
                std::string found;
                for (int i = 0; i < count; ++i) {
                    std::u16string_view name = node.GetAttributeName(i);
                    found += (found.empty() ? "" : ", ") + Quoted(name);
                    if (EqualsIgnoringAsciiCase(name, u"id")) {
                        id = node.GetAttributeValue(i);
                    } else if (EqualsIgnoringAsciiCase(name, u"value")) {
                        value = node.GetAttributeValue(i);
                    }
                }
                if (id) {
                    idLines[*id].push_back(line);
                }
                if (!id || !value) {
                    std::string text = "Text element without ";
                    text += !id && !value ? "an \"id\" or a \"value\""
                            : !id         ? "an \"id\""
                                          : "a \"value\"";
                    text += found.empty() ? "; it has no attribute" : "; it has " + found;
                    if (count > 0 && !id && value && carriedId) {
                        text += "; the installer gives its value " + Quoted(*value) +
                                " to the id " + Quoted(*carriedId) + " of an earlier Text element";
                    } else if (count > 0 && id && !value && carriedValue) {
                        text += "; the installer gives its id " + Quoted(*id) + " the value " +
                                Quoted(*carriedValue) + " of an earlier Text element";
                    }
                    findings.push_back({line, true, text});
                }
                if (count > 0) {
                    carriedId = id ? id : carriedId;
                    carriedValue = value ? value : carriedValue;
                }
            }
        }
        if (node.HasChildren()) {
            node = node.GetFirstChild();
            continue;
        }
        while (node.IsValid() && !node.GetNextSibling().IsValid()) {
            node = node.GetParent();
        }
        if (node.IsValid()) {
            node = node.GetNextSibling();
        }
    }
    for (const auto& [id, where] : idLines) {
        if (where.size() < 2) {
            continue;
        }
        std::string list;
        for (size_t i = 0; i + 1 < where.size(); ++i) {
            list += (list.empty() ? "" : ", ") + std::to_string(where[i]);
        }
        findings.push_back(
            {where.back(), true,
             "duplicate id " + Quoted(id) + ", also on line(s) " + list + "; this last one wins"});
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return findings;
}

int Check(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: langcheck FILE [FILE...]\n");
        return 2;
    }
    tde::TextTable table;
    int problems = 0;
    for (int i = 1; i < argc; ++i) {
        const char* path = argv[i];
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", path);
            return 2;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        if (bytes.size() > kMaxResourceFileSize) {
            std::fprintf(stderr, "%s: %zu bytes, more than the %zu the installer reads\n", path,
                         bytes.size(), kMaxResourceFileSize);
            ++problems;
        }
        std::u16string ignored;
        if (!tde::DecodeUtf8(bytes.data(), bytes.size(), ignored)) {
            std::fprintf(stderr, "%s: not valid UTF-8 (save it as UTF-8)\n", path);
            ++problems;
        }
        tde::XmlDocument document;
        if (!document.LoadFromMemory(bytes.data(), bytes.size())) {
            std::fprintf(stderr, "%s: %s at \"%s\"\n", path,
                         Narrow(document.GetLastErrorMessage()).c_str(),
                         Printable(document.GetLastErrorLocation()).c_str());
            return 2;
        }
        if (!table.MergeLanguageDocument(document)) {
            std::fprintf(stderr, "%s: holds no element\n", path);
            return 2;
        }
        for (const Finding& finding : CheckElements(document, LineIndex(bytes))) {
            std::fprintf(stderr, "%s:%zu: %s%s\n", path, finding.line,
                         finding.problem ? "" : "warning: ", finding.text.c_str());
            problems += finding.problem;
        }
    }

    for (const auto& [key, value] : table.Texts()) {
        std::printf("%s=%s\n", Narrow(key).c_str(), Printable(value).c_str());
    }

    for (const tde::TextKeyInfo& info : tde::TextKeyVocabulary()) {
        auto found = table.Texts().find(std::u16string(info.key));
        if (found == table.Texts().end()) {
            std::fprintf(stderr, "missing key: %s\n", Narrow(info.key).c_str());
            ++problems;
            continue;
        }
        int count = tde::CountPlaceholders(found->second);
        if (count != info.placeholders) {
            std::fprintf(stderr, "%s: %d %%s placeholder(s), the installer fills in %d\n",
                         Narrow(info.key).c_str(), count, info.placeholders);
            ++problems;
        }
    }
    for (const auto& entry : table.Texts()) {
        bool known = false;
        for (const tde::TextKeyInfo& info : tde::TextKeyVocabulary()) {
            known = known || info.key == entry.first;
        }
        if (!known) {
            std::fprintf(stderr, "unknown key: %s\n", Narrow(entry.first).c_str());
            ++problems;
        }
    }
    return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return Check(argc, argv);
}
