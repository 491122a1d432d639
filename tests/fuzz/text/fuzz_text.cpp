// Fuzzes the XML reader and the text table's loaders: any bytes must parse or
// fail cleanly, and every walk over what parsed must stay inside the document.
#include "text/text.h"
#include "text/unicode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Walk(const tde::XmlDocument& doc) {
    size_t seen = 0;
    std::vector<tde::XmlNode> stack;
    for (tde::XmlNode top = doc.GetRoot(); top.IsValid(); top = top.GetNextSibling()) {
        stack.push_back(top);
        while (!stack.empty()) {
            tde::XmlNode node = stack.back();
            stack.pop_back();
            ++seen;
            Check(seen <= doc.GetElementCount());
            Check(node.GetName().data() != nullptr);
            Check(node.GetValue().data() != nullptr);
            int count = node.GetAttributeCount();
            Check(count >= 0 && count <= tde::XmlNode::kMaxAttributes);
            for (int i = -1; i <= count; ++i) {
                Check(node.GetAttributeName(i).data() != nullptr);
                Check(node.GetAttributeValue(i).data() != nullptr);
            }
            for (tde::XmlNode child = node.GetFirstChild(); child.IsValid();
                 child = child.GetNextSibling()) {
                Check(child.GetParent().GetName().data() == node.GetName().data());
                stack.push_back(child);
            }
        }
    }
    Check(seen == doc.GetElementCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tde::XmlDocument doc;
    if (doc.LoadFromMemory(data, size)) {
        Check(doc.GetLastErrorMessage().empty());
        Walk(doc);
        tde::TextTable table;
        bool merged = table.MergeLanguageDocument(doc);
        Check(merged == doc.GetRoot().IsValid());
        for (const auto& [key, text] : table.Texts()) {
            Check(table.GetText(key) == text);
            std::u16string_view values[] = {key, text};
            std::u16string filled = tde::FormatText(text, values);
            // Filling never invents text: every character comes from the
            // format or a value.
            Check(filled.size() <= text.size() + static_cast<size_t>(tde::CountPlaceholders(text)) *
                                                     (key.size() + text.size()));
        }
    } else {
        Check(!doc.GetLastErrorMessage().empty());
        Check(doc.GetLastErrorMessage().size() <= tde::XmlDocument::kMaxErrorMessage);
        Check(doc.GetLastErrorLocation().size() <= tde::XmlDocument::kMaxErrorLocation);
        Check(!doc.GetRoot().IsValid());
    }

    // The same text through the loaders' string route.
    std::u16string text;
    tde::DecodeUtf8(data, size, text);
    if (!text.empty() && text.front() == u'<') {
        tde::TextTable table;
        table.LoadLanguageFile(text);
        table.LoadResourceIndex(text);
    }
    // Raw UTF-16 code units reach surrogates and characters UTF-8 decoding never makes.
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i + 1 < size; i += 2) {
        units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    tde::XmlDocument wide;
    if (wide.LoadFromString(units)) {
        Walk(wide);
    }
    return 0;
}
