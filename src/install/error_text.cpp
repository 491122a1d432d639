#include "install/error_text.h"

#include "text/text.h"

namespace tde {

std::u16string SystemErrorText(SystemMessages& messages, uint32_t code) {
    std::u16string text = u"Code:";
    for (char c : std::to_string(code)) {
        text.push_back(static_cast<char16_t>(c));
    }
    text += u"--->";
    if (std::optional<std::u16string> message = messages.Message(code, MessageLanguageId())) {
        text += *message;
    }
    return text;
}

}  // namespace tde
