// Localised texts: the program's own small XML reader, the process-wide table
// of texts looked up by key, the language choice, the vocabulary of keys, and
// safe filling of texts that carry "%s" placeholders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// ---------------------------------------------------------------------------
// XML reader
//
// The document is decoded into one UTF-16 buffer and parsed in place into a flat
// array of elements linked as a tree. The subset understood: elements, attributes
// in double quotes, text content, the five named entities (decoded one level),
// comments and declarations (skipped). Nothing is validated beyond that.
// Nesting depth is bounded only by memory: the parser and every walk over the
// tree are iterative.

class XmlDocument;

// A handle on one element. Valid only while its document is neither reloaded nor
// destroyed. Attributes are mapped on first use, at most kMaxAttributes of them.
class XmlNode {
  public:
    static constexpr int kMaxAttributes = 64;

    XmlNode() = default;

    bool IsValid() const;
    // The element's name; an empty view with a null data() for an invalid node.
    std::u16string_view GetName() const;
    // The decoded text content up to the first child element.
    std::u16string_view GetValue() const;
    XmlNode GetParent() const;
    // Invalid nodes when there is none.
    XmlNode GetFirstChild() const;
    XmlNode GetNextSibling() const;
    bool HasChildren() const;
    // Where the element's name starts in the document's text, in UTF-16 code
    // units after an optional byte-order mark; for messages that point into a
    // file. 0 for an invalid node.
    size_t GetNameOffset() const;

    bool HasAttributes() const;
    int GetAttributeCount() const;
    // By position: an empty text outside the attribute list, a null view for an
    // invalid node.
    std::u16string_view GetAttributeName(int index) const;
    std::u16string_view GetAttributeValue(int index) const;

  private:
    friend class XmlDocument;
    XmlNode(const XmlDocument* document, uint32_t element)
        : document_(document), element_(element) {}
    void MapAttributes() const;

    const XmlDocument* document_ = nullptr;
    uint32_t element_ = 0;
    mutable bool mapped_ = false;
    mutable int attributeCount_ = 0;
    // Offsets into the document's buffer: name, value, name, value...
    mutable uint32_t attributes_[kMaxAttributes * 2] = {};
};

class XmlDocument {
  public:
    static constexpr size_t kMaxErrorMessage = 99;
    static constexpr size_t kMaxErrorLocation = 49;

    XmlDocument() = default;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Fetches the named resource file (archive or resource folder) and parses it.
    bool LoadFromFile(std::u16string_view name);
    // UTF-8 bytes, optionally starting with EF BB BF.
    bool LoadFromMemory(const uint8_t* bytes, size_t count);
    // The text up to its first NUL.
    bool LoadFromString(std::u16string_view text);
    void Clear();

    // The first element of the document. A document without any element (only
    // whitespace, comments or declarations, or nothing loaded) answers an invalid
    // node.
    XmlNode GetRoot() const;

    const std::u16string& GetLastErrorMessage() const { return errorMessage_; }
    const std::u16string& GetLastErrorLocation() const { return errorLocation_; }

    // Elements parsed (entry 0, reserved, not counted) and the array's capacity,
    // which grows by capacity / 2 + 500 entries whenever it is full.
    size_t GetElementCount() const { return elements_.empty() ? 0 : elements_.size() - 1; }
    size_t GetElementCapacity() const { return capacity_; }

  private:
    friend class XmlNode;
    friend class XmlParser;

    struct Element {
        uint32_t name = 0;             // offset of the NUL-terminated name
        uint32_t firstChild = 0;       // 0: none
        uint32_t nextSibling = 0;      // 0: none
        uint32_t parent = 0;           // 0: top level
        uint32_t text = 0;             // offset of the NUL-terminated text content
        uint32_t attributesBegin = 0;  // stretch that holds the attributes
        uint32_t attributesEnd = 0;
    };

    bool Parse();
    void SetError(std::u16string_view message, std::u16string_view location);
    bool Fail(std::u16string_view message, size_t position);
    uint32_t AppendElement();
    bool Exists(uint32_t element) const { return element != 0 && element < elements_.size(); }

    std::u16string buffer_;
    std::vector<Element> elements_;
    size_t capacity_ = 0;
    std::u16string errorMessage_;
    std::u16string errorLocation_;
};

// ---------------------------------------------------------------------------
// Text table

class TextTable {
  public:
    // The text of a key. No key (null): an empty text. A key without text: the
    // key itself, so missing texts show up verbatim.
    std::u16string GetText(const char16_t* key) const;
    std::u16string GetText(std::u16string_view key) const;

    // Parses the named language file ("<" as first character: the name is the XML
    // text itself) and merges its texts into the table. False, table unchanged,
    // when the file cannot be fetched or parsed or holds no element.
    bool LoadLanguageFile(std::u16string_view name);
    // The merge step of LoadLanguageFile over an already parsed document.
    bool MergeLanguageDocument(const XmlDocument& document);

    // Parses the resource index into the table's own document and collects its
    // Image and Xml entries; the first entry of an id wins.
    bool LoadResourceIndex(std::u16string_view name);

    const std::map<std::u16string, std::u16string>& Texts() const { return texts_; }
    const std::map<std::u16string, std::u16string>& ImagePaths() const { return imagePaths_; }
    const std::map<std::u16string, std::u16string>& XmlPaths() const { return xmlPaths_; }

  private:
    std::map<std::u16string, std::u16string> texts_;
    std::map<std::u16string, std::u16string> imagePaths_;
    std::map<std::u16string, std::u16string> xmlPaths_;
    XmlDocument indexDocument_;
};

// The process-wide table, created on first use (safe when two threads make the
// first call together).
TextTable& GetTextTable();
// Shutdown: destroys the table with all its texts. A later GetTextTable starts
// a new, empty one.
void DestroyTextTable();

// ---------------------------------------------------------------------------
// Languages

inline constexpr uint16_t kLanguageEnglishUs = 1033;
inline constexpr uint16_t kLanguageChinesePrc = 2052;

inline constexpr std::u16string_view kChineseLanguageFile = u"lan_cn.xml";
inline constexpr std::u16string_view kEnglishLanguageFile = u"lan_en.xml";
inline constexpr std::u16string_view kResourceIndexFile = u"res.xml";

// The language in which system error texts are requested: 1033 until the
// language choice at dialog initialisation picks Chinese.
uint16_t MessageLanguageId();
void SetMessageLanguageId(uint16_t language);

struct LanguageChoice {
    std::u16string_view file;    // the language file to load
    uint16_t messageLanguageId;  // the value for MessageLanguageId
    int comboIndex;              // the item of the language combo box to select
};

// Chinese only when both the user's and the system's UI language are 2052.
LanguageChoice ChooseLanguage(uint16_t userUiLanguage, uint16_t systemUiLanguage);
// The language combo box: index 1 is Chinese, everything else (also no
// selection, -1) English.
std::u16string_view LanguageFileForComboIndex(int index);

// ---------------------------------------------------------------------------
// Vocabulary of keys

namespace textkey {
inline constexpr std::u16string_view kDlgTitle = u"tip.dlgtitle";
inline constexpr std::u16string_view kSystemVersion = u"tip.title.systemversion";
inline constexpr std::u16string_view k32Bit = u"tip.title.32bit";
inline constexpr std::u16string_view k64Bit = u"tip.title.64bit";
inline constexpr std::u16string_view kPrinterModelSet = u"tip.title.printermodelset";
inline constexpr std::u16string_view kPrinterModel = u"tip.title.printermodel";
inline constexpr std::u16string_view kDefaultPrinter = u"tip.title.defaultprinter";
inline constexpr std::u16string_view kPort = u"tip.title.port";
inline constexpr std::u16string_view kSelectPort = u"tip.title.selport";
inline constexpr std::u16string_view kUsbDetect = u"tip.title.usbchecked";
inline constexpr std::u16string_view kBeginInstall = u"tip.btn.begininstall";
inline constexpr std::u16string_view kCancel = u"tip.btn.cancel";
inline constexpr std::u16string_view kUiLanguage = u"tip.title.uilanguage";

inline constexpr std::u16string_view kNoUsbPort = u"tip.notselectusbport";
// %s: the system error text.
inline constexpr std::u16string_view kCopyFileFail = u"tip.copyfilefail";
// %s: the archive item path, %s: the system error text.
inline constexpr std::u16string_view kCopyFileFailLog = u"tip.copyfilefail2";
inline constexpr std::u16string_view kInstallDriverFail = u"tip.installdriverfail2";
inline constexpr std::u16string_view kInstallDriverSuccess = u"tip.installdriversuccess";
// %s: the system error text.
inline constexpr std::u16string_view kInstallPrinterFail = u"tip.installprinterfail";
// Another run (a quiet one) holds the installer's lock.
inline constexpr std::u16string_view kInstallerBusy = u"tip.installerbusy";

// The check before an installation: the box's heading, one text per finding,
// and the hint after a refused driver on Windows 11 24H2 and later.
inline constexpr std::u16string_view kCheckCannotInstall = u"tip.check.cannotinstall";
inline constexpr std::u16string_view kCheckSpooler = u"tip.check.spooler";
inline constexpr std::u16string_view kCheckSpoolerDisabled = u"tip.check.spoolerdisabled";
inline constexpr std::u16string_view kCheckSpoolerStopped = u"tip.check.spoolerstopped";
inline constexpr std::u16string_view kCheckProtectedPrint = u"tip.check.protectedprint";
inline constexpr std::u16string_view kCheckNotAdmin = u"tip.check.notadmin";
// %s: the damaged file.
inline constexpr std::u16string_view kCheckDamaged = u"tip.check.damaged";
// %s: the drive, %s: the megabytes needed.
inline constexpr std::u16string_view kCheckDiskSpace = u"tip.check.diskspace";
inline constexpr std::u16string_view kCheckArm64 = u"tip.check.arm64";
inline constexpr std::u16string_view kCheckProtectedPrintHint = u"tip.check.protectedprinthint";

// The network-printer item of the system menu and its small dialog.
inline constexpr std::u16string_view kNetMenu = u"tip.netprinter.menu";
inline constexpr std::u16string_view kNetTitle = u"tip.netprinter.title";
inline constexpr std::u16string_view kNetAddress = u"tip.netprinter.address";
inline constexpr std::u16string_view kNetOk = u"tip.netprinter.ok";
inline constexpr std::u16string_view kNetCancel = u"tip.netprinter.cancel";
inline constexpr std::u16string_view kNetChecking = u"tip.netprinter.checking";
// %s: what was typed.
inline constexpr std::u16string_view kNetMalformed = u"tip.netprinter.malformed";
// %s: the address.
inline constexpr std::u16string_view kNetNoAnswer = u"tip.netprinter.noanswer";
// %s: the port's name.
inline constexpr std::u16string_view kNetNameTaken = u"tip.netprinter.nametaken";
// %s: the system error text.
inline constexpr std::u16string_view kNetRefused = u"tip.netprinter.refused";
}  // namespace textkey

struct TextKeyInfo {
    std::u16string_view key;
    int placeholders;  // how many "%s" the text carries
};

// Every key the program looks up, each once.
std::span<const TextKeyInfo> TextKeyVocabulary();

struct CaptionKey {
    int controlId;  // the control of dialog template 102
    std::u16string_view key;
};

// The control captions of the main dialog, in the order they are set (the
// window caption, tip.dlgtitle, comes first and is not listed).
std::span<const CaptionKey> DialogCaptionKeys();

// " - " and the product version, shown after the text of tip.dlgtitle.
extern const std::u16string_view kProductVersionText;  // "V" and version.h's version
inline constexpr std::u16string_view kCaptionSeparator = u" - ";
// GetText(tip.dlgtitle) + " - " + "V" and the version, e.g. "V1.0.14".
std::u16string WindowCaption(const TextTable& table);

// ---------------------------------------------------------------------------
// Formatting

// Fills a text from a language file that is used as a format. Every "%s" takes
// the next value in order, "%%" gives "%", and everything else, other
// conversion specifiers included, is copied as written. Values beyond the
// placeholders are dropped; placeholders beyond the values become empty. The
// text is never handed to printf, so a translation cannot make the program read
// a missing argument or write memory.
std::u16string FormatText(std::u16string_view format,
                          std::initializer_list<std::u16string_view> values);
std::u16string FormatText(std::u16string_view format, std::span<const std::u16string_view> values);
// The number in decimal digits, with a minus sign when negative.
std::u16string DecimalText(int64_t value);
// The number of "%s" placeholders FormatText sees in a text.
int CountPlaceholders(std::u16string_view format);

}  // namespace tde
