#include "ftp/DataSocket.h"

#include "ftp/ControlConnection.h"

#include <algorithm>
#include <cmath>

namespace tolvane::ftp {

DataSocket::DataSocket(std::shared_ptr<ControlConnection> owner, std::atomic<bool>& activeFlag, bool holdsTransferSlot)
    : owner_(std::move(owner)),
      activeFlag_(activeFlag),
      holdsTransferSlot_(holdsTransferSlot),
      startTime_(std::chrono::steady_clock::now()) {}

// A data socket that never got its connection (the client never came) ends here.
DataSocket::~DataSocket() { Release(); }

void DataSocket::OnConnect() {
    if (!StartTransfer()) Cancel();  // it has answered already
}

// The IP home's TlsResumption decides whether a stranger who reached the data port could be
// the one whose TLS session this is.
void DataSocket::OnSecured() {
    secured_ = true;
    const store::TlsResumption rule = owner_->IpHome().tlsResumption;
    if (rule == store::TlsResumption::Off || ResumedTlsSession()) return;
    const auto peer = PeerName();
    if (rule == store::TlsResumption::SameAddress && peer && peer->SameAddress(owner_->Client())) return;
    owner_->SystemMessage(owner_->Tag() + "Data connection refused: its TLS session does not resume the control "
                                          "connection's (TlsResumption=" +
                              std::string(store::TlsResumptionName(rule)) + ")\r\n",
                          monitor::ErrorMessage);
    EndStalled("425 Data connection refused: its TLS session must resume the control connection's.\r\n");
}

void DataSocket::OnSecureFailure() {
    owner_->SystemMessage(owner_->Tag() + "Data connection refused: no TLS handshake\r\n", monitor::ErrorMessage);
    EndStalled("425 Can't open data connection.\r\n");
}

// A tick comes after a second without events. A data connection that never comes up ends with
// 425, a transfer that moves no byte for the limit with 426: neither holds its slot and worker
// for ever.
void DataSocket::OnIdleTick() {
    if (WaitsInVainForHello()) return OnSecureFailure();
    stillTicks_ = bytesMoved_ == movedAtLastTick_ ? stillTicks_ + 1 : 0;
    movedAtLastTick_ = bytesMoved_;
    const int limit = stallLimit_.load();
    if (limit > 0 && stillTicks_ >= limit) TimeOut();
}

bool DataSocket::WaitsInVainForHello() {
    constexpr int kHelloSeconds = 10;
    if (!Secure() || secured_ || !Started()) return false;
    return ++helloTicks_ >= kHelloSeconds;
}

void DataSocket::TimeOut() {
    EndStalled(Started() ? "426 Data connection closed, transfer failed.\r\n" : "425 Can't open data connection.\r\n");
}

void DataSocket::EndStalled(std::string_view reply) {
    if (Release()) owner_->SendReply(reply);
    Cancel();
}

void DataSocket::OnWorkerExit() {
    Release();
    if (!started_.load() && !cancelled_.load()) {
        // The active connect failed: the client is waiting for an answer to its command.
        owner_->SendReply("426 Data connection closed, transfer failed.\r\n");
    }
    owner_->Server().Registry().Transfers().Remove(RowKey());
}

// A socket alive enough to have a row is held by its worker or its session.
std::weak_ptr<monitor::RowOwner> DataSocket::RowKey() {
    return std::static_pointer_cast<DataSocket>(weak_from_this().lock());
}

bool DataSocket::Release() {
    if (released_.exchange(true)) return false;
    activeFlag_.store(false);
    if (holdsTransferSlot_) owner_->IpHome().runningTransfers.fetch_sub(1);
    return true;
}

void DataSocket::MarkStarted() {
    startTime_ = std::chrono::steady_clock::now();
    started_.store(true);
}

void DataSocket::Cancel() {
    cancelled_.store(true);
    Close();
}

void DataSocket::SetSpeedLimit(const SpeedLimit& limit) {
    limit_.store(limit.bytesPerSecond);
    limitOn_.store(limit.on);
}

void DataSocket::ChangeSpeedLimit(std::uint32_t bytesPerSecond) {
    bytesSincePause_.store(0);
    SetSpeedLimit(SpeedLimit{bytesPerSecond != 0, bytesPerSecond});
}

SpeedLimit DataSocket::CurrentSpeedLimit() const { return SpeedLimit{limitOn_.load(), limit_.load()}; }

bool DataSocket::Pace(std::size_t bytes) {
    bytesMoved_ += bytes;
    owner_->Data().CountMoved(bytes);
    if (!limitOn_.load()) return IsOpen();
    const std::uint64_t limit = limit_.load();
    const std::uint64_t counted = bytesSincePause_.fetch_add(bytes) + bytes;
    if (limit == 0 || counted < limit) return IsOpen();
    bytesSincePause_.store(0);
    const auto pause = std::chrono::milliseconds(static_cast<std::int64_t>(static_cast<double>(counted) / limit * 1000.0));
    return PauseFor(pause);
}

double DataSocket::BytesPerSecond() const {
    return Started() ? static_cast<double>(BytesMoved()) / SecondsRunning() : 0.0;
}

double DataSocket::SecondsRunning() const {
    const auto elapsed = std::chrono::steady_clock::now() - startTime_;
    return std::max(1.0, std::floor(std::chrono::duration<double>(elapsed).count()));
}

}  // namespace tolvane::ftp
