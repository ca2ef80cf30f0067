#include "clients/UpdateCheckState.h"

namespace tolvane::clients {

void UpdateCheckState::SetStatus(std::string status) {
    const std::lock_guard lock(mutex_);
    values_.status = std::move(status);
}

void UpdateCheckState::Finish(std::string status, std::string fetched, VersionInfo latest) {
    const std::lock_guard lock(mutex_);
    values_.status = std::move(status);
    values_.fetched = std::move(fetched);
    values_.latest = std::move(latest);
    values_.done = true;
}

UpdateCheckState::Snapshot UpdateCheckState::Read() const {
    const std::lock_guard lock(mutex_);
    return values_;
}

bool UpdateCheckState::Done() const {
    const std::lock_guard lock(mutex_);
    return values_.done;
}

}  // namespace tolvane::clients
