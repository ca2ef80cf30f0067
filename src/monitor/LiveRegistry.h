#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string_view>

#include "monitor/MonitorTable.h"

namespace tolvane::monitor {

// The server's registry of live connections, transfers and connection requests. Sessions and
// data sockets keep their own rows; the window follows the published changes.
class LiveRegistry {
public:
    // Called with the changed table locked, one change at a time. A subscriber must not call
    // back into the registry or its tables: that would deadlock.
    using Subscriber = std::function<void(const TableChange&)>;

    // Every connection adds a request row and nothing but the window's "clear" removes them:
    // a server that runs for months without a window must not keep them all.
    static constexpr std::size_t kRequestRowLimit = 1000;

    LiveRegistry();

    LiveRegistry(const LiveRegistry&) = delete;
    LiveRegistry& operator=(const LiveRegistry&) = delete;

    MonitorTable& Connections() { return connections_; }
    MonitorTable& Transfers() { return transfers_; }
    MonitorTable& Requests() { return requests_; }
    const MonitorTable& Connections() const { return connections_; }
    const MonitorTable& Transfers() const { return transfers_; }
    const MonitorTable& Requests() const { return requests_; }

    // Logged-in sessions of an account, matched exactly (case included), optionally only
    // those from one client address.
    int CountSessionsOf(std::string_view name) const;
    int CountSessionsOf(std::string_view name, std::string_view address) const;

    int Subscribe(Subscriber subscriber);
    // Once this returns, the subscriber is never called again.
    void Unsubscribe(int id);

private:
    void Publish(const TableChange& change) const;

    mutable std::mutex subscribersMutex_;
    std::map<int, Subscriber> subscribers_;
    int nextSubscriberId_ = 1;
    // After the subscribers: tables publish into them until destroyed.
    MonitorTable connections_;
    MonitorTable transfers_;
    MonitorTable requests_;
};

}  // namespace tolvane::monitor
