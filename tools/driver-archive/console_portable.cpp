#include "console.h"

namespace tde {

// Standard output is already binary outside Windows.
void SetBinaryStandardOutput() {}

}  // namespace tde
