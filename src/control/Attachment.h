#pragma once

#include "control/AdminChannel.h"
#include "control/AdministeredServer.h"
#include "control/RemoteRows.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

namespace tolvane::control {

// A running tolvaned as an attached window sees it: its log and lists mirrored here from a
// watching link, its rows' actions sent as commands. A lost link is said in the log and made
// again until the attachment ends; ending it leaves the server running.
class Attachment final : public AdministeredServer {
    class Key {
        friend class Attachment;
        Key() = default;
    };

public:
    static constexpr std::chrono::milliseconds kReconnectPause{1000};

    // Attaches on the caller's thread, asking `trust` about a certificate seen for the first
    // time; the reason when it cannot.
    static std::variant<std::unique_ptr<Attachment>, std::string> Open(AttachTarget target,
                                                                       const AdminChannel::TrustCheck& trust);
    Attachment(Key, std::shared_ptr<AdminChannel> channel, std::unique_ptr<AdminLink> watchLink);
    ~Attachment() override;

    monitor::LiveRegistry& Registry() override { return registry_; }
    monitor::ServerLog& Log() override { return log_; }
    bool Online() const override { return online_; }
    void GoOnline() override;
    void GoOffline() override;
    void ClearRequests() override;
    bool Attached() const override { return true; }
    std::string Name() const override { return channel_->Target().Name(); }
    bool Linked() const override { return linked_; }

    // A command as `tolvaned ctl` gives it, answered by the server.
    Answer Run(const std::vector<std::string>& words) { return channel_->Run(words); }
    // The server's account database, whole, and the edits made to a copy of it.
    Answer FetchDatabase() { return channel_->Run({"database-get"}); }
    Answer PutDatabaseChanges(const std::string& changes) {
        return channel_->Run({"database-put", std::to_string(changes.size())}, changes);
    }

private:
    void WatchUntilStopped(std::unique_ptr<AdminLink> link);
    bool StartWatching(AdminLink& link);
    void Follow(AdminLink& link);
    bool Apply(const ReceivedFrame& frame);
    void ApplySnapshot(const std::string& body);
    void Say(const std::string& text, std::uint32_t kind);
    bool PauseBeforeRetry();

    const std::shared_ptr<AdminChannel> channel_;
    monitor::LiveRegistry registry_;
    monitor::ServerLog log_;
    std::atomic<bool> online_{false};
    std::atomic<bool> linked_{true};

    // Only the watching thread touches these.
    std::map<std::string, std::shared_ptr<RemoteSession>> sessions_;
    std::map<std::string, std::shared_ptr<RemoteTransfer>> transfers_;
    std::vector<std::shared_ptr<monitor::RowOwner>> requestOwners_;
    std::string serverPid_;
    std::uint64_t lastRecord_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    AdminLink* watching_ = nullptr;  // to interrupt on stop
    std::thread thread_;
};

}  // namespace tolvane::control
