#include "ftp/RestartMarker.h"

namespace tolvane::ftp {

void RestartMarker::BeforeCommand() {
    if (!setByPreviousCommand_) pending_ = false;
    setByPreviousCommand_ = false;
}

void RestartMarker::Set(std::int64_t offset) {
    offset_ = offset;
    pending_ = offset != 0;
    setByPreviousCommand_ = true;
}

}  // namespace tolvane::ftp
