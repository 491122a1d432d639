#include "ports/tcp_address.h"

#include <algorithm>
#include <vector>

namespace tde {

namespace {

using View = std::u16string_view;

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
char16_t LowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
std::optional<uint32_t> HexDigit(char16_t c) {
    if (IsDigit(c)) {
        return c - u'0';
    }
    char16_t lower = LowerAscii(c);
    if (lower >= u'a' && lower <= u'f') {
        return lower - u'a' + 10;
    }
    return std::nullopt;
}

// A decimal of 1 to `maxDigits` digits, no sign, no spaces.
std::optional<uint32_t> Decimal(View text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char16_t c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::optional<std::array<uint8_t, 4>> Ipv4(View text) {
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < 4; ++i) {
        size_t dot = i < 3 ? text.find(u'.') : View::npos;
        if (i < 3 && dot == View::npos) {
            return std::nullopt;
        }
        View part = text.substr(0, dot);
        std::optional<uint32_t> value = Decimal(part, 3);
        if (!value || *value > 255 || (part.size() > 1 && part[0] == u'0')) {
            return std::nullopt;
        }
        bytes[i] = static_cast<uint8_t>(*value);
        text = i < 3 ? text.substr(dot + 1) : View();
    }
    return bytes;
}

// Colon-separated groups of 1-4 hex digits; the last one of the address may be
// a dotted IPv4 address standing for two groups.
bool Ipv6Groups(View part, bool endsAddress, std::vector<uint16_t>* groups) {
    while (!part.empty()) {
        size_t colon = part.find(u':');
        View group = part.substr(0, colon);
        if (colon == View::npos && endsAddress && group.find(u'.') != View::npos) {
            std::optional<std::array<uint8_t, 4>> v4 = Ipv4(group);
            if (!v4) {
                return false;
            }
            groups->push_back(static_cast<uint16_t>((*v4)[0] << 8 | (*v4)[1]));
            groups->push_back(static_cast<uint16_t>((*v4)[2] << 8 | (*v4)[3]));
            return true;
        }
        if (group.empty() || group.size() > 4) {
            return false;
        }
        uint32_t value = 0;
        for (char16_t c : group) {
            std::optional<uint32_t> digit = HexDigit(c);
            if (!digit) {
                return false;
            }
            value = value * 16 + *digit;
        }
        groups->push_back(static_cast<uint16_t>(value));
        if (colon == View::npos) {
            return true;
        }
        part = part.substr(colon + 1);
        if (part.empty()) {
            return false;  // a trailing single colon
        }
    }
    return true;
}

// Labels of letters, digits and inner hyphens, 1-63 characters each, joined by dots.
bool IsDnsName(View text) {
    while (true) {
        size_t dot = text.find(u'.');
        View label = text.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-') {
            return false;
        }
        for (char16_t c : label) {
            if (!IsLetter(c) && !IsDigit(c) && c != u'-') {
                return false;
            }
        }
        if (dot == View::npos) {
            return true;
        }
        text = text.substr(dot + 1);
    }
}

std::optional<std::u16string> Host(View text) {
    if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') {
        View inner = text.substr(1, text.size() - 2);
        return ParseIpv6(inner) ? std::optional<std::u16string>(inner) : std::nullopt;
    }
    if (text.empty() || text.size() > kMaxHostChars) {
        return std::nullopt;
    }
    // All digits and dots is meant as an IPv4 address, so it must be a whole one.
    bool numeric =
        std::all_of(text.begin(), text.end(), [](char16_t c) { return IsDigit(c) || c == u'.'; });
    if (numeric ? !Ipv4(text) : !IsDnsName(text)) {
        return std::nullopt;
    }
    return std::u16string(text);
}

std::optional<TcpAddress> HostAndPortNumber(View text) {
    View host = text;
    std::optional<View> number;
    if (!text.empty() && text.front() == u'[') {
        size_t close = text.find(u']');
        if (close == View::npos) {
            return std::nullopt;
        }
        host = text.substr(0, close + 1);
        View rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != u':') {
                return std::nullopt;
            }
            number = rest.substr(1);
        }
    } else if (size_t colon = text.find(u':'); colon != View::npos) {
        // A second colon fails the number: an IPv6 address needs its brackets.
        host = text.substr(0, colon);
        number = text.substr(colon + 1);
    }
    std::optional<std::u16string> parsed = Host(host);
    if (!parsed) {
        return std::nullopt;
    }
    TcpAddress address{*parsed};
    if (number) {
        std::optional<uint32_t> value = Decimal(*number, 5);
        if (!value || *value < 1 || *value > 65535) {
            return std::nullopt;
        }
        address.portNumber = *value;
    }
    return address;
}

}  // namespace

ParsedTcpArgument ParseTcpPortArgument(std::u16string_view value) {
    constexpr View kPrefix = u"tcp:";
    if (value.size() < kPrefix.size() ||
        !std::equal(kPrefix.begin(), kPrefix.end(), value.begin(),
                    [](char16_t a, char16_t b) { return a == LowerAscii(b); })) {
        return {};
    }
    std::optional<TcpAddress> address = HostAndPortNumber(value.substr(kPrefix.size()));
    if (!address) {
        return {TcpArgument::Malformed, {}};
    }
    return {TcpArgument::Address, *address};
}

std::optional<TcpAddress> ParseDialogAddress(std::u16string_view text) {
    auto space = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return HostAndPortNumber(text);
}

std::optional<std::array<uint16_t, 8>> ParseIpv6(std::u16string_view text) {
    size_t gap = text.find(u"::");
    View head = text.substr(0, gap);
    View tail = gap == View::npos ? View() : text.substr(gap + 2);
    std::vector<uint16_t> front;
    std::vector<uint16_t> back;
    if (text.empty() || tail.find(u"::") != View::npos ||
        !Ipv6Groups(head, gap == View::npos, &front) || !Ipv6Groups(tail, true, &back)) {
        return std::nullopt;
    }
    size_t total = front.size() + back.size();
    if (gap == View::npos ? total != 8 : total > 7) {
        return std::nullopt;
    }
    std::array<uint16_t, 8> groups{};
    std::copy(front.begin(), front.end(), groups.begin());
    std::copy(back.begin(), back.end(), groups.end() - static_cast<ptrdiff_t>(back.size()));
    return groups;
}

bool SameHost(std::u16string_view a, std::u16string_view b) {
    std::optional<std::array<uint16_t, 8>> a6 = ParseIpv6(a);
    std::optional<std::array<uint16_t, 8>> b6 = ParseIpv6(b);
    if (a6 && b6) {
        return *a6 == *b6;
    }
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return LowerAscii(x) == LowerAscii(y); });
}

std::u16string TcpPortName(const TcpAddress& address) {
    std::u16string name = u"IP_" + address.host;
    if (address.portNumber != kRawPrinterPort) {
        std::string digits = std::to_string(address.portNumber);
        name += u'_';
        name.append(digits.begin(), digits.end());
    }
    return name;
}

}  // namespace tde
