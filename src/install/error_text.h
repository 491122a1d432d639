// The text of a system error code, as the installer shows and logs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tde {

class SystemMessages {
  public:
    virtual ~SystemMessages() = default;
    // The system's message for the code in the language (FormatMessageW from the
    // system, inserts ignored), as the system returns it; nullopt when it has none.
    virtual std::optional<std::u16string> Message(uint32_t code, uint16_t languageId) = 0;
};

// "Code:" + decimal code + "--->" + the system's message in MessageLanguageId();
// the prefix stays when the system has no message for the code.
std::u16string SystemErrorText(SystemMessages& messages, uint32_t code);

#ifdef _WIN32
// FormatMessageW; also writes "Error: <message>" to standard output.
class Win32SystemMessages final : public SystemMessages {
  public:
    std::optional<std::u16string> Message(uint32_t code, uint16_t languageId) override;
};
#endif

}  // namespace tde
