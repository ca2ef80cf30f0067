#pragma once

#include "control/AdminChannel.h"
#include "monitor/RowOwner.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvane::control {

// A session of an attached server: what the lists last said of it, and the window's actions
// on it sent as commands.
class RemoteSession final : public monitor::SessionHandle {
public:
    RemoteSession(std::shared_ptr<AdminChannel> channel, std::string id)
        : channel_(std::move(channel)), id_(std::move(id)) {}

    // The fields a snapshot line gives after its kind and number.
    void Update(const std::vector<std::string>& fields);
    void MarkEnded();

    bool Live() const override;
    // The server sends the farewell itself when it kicks.
    void SendReply(std::string_view) override {}
    void Kick() override;
    void RequestAccountReload() override;
    std::string UserName() const override;
    std::string CurrentDirectory() const override;
    bool RatioEnabled() const override;
    std::int64_t Credit() const override;
    void AdjustCredit(std::int64_t delta) override;
    std::uint64_t UploadedBytes() const override;
    int UploadedFiles() const override;
    std::uint64_t DownloadedBytes() const override;
    int DownloadedFiles() const override;
    int IdleSeconds() const override;

private:
    const std::shared_ptr<AdminChannel> channel_;
    const std::string id_;
    mutable std::mutex mutex_;
    std::vector<std::string> fields_;
    bool live_ = true;
};

class RemoteTransfer final : public monitor::TransferHandle {
public:
    RemoteTransfer(std::shared_ptr<AdminChannel> channel, std::string id)
        : channel_(std::move(channel)), id_(std::move(id)) {}

    void Update(const std::vector<std::string>& fields);

    void CloseTransfer() override;
    bool SpeedLimited() const override;
    std::uint32_t SpeedLimitBytesPerSecond() const override;
    void ChangeSpeedLimit(std::uint32_t bytesPerSecond) override;
    std::int64_t BytesMoved() const override;
    double BytesPerSecond() const override;

private:
    const std::shared_ptr<AdminChannel> channel_;
    const std::string id_;
    mutable std::mutex mutex_;
    std::vector<std::string> fields_;
};

}  // namespace tolvane::control
