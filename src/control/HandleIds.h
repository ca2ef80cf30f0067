#pragma once

#include "monitor/RowOwner.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace tolvane::control {

// The numbers `tolvaned ctl` names sessions and transfers by. Connection numbers repeat across
// IP homes and a session may run two transfers, so each owner gets a number of its own when a
// listing first shows it, never given again. Used by the control socket's one thread only.
class HandleIds {
public:
    std::uint64_t IdOf(const std::weak_ptr<monitor::RowOwner>& owner);
    // The owner numbered `id` (expired once it has ended); nothing when no listing gave it.
    std::optional<std::weak_ptr<monitor::RowOwner>> Find(std::uint64_t id) const;
    // Forgets the owners that have gone; their numbers still read as ended.
    void ForgetEnded();

private:
    std::map<std::weak_ptr<monitor::RowOwner>, std::uint64_t, std::owner_less<std::weak_ptr<monitor::RowOwner>>> ids_;
    std::map<std::uint64_t, std::weak_ptr<monitor::RowOwner>> owners_;
    std::uint64_t next_ = 1;
};

}  // namespace tolvane::control
