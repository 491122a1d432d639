// The folder-trust model: what an existing folder is, from facts read on a
// handle that did not follow links, and whether only administrators can change
// it. The staging steps judge every folder they make or find with it; the
// facts are read in folder_trust_win32.cpp (or given by the in-memory fake).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tde {

// What an existing folder is, judged on a handle opened
// without following links.
enum class FolderTrust {
    Absent,          // nothing there
    Trusted,         // a plain folder that only administrators can change
    Link,            // a reparse point
    ForeignOwner,    // owned by someone other than Administrators, SYSTEM or TrustedInstaller
    OthersMayWrite,  // its DACL lets someone else write, delete or change it
    NotAFolder,      // a file
    Unknown,         // could not be opened or its security not read
};

// Who an owner or an access entry names, as far as the judgment cares.
enum class Principal { Administrators, System, TrustedInstaller, CreatorOwner, Other };

// One entry of a DACL; inherit-only entries count too, since they reach what is
// unpacked into the folder.
struct AccessEntry {
    Principal who = Principal::Other;
    bool allow = true;
    uint32_t mask = 0;
};

// What stands at a path, read from a handle opened without following links.
struct FolderFacts {
    bool exists = false;
    bool readable = true;  // opened, and its attributes and security read
    bool link = false;
    bool directory = false;
    Principal owner = Principal::Other;
    bool hasDacl = true;  // false: a null DACL, which grants everyone everything
    std::vector<AccessEntry> dacl;
};

// The rights that let a holder change a folder or what is in it: write, append
// (add file, add subfolder), extended attributes, delete a child, attributes,
// delete, change the DACL or the owner, and the generic write and all rights.
inline constexpr uint32_t kFolderWriteRights =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;

// Trusted only when the owner is Administrators, SYSTEM or TrustedInstaller and
// no one else is allowed to write: the token's default owner may be the user's
// own SID (the built-in Administrator, UAC off, the creator-owner policy), and
// code of that user at medium integrity could then have made the folder first.
// CREATOR OWNER entries name the creator of a child, so only those who can
// already create there.
FolderTrust JudgeFolder(const FolderFacts& facts);

// Why a folder is refused, for the log ("a link", ...); empty for Absent and Trusted.
std::u16string_view FolderTrustReason(FolderTrust trust);

}  // namespace tde
