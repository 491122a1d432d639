// How the spooler lays out the records it answers: the records at the front of
// the caller's buffer, their strings after them; and the conversions between
// the records' strings and the in-memory spooler's own.
#pragma once

#include "base/errors.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

namespace tde::spooler_layout {

template <typename Record>
struct StringField {
    const char16_t* Record::*field;
    bool multi = false;  // a double-NUL-terminated list
};

inline size_t Chars(const char16_t* text, bool multi) {
    if (text == nullptr) {
        return 0;
    }
    if (!multi) {
        return std::char_traits<char16_t>::length(text) + 1;
    }
    size_t n = 0;
    while (text[n] != 0 || text[n + 1] != 0) {
        ++n;
    }
    return n + 2;
}

// The records at the front of the buffer, their strings after them, as the
// spooler lays them out. Answers 0, or the error of a missing or short buffer.
template <typename Record>
uint32_t Answer(const std::vector<Record>& records,
                std::initializer_list<StringField<Record>> fields, uint8_t* buffer,
                uint32_t bufferSize, uint32_t* needed, uint32_t* returned) {
    uint64_t bytes = records.size() * sizeof(Record);
    for (const Record& record : records) {
        for (const StringField<Record>& f : fields) {
            bytes += Chars(record.*(f.field), f.multi) * sizeof(char16_t);
        }
    }
    if (needed != nullptr) {
        *needed = static_cast<uint32_t>(bytes);
    }
    if (returned != nullptr) {
        *returned = 0;
    }
    if (records.empty()) {
        return 0;
    }
    if (buffer == nullptr || bufferSize < bytes) {
        return kErrorInsufficientBuffer;
    }
    auto* text = reinterpret_cast<char16_t*>(buffer + records.size() * sizeof(Record));
    for (size_t i = 0; i < records.size(); ++i) {
        Record* out = new (buffer + i * sizeof(Record)) Record(records[i]);
        for (const StringField<Record>& f : fields) {
            size_t n = Chars(records[i].*(f.field), f.multi);
            if (n != 0) {
                std::memcpy(text, records[i].*(f.field), n * sizeof(char16_t));
                out->*(f.field) = text;
                text += n;
            }
        }
    }
    if (returned != nullptr) {
        *returned = static_cast<uint32_t>(records.size());
    }
    return 0;
}

inline const char16_t* OrNull(const std::u16string& text) {
    return text.empty() ? nullptr : text.c_str();
}

inline std::u16string Text(const char16_t* text) {
    return text != nullptr ? std::u16string(text) : u"";
}

inline std::vector<std::u16string> SplitMulti(const char16_t* text) {
    std::vector<std::u16string> items;
    if (text == nullptr) {
        return items;
    }
    while (*text != 0) {
        std::u16string item(text);
        text += item.size() + 1;
        items.push_back(std::move(item));
    }
    return items;
}

inline std::u16string JoinMulti(const std::vector<std::u16string>& items) {
    std::u16string joined;
    for (const std::u16string& item : items) {
        joined += item;
        joined.push_back(0);
    }
    joined.push_back(0);
    return joined;
}

}  // namespace tde::spooler_layout
