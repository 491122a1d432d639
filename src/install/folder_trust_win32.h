// The folder-trust model on this machine's file system: the facts of what
// stands at a path, read on a handle that does not follow links, and the
// judgment of folder_trust.h over them.
#pragma once

#include "install/folder_trust.h"

#include <string_view>

namespace tde {

// Judges what stands at the path, opened as the thing itself (a link is not
// followed): Absent when nothing is there, Unknown when it cannot be opened or
// its security cannot be read. The last error says why when it is Unknown.
FolderTrust JudgeFolderAt(std::u16string_view path);

// The owner and DACL of a security descriptor as the judgment sees them; false
// when they cannot be read. `descriptor` is a PSECURITY_DESCRIPTOR.
bool ReadFolderSecurity(void* descriptor, FolderFacts& facts);

}  // namespace tde
