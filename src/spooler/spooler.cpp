#include "spooler/spooler.h"

#include <new>

namespace tde {

SpoolerBuffer FetchTwice(Spooler& spooler,
                         const std::function<bool(uint8_t*, uint32_t, uint32_t*, uint32_t*)>& call,
                         bool zeroFill) {
    SpoolerBuffer result;
    uint32_t needed = 0;
    uint32_t returned = 0;
    const bool answered = call(nullptr, 0, &needed, &returned);
    if (needed == 0) {
        // An empty list answers TRUE; a spooler that cannot be reached answers
        // FALSE with its reason, which is no empty list.
        const uint32_t error = spooler.LastError();
        if (!answered && error != kErrorSuccess && error != kErrorInsufficientBuffer) {
            result.outcome = SpoolerFetch::QueryFailed;
            result.error = error;
            return result;
        }
        result.outcome = SpoolerFetch::NothingNeeded;
        return result;
    }
    if (needed > kMaxSpoolerBufferBytes) {
        result.outcome = SpoolerFetch::AllocationFailed;
        return result;
    }
    result.bytes.reset(zeroFill ? new (std::nothrow) uint8_t[needed]()
                                : new (std::nothrow) uint8_t[needed]);
    if (!result.bytes) {
        result.outcome = SpoolerFetch::AllocationFailed;
        return result;
    }
    result.size = needed;
    returned = 0;
    uint32_t stillNeeded = 0;
    if (call(result.bytes.get(), result.size, &stillNeeded, &returned)) {
        result.outcome = SpoolerFetch::Filled;
        result.count = returned;
    } else {
        result.outcome = SpoolerFetch::FillFailed;
        result.error = spooler.LastError();
    }
    return result;
}

uint32_t RefusalCode(const Spooler& spooler) {
    const uint32_t error = spooler.LastError();
    return error != kErrorSuccess ? error : kErrorUnidentifiedError;
}

std::u16string DefaultPrinterName(Spooler& spooler) {
    uint32_t chars = 0;
    spooler.GetDefaultPrinterW(nullptr, &chars);
    if (chars == 0 || chars > kMaxSpoolerBufferBytes / sizeof(char16_t)) {
        return {};
    }
    std::u16string name(chars, u'\0');
    if (!spooler.GetDefaultPrinterW(name.data(), &chars)) {
        return {};
    }
    // The answer ends at its NUL, never past the buffer.
    name.resize(std::char_traits<char16_t>::length(name.c_str()));
    return name;
}

}  // namespace tde
