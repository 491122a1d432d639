// langcheck FILE [FILE...]: the translators' checker for language files.
//
// Loads the files in order into one text table, merging as the installer does,
// prints the table as "key=value" lines sorted by key (line breaks inside a
// text shown as \r and \n), and reports on standard error: keys of the
// installer's vocabulary that are missing, keys it does not know, texts whose
// number of "%s" differs from what the installer fills in, files that are not
// UTF-8 and files too large for the installer to read.
// Exit status: 0 clean, 1 problems reported, 2 a file could not be read or parsed.
#include "text/text.h"
#include "text/unicode.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The largest resource file the installer fetches.
constexpr size_t kMaxResourceFileSize = 4194304;

std::string Narrow(std::u16string_view text) {
    return tde::EncodeUtf8(text);
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
