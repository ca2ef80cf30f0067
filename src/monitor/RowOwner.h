#pragma once

// What the rows of the live monitor belong to, as the window acts on them: a session (rows of
// the connections and requests lists) or one of its data connections (the transfers list).
// The server implements these; the monitor and the window know nothing more of it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane::monitor {

class SessionHandle;
class TransferHandle;

class RowOwner {
public:
    virtual ~RowOwner() = default;

    // This owner as a session or a transfer; null when it is not one.
    virtual SessionHandle* Session() { return nullptr; }
    virtual TransferHandle* Transfer() { return nullptr; }
};

// One session, as the window shows it and acts on it. Callable from any thread.
class SessionHandle : public RowOwner {
public:
    // The farewell an administrator's kick sends before Kick.
    static constexpr const char* kKickReply = "421 You have been kicked from the system, Have a nice day :)\r\n";

    SessionHandle* Session() override { return this; }

    // False once the session has ended.
    virtual bool Live() const = 0;
    virtual void SendReply(std::string_view reply) = 0;
    // Ends the session: logs the kick and closes the connection. The caller sends the farewell
    // reply first and removes the connections row afterwards.
    virtual void Kick() = 0;
    // Re-reads the account before the session's next command or at its next idle second.
    virtual void RequestAccountReload() = 0;

    virtual std::string UserName() const = 0;
    virtual std::string CurrentDirectory() const = 0;
    // Whether the account runs a ratio; credit is offered only then.
    virtual bool RatioEnabled() const = 0;
    virtual std::int64_t Credit() const = 0;
    // Gives (positive) or takes (negative) download credit.
    virtual void AdjustCredit(std::int64_t delta) = 0;
    virtual std::uint64_t UploadedBytes() const = 0;
    virtual int UploadedFiles() const = 0;
    virtual std::uint64_t DownloadedBytes() const = 0;
    virtual int DownloadedFiles() const = 0;
    virtual int IdleSeconds() const = 0;
};

// One running transfer. Callable from any thread.
class TransferHandle : public RowOwner {
public:
    TransferHandle* Transfer() override { return this; }

    // The administrator's "Close Transfer": the transfer ends as failed.
    virtual void CloseTransfer() = 0;
    virtual bool SpeedLimited() const = 0;
    virtual std::uint32_t SpeedLimitBytesPerSecond() const = 0;
    // A new limit in bytes per second, 0 for none; measuring starts anew.
    virtual void ChangeSpeedLimit(std::uint32_t bytesPerSecond) = 0;
    // Bytes moved so far, and their mean rate over the whole seconds since the transfer began.
    virtual std::int64_t BytesMoved() const = 0;
    virtual double BytesPerSecond() const = 0;
};

// The session or transfer a row belongs to, kept alive by the returned pointer; null when the
// owner has gone or is of the other kind.
inline std::shared_ptr<SessionHandle> SessionOf(const std::weak_ptr<RowOwner>& owner) {
    const auto alive = owner.lock();
    SessionHandle* session = alive ? alive->Session() : nullptr;
    return session ? std::shared_ptr<SessionHandle>(alive, session) : nullptr;
}

inline std::shared_ptr<TransferHandle> TransferOf(const std::weak_ptr<RowOwner>& owner) {
    const auto alive = owner.lock();
    TransferHandle* transfer = alive ? alive->Transfer() : nullptr;
    return transfer ? std::shared_ptr<TransferHandle>(alive, transfer) : nullptr;
}

}  // namespace tolvane::monitor
