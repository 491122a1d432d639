// The port combo box filled from the spooler, and the portable model of its
// sorted order held against a real CBS_SORT combo box and CompareStringW.
#include "base/collation.h"
#include "spooler/memory_spooler.h"
#include "ports/ports.h"
#include "support/spooler_fixtures_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace tde {
namespace {

using test::Utf16;

// A parent window with a combo box styled like control 1011.
class PortCombo {
  public:
    PortCombo() {
        parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        combo_ = CreateWindowExW(0, L"COMBOBOX", L"",
                                 WS_CHILD | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT,
                                 0, 0, 200, 150, parent_, reinterpret_cast<HMENU>(1011),
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~PortCombo() {
        if (parent_ != nullptr) {
            DestroyWindow(parent_);
        }
    }
    PortCombo(const PortCombo&) = delete;
    PortCombo& operator=(const PortCombo&) = delete;

    HWND get() const { return combo_; }
    std::vector<std::u16string> Items() const {
        std::vector<std::u16string> items;
        LRESULT count = SendMessageW(combo_, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(static_cast<size_t>(SendMessageW(combo_, CB_GETLBTEXTLEN, i, 0)),
                              L' ');
            SendMessageW(combo_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            items.push_back(Utf16(text));
        }
        return items;
    }
    std::u16string Text() const {
        wchar_t text[256] = {};
        GetWindowTextW(combo_, text, 256);
        return Utf16(text);
    }
    LRESULT Selection() const { return SendMessageW(combo_, CB_GETCURSEL, 0, 0); }

  private:
    HWND parent_ = nullptr;
    HWND combo_ = nullptr;
};

TEST(PortListWin32Test, FillsTheComboBoxFromTheSpoolerAndSelectsTheFirstPort) {
    PortCombo combo;
    ASSERT_NE(combo.get(), nullptr);
    std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
    FillPortList(combo.get(), *spooler);

    std::vector<std::u16string> listed;
    for (const std::wstring& name : test::ListedPorts()) {
        listed.push_back(Utf16(name));
    }
    std::vector<std::u16string> items = combo.Items();
    EXPECT_EQ(items, SortedPortList(listed));
    size_t offered = 0;
    for (const std::u16string& name : listed) {
        offered += IsOfferedPort(name) ? 1 : 0;
    }
    EXPECT_EQ(items.size(), offered);
    if (items.empty()) {
        GTEST_SKIP() << "this spooler offers no COM, LPT or USB port";
    }
    EXPECT_EQ(combo.Selection(), 0);
    EXPECT_EQ(combo.Text(), items.front());
}

TEST(PortListWin32Test, TheRealComboBoxSortsLikeTheModel) {
    const std::vector<std::u16string> names = {
        u"USB002", u"COM10", u"COM2",      u"com3", u"LPT1",   u"USB",   u"US",    u"DOT4_001",
        u"COM1",   u"COMa",  u"COMA",      u"COMb", u"COMB",   u"COMa",  u"COM1:", u"COM-1",
        u"COM'1",  u"COM 1", u"COM_1",     u"COM1", u"USB001", u"LPT1:", u"FILE:", u"IP_10.0.0.9",
        u"LPTx",   u"LPT-",  u"USB\u00e9", u"USBz", u"COM!",   u"COM~",  u"COM+"};
    MemorySpooler memory;
    for (const std::u16string& name : names) {
        memory.ports.push_back({name});
    }
    PortCombo combo;
    ASSERT_NE(combo.get(), nullptr);
    FillPortList(combo.get(), memory);
    EXPECT_EQ(combo.Items(), SortedPortList(names));
    EXPECT_EQ(combo.Selection(), 0);
}

TEST(PortListWin32Test, StaysEmptyAndUnselectedWithoutOfferedPorts) {
    MemorySpooler memory;
    memory.ports = {{u"FILE:"}, {u"nul:"}};
    PortCombo combo;
    FillPortList(combo.get(), memory);
    EXPECT_TRUE(combo.Items().empty());
    EXPECT_EQ(combo.Selection(), CB_ERR);
    EXPECT_EQ(combo.Text(), u"");
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

int SystemOrder(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) - 2;
}

TEST(PortListWin32Test, TheNameOrderAgreesWithCompareStringOverLatin1) {
    std::vector<wchar_t> characters;
    for (wchar_t c = 0x20; c < 0x7F; ++c) {
        characters.push_back(c);
    }
    for (wchar_t c = 0xA0; c <= 0xFF; ++c) {
        characters.push_back(c);
    }
    for (wchar_t a : characters) {
        for (wchar_t b : characters) {
            std::wstring x(1, a);
            std::wstring y(1, b);
            ASSERT_EQ(Sign(CompareNamesIgnoreCase(Utf16(x), Utf16(y))), Sign(SystemOrder(x, y)))
                << std::hex << static_cast<int>(a) << " vs " << static_cast<int>(b);
        }
    }
    const std::vector<std::wstring> names = {
        L"COM1",        L"com1",    L"COM1:",       L"COM10",    L"COM2",
        L"LPT1",        L"USB001",  L"USB",         L"US",       L"FILE:",
        L"nul:",        L"a-b",     L"ab",          L"a'b",      L"-ab",
        L"a b",         L"ab-",     L"a--b",        L"a-'b",     L"a'-b",
        L"'ab",         L"ab'",     L"a-bc",        L"ab-c",     L"a-b-c",
        L"--",          L"'",       L"-",           L"",         L"COM-1",
        L"COM 1",       L"USB_001", L"LPT1:",       L"XPSPort:", L"PORTPROMPT:",
        L"IP_10.0.0.1", L"WSD-1",   L"DOT4_001",    L"COM!",     L"\u00e9a",
        L"eb",          L"\u00fea", L"tb",          L"\u00e6a",  L"aeb",
        L"a\u00ad",     L"\u00bca", L"0b",          L"e\u00e9",  L"\u00e9e",
        L"\u00c6",      L"AE",      L"Stra\u00dfe", L"strasse",  L"\u00b2a",
        L"2b",          L"\u00aaa", L"ab",          L"\u00a0a",  L" b"};
    for (const std::wstring& x : names) {
        for (const std::wstring& y : names) {
            EXPECT_EQ(Sign(CompareNamesIgnoreCase(Utf16(x), Utf16(y))), Sign(SystemOrder(x, y)))
                << (&x - names.data()) << " vs " << (&y - names.data());
        }
    }
}

}  // namespace
}  // namespace tde
