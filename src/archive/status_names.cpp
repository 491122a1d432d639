// The names of the reader's statuses, for messages and logs.
#include "archive/archive.h"

namespace tde {

const char* ArchiveStatusName(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Ok:
            return "Ok";
        case ArchiveStatus::OpenFailed:
            return "OpenFailed";
        case ArchiveStatus::NotFound:
            return "NotFound";
        case ArchiveStatus::More:
            return "More";
        case ArchiveStatus::Corrupt:
            return "Corrupt";
        case ArchiveStatus::ReadFailed:
            return "ReadFailed";
        case ArchiveStatus::WrongPassword:
            return "WrongPassword";
        case ArchiveStatus::BadArgument:
            return "BadArgument";
        case ArchiveStatus::InflateFailed:
            return "InflateFailed";
    }
    return "Unknown";
}

}  // namespace tde
