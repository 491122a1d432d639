// The printer ports offered in the main dialog's port combo box (control 1011):
// the spooler's ports whose names begin with "COM", "LPT" or "USB", in the order
// a sorted combo box puts them, the first one selected.
#pragma once

#include "base/collation.h"
#include "spooler/spooler.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// True for a name whose first three characters (the whole name when shorter)
// are exactly "COM", "LPT" or "USB", letter case included.
bool IsOfferedPort(std::u16string_view portName);

// The names of the spooler's ports at level 2, in the spooler's order, read with
// the two-call pattern; empty when the spooler reports no bytes needed.
std::vector<std::u16string> ReadPortNames(Spooler& spooler);

// The names that pass the filter, in the given order, duplicates kept.
std::vector<std::u16string> OfferedPorts(const std::vector<std::u16string>& portNames);

// Where a sorted combo box inserts `name` among `items` (already in its order):
// a binary search under CompareNamesIgnoreCase that stops at the first item
// comparing equal and inserts before it.
size_t SortedInsertPosition(const std::vector<std::u16string>& items, std::u16string_view name);

// The combo box's list after adding the offered ports one by one in the spooler's
// order; index 0 is the one selected.
std::vector<std::u16string> SortedPortList(const std::vector<std::u16string>& portNames);

#ifdef _WIN32
// Fills the port combo box (a CBS_SORT drop-down list, an HWND) with the offered
// ports of `spooler` and selects its first entry when there is one.
void FillPortList(void* comboBox, Spooler& spooler);
#endif

}  // namespace tde
