#include "install/error_text.h"

#include "text/text.h"

namespace tde {

std::u16string SystemErrorText(SystemMessages& messages, uint32_t code) {
    std::u16string text = u"Code:" + DecimalText(code) + u"--->";
    if (std::optional<std::u16string> message = messages.Message(code, MessageLanguageId())) {
        text += *message;
    }
    return text;
}

}  // namespace tde
