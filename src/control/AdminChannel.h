#pragma once

#include "control/AdminLink.h"
#include "control/ControlCommands.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvane::control {

// Where a window attaches: a home's control socket, or a host's admin port with its password.
struct AttachTarget {
    std::filesystem::path home;
    std::string host;
    std::string port;
    std::string password;

    bool Remote() const { return !host.empty(); }
    std::string Name() const;
};

// Opens attached links to one server and runs commands on one of them. Its certificate's
// fingerprint is pinned at the first connection: every later one must show the same. Thread-safe.
class AdminChannel {
public:
    // Says whether a fingerprint seen for the first time is to be trusted.
    using TrustCheck = std::function<bool(const std::string& target, const std::string& fingerprint)>;

    explicit AdminChannel(AttachTarget target) : target_(std::move(target)) {}

    const AttachTarget& Target() const { return target_; }
    // A link that has attached or logged in; null with `error` set.
    std::unique_ptr<AdminLink> Connect(const TrustCheck& trust, std::string& error);
    // On the channel's command link, made when needed and made again once when it has broken.
    Answer Run(const std::vector<std::string>& words);
    // A request followed by bytes of its own ("database-put LENGTH").
    Answer Run(const std::vector<std::string>& words, std::string_view body);

private:
    std::unique_ptr<AdminLink> Open(std::string& error);
    std::optional<Answer> Exchange(AdminLink& link, const std::vector<std::string>& words, std::string_view body);

    const AttachTarget target_;
    std::mutex runMutex_;  // one command at a time on the command link
    std::mutex mutex_;     // the pinned fingerprint
    std::string fingerprint_;
    std::unique_ptr<AdminLink> commandLink_;
};

// A frame read from an attached link, bounded; nothing when the link ended or broke the rules.
struct ReceivedFrame {
    std::string kind;
    std::string body;
};
std::optional<ReceivedFrame> ReceiveFrame(AdminLink& link);

}  // namespace tolvane::control
