#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "console.h"

namespace tde {

void SetBinaryStandardOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace tde
