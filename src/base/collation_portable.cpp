// Builds without Windows compare names by the portable model.
#include "base/collation.h"

namespace tde {

int CompareDriverNames(std::u16string_view a, std::u16string_view b) {
    return CompareNamesIgnoreCase(a, b);
}

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return CompareNamesIgnoreCase(a, b) == 0;
}

}  // namespace tde
