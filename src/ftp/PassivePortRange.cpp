#include "ftp/PassivePortRange.h"

namespace tolvane::ftp {

PassivePortRange::PassivePortRange(std::uint16_t first, std::uint16_t last)
    : first_(first), held_(static_cast<std::size_t>(last - first) + 1, false) {}

std::unique_ptr<PassivePortRange::Lease> PassivePortRange::Take() {
    std::lock_guard lock(mutex_);
    for (std::size_t tried = 0; tried < held_.size(); ++tried) {
        const std::size_t index = (next_ + tried) % held_.size();
        if (held_[index]) continue;
        held_[index] = true;
        next_ = (index + 1) % held_.size();
        return std::make_unique<Lease>(shared_from_this(), static_cast<std::uint16_t>(first_ + index));
    }
    return nullptr;
}

void PassivePortRange::GiveBack(std::uint16_t port) {
    std::lock_guard lock(mutex_);
    held_[port - first_] = false;
}

}  // namespace tolvane::ftp
