// Console details that differ between platforms.
#pragma once

namespace tde {

// Makes standard output carry bytes unchanged (no newline translation).
void SetBinaryStandardOutput();

}  // namespace tde
