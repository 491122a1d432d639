#include "text/text.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

namespace tde {

namespace {

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x >= u'A' && x <= u'Z') {
            x = static_cast<char16_t>(x - u'A' + u'a');
        }
        if (y >= u'A' && y <= u'Z') {
            y = static_cast<char16_t>(y - u'A' + u'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// Parses a name: a text that starts with "<" is the document itself.
bool LoadDocument(XmlDocument& document, std::u16string_view name) {
    if (!name.empty() && name.front() == u'<') {
        return document.LoadFromString(name);
    }
    return document.LoadFromFile(name);
}

}  // namespace

std::u16string TextTable::GetText(const char16_t* key) const {
    if (key == nullptr) {
        return std::u16string();
    }
    return GetText(std::u16string_view(key));
}

std::u16string TextTable::GetText(std::u16string_view key) const {
    auto found = texts_.find(std::u16string(key));
    if (found != texts_.end()) {
        return found->second;
    }
    return std::u16string(key);
}

bool TextTable::LoadLanguageFile(std::u16string_view name) {
    XmlDocument document;
    if (!LoadDocument(document, name)) {
        return false;
    }
    return MergeLanguageDocument(document);
}

bool TextTable::MergeLanguageDocument(const XmlDocument& document) {
    XmlNode root = document.GetRoot();
    if (!root.IsValid()) {
        return false;  // nothing that could be a language file
    }
    // A Text element missing one of its attributes pairs the other with the one
    // remembered from an earlier element, for the whole load.
    std::optional<std::u16string> key;
    std::optional<std::u16string> text;
    for (XmlNode child = root.GetFirstChild(); child.IsValid(); child = child.GetNextSibling()) {
        if (!EqualsIgnoringAsciiCase(child.GetName(), u"Text") || !child.HasAttributes()) {
            continue;
        }
        int count = child.GetAttributeCount();
        for (int i = 0; i < count; ++i) {
            std::u16string_view attribute = child.GetAttributeName(i);
            if (EqualsIgnoringAsciiCase(attribute, u"id")) {
                key = child.GetAttributeValue(i);
            } else if (EqualsIgnoringAsciiCase(attribute, u"value")) {
                text = child.GetAttributeValue(i);
            }
        }
        if (key && text) {
            texts_[*key] = *text;
        }
    }
    return true;
}

bool TextTable::LoadResourceIndex(std::u16string_view name) {
    if (!LoadDocument(indexDocument_, name)) {
        return false;
    }
    XmlNode root = indexDocument_.GetRoot();
    if (!root.IsValid()) {
        return false;
    }
    // Depth first over the root's descendants without recursion: one frame per
    // sibling list, each with the id and path carried among its siblings.
    struct Frame {
        XmlNode node;
        std::optional<std::u16string> id;
        std::optional<std::u16string> path;
    };
    std::vector<Frame> stack;
    stack.push_back({root.GetFirstChild(), std::nullopt, std::nullopt});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (!frame.node.IsValid()) {
            stack.pop_back();
            continue;
        }
        XmlNode node = frame.node;
        frame.node = node.GetNextSibling();
        if (node.HasChildren()) {
            stack.push_back({node.GetFirstChild(), std::nullopt, std::nullopt});
            continue;
        }
        std::map<std::u16string, std::u16string>* paths = nullptr;
        if (EqualsIgnoringAsciiCase(node.GetName(), u"Image")) {
            paths = &imagePaths_;
        } else if (EqualsIgnoringAsciiCase(node.GetName(), u"Xml")) {
            paths = &xmlPaths_;
        } else {
            continue;
        }
        int count = node.GetAttributeCount();
        for (int i = 0; i < count; ++i) {
            std::u16string_view attribute = node.GetAttributeName(i);
            if (EqualsIgnoringAsciiCase(attribute, u"id")) {
                frame.id = node.GetAttributeValue(i);
            } else if (EqualsIgnoringAsciiCase(attribute, u"path")) {
                frame.path = node.GetAttributeValue(i);
            }
        }
        if (frame.id && frame.path) {
            paths->emplace(*frame.id, *frame.path);  // the first entry of an id wins
        }
    }
    return true;
}

// ---------------------------------------------------------------------------

namespace {

std::atomic<TextTable*> g_table{nullptr};
std::mutex g_tableMutex;
std::atomic<uint16_t> g_messageLanguageId{kLanguageEnglishUs};

}  // namespace

TextTable& GetTextTable() {
    TextTable* table = g_table.load(std::memory_order_acquire);
    if (table != nullptr) {
        return *table;
    }
    std::lock_guard<std::mutex> lock(g_tableMutex);
    table = g_table.load(std::memory_order_relaxed);
    if (table == nullptr) {
        table = new TextTable();
        g_table.store(table, std::memory_order_release);
    }
    return *table;
}

void DestroyTextTable() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    delete g_table.exchange(nullptr, std::memory_order_acq_rel);
}

uint16_t MessageLanguageId() {
    return g_messageLanguageId.load(std::memory_order_relaxed);
}

void SetMessageLanguageId(uint16_t language) {
    g_messageLanguageId.store(language, std::memory_order_relaxed);
}

LanguageChoice ChooseLanguage(uint16_t userUiLanguage, uint16_t systemUiLanguage) {
    if (userUiLanguage == kLanguageChinesePrc && systemUiLanguage == kLanguageChinesePrc) {
        return {kChineseLanguageFile, kLanguageChinesePrc, 1};
    }
    return {kEnglishLanguageFile, kLanguageEnglishUs, 0};
}

std::u16string_view LanguageFileForComboIndex(int index) {
    return index == 1 ? kChineseLanguageFile : kEnglishLanguageFile;
}

}  // namespace tde
