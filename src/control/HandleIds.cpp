#include "control/HandleIds.h"

namespace tolvane::control {

std::uint64_t HandleIds::IdOf(const std::weak_ptr<monitor::RowOwner>& owner) {
    const auto [entry, added] = ids_.try_emplace(owner, next_);
    if (added) owners_.emplace(next_++, owner);
    return entry->second;
}

std::optional<std::weak_ptr<monitor::RowOwner>> HandleIds::Find(std::uint64_t id) const {
    if (id == 0 || id >= next_) return std::nullopt;
    const auto found = owners_.find(id);
    return found == owners_.end() ? std::weak_ptr<monitor::RowOwner>{} : found->second;
}

void HandleIds::ForgetEnded() {
    for (auto entry = owners_.begin(); entry != owners_.end();) {
        if (entry->second.expired()) {
            ids_.erase(entry->second);
            entry = owners_.erase(entry);
        } else {
            ++entry;
        }
    }
}

}  // namespace tolvane::control
