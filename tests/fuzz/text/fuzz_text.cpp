// Fuzzes the XML reader and the text table's loaders: any bytes must parse or
// fail cleanly, and every walk over what parsed must stay inside the document.
// The bytes are also the language file the program's start-up picks and loads
// through the resource folder, whose texts then fill in as formats.
#include "archive/archive.h"
#include "archive/platform.h"
#include "base/utf8.h"
#include "text/text.h"

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

// Filling in values adds exactly their lengths to what filling in none gives,
// one value per placeholder, so the format can neither invent nor lose text.
void CheckFormat(std::u16string_view format) {
    static const std::u16string_view values[] = {u"<first value>", u"%s", u""};
    const std::u16string bare = tde::FormatText(format, {});
    const int placeholders = tde::CountPlaceholders(format);
    Check(placeholders >= 0 &&
          bare.size() + 2 * static_cast<size_t>(placeholders) <= format.size());
    for (size_t n = 0; n <= std::size(values); ++n) {
        size_t added = 0;
        for (size_t i = 0; i < n && i < static_cast<size_t>(placeholders); ++i) {
            added += values[i].size();
        }
        Check(tde::FormatText(format, std::span(values, n)).size() == bare.size() + added);
    }
}

// Start-up's language choice for two UI language ids, the chosen file (these
// bytes) loaded into the program's table, and every text the program asks for.
void LoadAsChosenLanguage(const uint8_t* data, size_t size, uint16_t user, uint16_t system) {
    static tde::MemoryResourcePlatform platform;
    const tde::LanguageChoice choice = tde::ChooseLanguage(user, system);
    Check(tde::LanguageFileForComboIndex(choice.comboIndex) == choice.file);
    Check((choice.file == tde::kChineseLanguageFile) ==
          (choice.messageLanguageId == tde::kLanguageChinesePrc));
    tde::SetMessageLanguageId(choice.messageLanguageId);
    Check(tde::MessageLanguageId() == choice.messageLanguageId);

    tde::CUiResources::ResetAll();
    tde::SetResourcePlatform(&platform);
    tde::CUiResources::SetResourceSource(tde::ResourceSource::Folder);
    tde::CUiResources::SetResourceFolder(u"C:\\skin\\");
    platform.files.clear();
    platform.files[u"C:\\skin\\" + std::u16string(choice.file)].assign(data, data + size);
    tde::TextTable& table = tde::GetTextTable();
    table.LoadLanguageFile(choice.file);
    for (const tde::TextKeyInfo& key : tde::TextKeyVocabulary()) {
        CheckFormat(table.GetText(key.key));
    }
    Check(tde::WindowCaption(table) == table.GetText(tde::textkey::kDlgTitle) +
                                           std::u16string(tde::kCaptionSeparator) +
                                           std::u16string(tde::kProductVersionText));
    tde::DestroyTextTable();
    tde::CUiResources::ResetAll();
    tde::SetResourcePlatform(nullptr);
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
            CheckFormat(text);
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

    // The UI language ids come from the last bytes, which XML leaves to
    // whitespace, so the seeds keep their meaning.
    const uint16_t user = size >= 2 ? static_cast<uint16_t>(data[size - 1] << 8 | data[size - 2])
                                    : tde::kLanguageChinesePrc;
    const uint16_t system = size >= 4 ? static_cast<uint16_t>(data[size - 3] << 8 | data[size - 4])
                                      : tde::kLanguageChinesePrc;
    LoadAsChosenLanguage(data, size, user, system);
    LoadAsChosenLanguage(data, size, tde::kLanguageChinesePrc, tde::kLanguageChinesePrc);
    return 0;
}
