// LoadFromFile: the document's bytes come through the resource fetch (the
// embedded archive, or the resource folder when no archive is registered).
#include "text/text.h"

#include "archive/archive.h"
#include "base/utf8.h"

namespace tde {

bool XmlDocument::LoadFromFile(std::u16string_view name) {
    Clear();
    std::vector<uint8_t> bytes;
    std::string error;
    if (!FetchResourceFile(name, bytes, error)) {
        std::u16string message;
        DecodeUtf8(reinterpret_cast<const uint8_t*>(error.data()), error.size(), message);
        SetError(message, {});
        return false;
    }
    bool ok = LoadFromMemory(bytes.data(), bytes.size());
    return ok;
}

}  // namespace tde
