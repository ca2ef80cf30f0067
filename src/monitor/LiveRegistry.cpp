#include "monitor/LiveRegistry.h"

#include <utility>

namespace tolvane::monitor {

LiveRegistry::LiveRegistry()
    : connections_(TableId::Connections, [this](const TableChange& change) { Publish(change); }),
      transfers_(TableId::Transfers, [this](const TableChange& change) { Publish(change); }),
      requests_(TableId::Requests, [this](const TableChange& change) { Publish(change); }, kRequestRowLimit) {}

int LiveRegistry::CountSessionsOf(std::string_view name) const {
    return connections_.CountRows(
        [name](const std::vector<std::string>& cells) { return cells[ConnectionColumns::User] == name; });
}

int LiveRegistry::CountSessionsOf(std::string_view name, std::string_view address) const {
    return connections_.CountRows([name, address](const std::vector<std::string>& cells) {
        return cells[ConnectionColumns::User] == name && cells[ConnectionColumns::Ip] == address;
    });
}

int LiveRegistry::Subscribe(Subscriber subscriber) {
    std::lock_guard lock(subscribersMutex_);
    const int id = nextSubscriberId_++;
    subscribers_.emplace(id, std::move(subscriber));
    return id;
}

void LiveRegistry::Unsubscribe(int id) {
    std::lock_guard lock(subscribersMutex_);
    subscribers_.erase(id);
}

void LiveRegistry::Publish(const TableChange& change) const {
    std::lock_guard lock(subscribersMutex_);
    for (const auto& [id, subscriber] : subscribers_) {
        subscriber(change);
    }
}

}  // namespace tolvane::monitor
