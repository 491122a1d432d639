#include "install/folder_trust.h"

namespace tde {

FolderTrust JudgeFolder(const FolderFacts& facts) {
    if (!facts.exists) {
        return FolderTrust::Absent;
    }
    if (!facts.readable) {
        return FolderTrust::Unknown;
    }
    if (facts.link) {
        return FolderTrust::Link;
    }
    if (!facts.directory) {
        return FolderTrust::NotAFolder;
    }
    if (facts.owner != Principal::Administrators && facts.owner != Principal::System &&
        facts.owner != Principal::TrustedInstaller) {
        return FolderTrust::ForeignOwner;
    }
    if (!facts.hasDacl) {
        return FolderTrust::OthersMayWrite;
    }
    for (const AccessEntry& entry : facts.dacl) {
        const bool administrative =
            entry.who == Principal::Administrators || entry.who == Principal::System ||
            entry.who == Principal::TrustedInstaller || entry.who == Principal::CreatorOwner;
        if (entry.allow && !administrative && (entry.mask & kFolderWriteRights) != 0) {
            return FolderTrust::OthersMayWrite;
        }
    }
    return FolderTrust::Trusted;
}

std::u16string_view FolderTrustReason(FolderTrust trust) {
    switch (trust) {
        case FolderTrust::Link:
            return u"it is a link";
        case FolderTrust::NotAFolder:
            return u"it is a file";
        case FolderTrust::ForeignOwner:
            return u"its owner is not Administrators, SYSTEM or TrustedInstaller";
        case FolderTrust::OthersMayWrite:
            return u"its permissions let other users write to it";
        case FolderTrust::Unknown:
            return u"its security cannot be read";
        case FolderTrust::Absent:
        case FolderTrust::Trusted:
            break;
    }
    return u"";
}

}  // namespace tde
