#include "text/text.h"
#include "version.h"

namespace tde {

const std::u16string_view kProductVersionText = u"V" TDE_VERSION_TEXT;

namespace {

constexpr TextKeyInfo kVocabulary[] = {
    {textkey::kDlgTitle, 0},
    {textkey::kSystemVersion, 0},
    {textkey::k32Bit, 0},
    {textkey::k64Bit, 0},
    {textkey::kPrinterModelSet, 0},
    {textkey::kPrinterModel, 0},
    {textkey::kDefaultPrinter, 0},
    {textkey::kPort, 0},
    {textkey::kSelectPort, 0},
    {textkey::kUsbDetect, 0},
    {textkey::kBeginInstall, 0},
    {textkey::kCancel, 0},
    {textkey::kUiLanguage, 0},
    {textkey::kNoUsbPort, 0},
    {textkey::kCopyFileFail, 1},
    {textkey::kCopyFileFailLog, 2},
    {textkey::kInstallDriverFail, 0},
    {textkey::kInstallDriverSuccess, 0},
    {textkey::kInstallPrinterFail, 1},
    {textkey::kInstallerBusy, 0},
    {textkey::kCheckCannotInstall, 0},
    {textkey::kCheckSpooler, 0},
    {textkey::kCheckSpoolerDisabled, 0},
    {textkey::kCheckSpoolerStopped, 0},
    {textkey::kCheckProtectedPrint, 0},
    {textkey::kCheckNotAdmin, 0},
    {textkey::kCheckDamaged, 1},
    {textkey::kCheckDiskSpace, 2},
    {textkey::kCheckArm64, 0},
    {textkey::kCheckProtectedPrintHint, 0},
    {textkey::kNetMenu, 0},
    {textkey::kNetTitle, 0},
    {textkey::kNetAddress, 0},
    {textkey::kNetOk, 0},
    {textkey::kNetCancel, 0},
    {textkey::kNetChecking, 0},
    {textkey::kNetMalformed, 1},
    {textkey::kNetNoAnswer, 1},
    {textkey::kNetNameTaken, 1},
    {textkey::kNetRefused, 1},
};

// Control ids of dialog template 102.
constexpr CaptionKey kCaptions[] = {
    {1002, textkey::kSystemVersion}, {1004, textkey::k32Bit},
    {1003, textkey::k64Bit},         {1005, textkey::kPrinterModelSet},
    {1006, textkey::kPrinterModel},  {1008, textkey::kDefaultPrinter},
    {1009, textkey::kPort},          {1010, textkey::kSelectPort},
    {1012, textkey::kUsbDetect},     {1000, textkey::kBeginInstall},
    {1001, textkey::kCancel},        {1014, textkey::kUiLanguage},
};

}  // namespace

std::span<const TextKeyInfo> TextKeyVocabulary() {
    return kVocabulary;
}

std::span<const CaptionKey> DialogCaptionKeys() {
    return kCaptions;
}

std::u16string WindowCaption(const TextTable& table) {
    std::u16string caption = table.GetText(textkey::kDlgTitle);
    caption += kCaptionSeparator;
    caption += kProductVersionText;
    return caption;
}

std::u16string FormatText(std::u16string_view format,
                          std::initializer_list<std::u16string_view> values) {
    return FormatText(format, std::span<const std::u16string_view>(values.begin(), values.size()));
}

std::u16string FormatText(std::u16string_view format, std::span<const std::u16string_view> values) {
    std::u16string out;
    out.reserve(format.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u's') {
                if (next < values.size()) {
                    out += values[next];
                }
                ++next;
                ++i;
                continue;
            }
            if (format[i + 1] == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::u16string DecimalText(int64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

int CountPlaceholders(std::u16string_view format) {
    int count = 0;
    for (size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] == u'%') {
            if (format[i + 1] == u's') {
                ++count;
            }
            ++i;  // "%s" and "%%" are read as pairs
        }
    }
    return count;
}

}  // namespace tde
