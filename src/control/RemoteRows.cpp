#include "control/RemoteRows.h"

#include <cstdlib>

namespace tolvane::control {
namespace {

// Snapshot fields of a session line: user, folder, ratio, credit, uploaded bytes and files,
// downloaded bytes and files, idle seconds, then whether it is encrypted (which the row keeps).
// Of a transfer line: limited, limit, bytes, rate.
enum SessionField { kUser, kFolder, kRatio, kCredit, kUpBytes, kUpFiles, kDownBytes, kDownFiles, kIdle };
enum TransferField { kLimited, kLimit, kBytes, kRate };

std::string Field(const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string();
}

long long Whole(const std::vector<std::string>& fields, std::size_t index) {
    return std::strtoll(Field(fields, index).c_str(), nullptr, 10);
}

}  // namespace

void RemoteSession::Update(const std::vector<std::string>& fields) {
    std::lock_guard lock(mutex_);
    fields_ = fields;
}

void RemoteSession::MarkEnded() {
    std::lock_guard lock(mutex_);
    live_ = false;
}

bool RemoteSession::Live() const {
    std::lock_guard lock(mutex_);
    return live_;
}

void RemoteSession::Kick() { channel_->Run({"kick", id_}); }
void RemoteSession::RequestAccountReload() { channel_->Run({"account-reload", id_}); }

std::string RemoteSession::UserName() const {
    std::lock_guard lock(mutex_);
    return Field(fields_, kUser);
}

std::string RemoteSession::CurrentDirectory() const {
    std::lock_guard lock(mutex_);
    return Field(fields_, kFolder);
}

bool RemoteSession::RatioEnabled() const {
    std::lock_guard lock(mutex_);
    return Field(fields_, kRatio) == "1";
}

std::int64_t RemoteSession::Credit() const {
    std::lock_guard lock(mutex_);
    return Whole(fields_, kCredit);
}

void RemoteSession::AdjustCredit(std::int64_t delta) {
    channel_->Run({"credit", id_, (delta > 0 ? "+" : "") + std::to_string(delta)});
}

std::uint64_t RemoteSession::UploadedBytes() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint64_t>(Whole(fields_, kUpBytes));
}

int RemoteSession::UploadedFiles() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(Whole(fields_, kUpFiles));
}

std::uint64_t RemoteSession::DownloadedBytes() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint64_t>(Whole(fields_, kDownBytes));
}

int RemoteSession::DownloadedFiles() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(Whole(fields_, kDownFiles));
}

int RemoteSession::IdleSeconds() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(Whole(fields_, kIdle));
}

void RemoteTransfer::Update(const std::vector<std::string>& fields) {
    std::lock_guard lock(mutex_);
    fields_ = fields;
}

void RemoteTransfer::CloseTransfer() { channel_->Run({"close-transfer", id_}); }

bool RemoteTransfer::SpeedLimited() const {
    std::lock_guard lock(mutex_);
    return Field(fields_, kLimited) == "1";
}

std::uint32_t RemoteTransfer::SpeedLimitBytesPerSecond() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(Whole(fields_, kLimit));
}

void RemoteTransfer::ChangeSpeedLimit(std::uint32_t bytesPerSecond) {
    channel_->Run({"speed", id_, std::to_string(bytesPerSecond)});
}

std::int64_t RemoteTransfer::BytesMoved() const {
    std::lock_guard lock(mutex_);
    return Whole(fields_, kBytes);
}

double RemoteTransfer::BytesPerSecond() const {
    std::lock_guard lock(mutex_);
    return static_cast<double>(Whole(fields_, kRate));
}

}  // namespace tolvane::control
