// Item names of the archive subsystem: the sanitising of stored names into
// safe relative paths.
#pragma once

#include <string>
#include <string_view>

namespace tde {

// Removes a leading drive prefix (a character and a colon), leading "/" and
// "\", and everything up to and including the last ".." part, so the result
// names a path below whatever folder it is joined to.
std::u16string SanitizeItemName(std::u16string_view name);

// Every "\" replaced by "/": how items named with Windows separators are found.
std::u16string ToItemName(std::u16string_view path);

}  // namespace tde
