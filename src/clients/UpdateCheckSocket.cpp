#include "clients/UpdateCheckSocket.h"

#include "clients/HttpResponse.h"


namespace tolvane::clients {
namespace {

constexpr const char* kHostFailure = "Failed to connect to host ...";
constexpr std::chrono::milliseconds kSendWait{5000};

}  // namespace

UpdateCheckSocket::UpdateCheckSocket(std::shared_ptr<UpdateCheckState> state, std::string host,
                                     std::chrono::milliseconds timeout)
    : state_(std::move(state)), host_(std::move(host)), deadline_(std::chrono::steady_clock::now() + timeout) {}

std::weak_ptr<UpdateCheckSocket> UpdateCheckSocket::Start(const std::shared_ptr<UpdateCheckState>& state,
                                                          const std::string& host, int port,
                                                          std::chrono::milliseconds timeout) {
    state->SetStatus("Connecting to " + host + " ...");
    auto socket = std::make_shared<UpdateCheckSocket>(state, host, timeout);
    if (port <= 0 || port > 65535 || !socket->Create(0)) {
        state->Finish(kHostFailure, "ERROR", {});
        return {};
    }
    // Before the worker can report an end of its own, so that only one of the two finishes.
    if (!socket->Connect(host, static_cast<std::uint16_t>(port))) {
        state->Finish("Failed to connect ...", "ERROR", {});
        socket->Close();
    }
    return socket;
}

void UpdateCheckSocket::OnIdleTick() {
    if (!finished_ && std::chrono::steady_clock::now() >= deadline_) Fail(kHostFailure);
}

void UpdateCheckSocket::OnConnect() { state_->SetStatus("Connected ..."); }

void UpdateCheckSocket::OnSend() {
    if (requestSent_ || finished_) return;
    requestSent_ = true;
    state_->SetStatus("Sending request ...");
    const std::string request = "GET /version.txt HTTP/1.1\r\nHost: " + host_ + "\r\n\r\n";
    std::string_view left = request;
    while (!left.empty()) {
        const net::IoResult sent = Send(left.data(), left.size());
        if (sent.Moved()) {
            left.remove_prefix(sent.bytes);
        } else if (!(sent.WouldBlock() && WaitWritable(kSendWait))) {
            return;
        }
    }
    state_->SetStatus("Request sent ...");
    state_->SetStatus("Waiting for response ...");
}

void UpdateCheckSocket::OnReceive() {
    if (finished_) return;
    state_->SetStatus("Receiving Data ...");
    if (!ReceiveAvailable()) return;
    const auto expected = ExpectedResponseLength(response_);
    if (expected && *expected == totalReceived_) Complete();
}

void UpdateCheckSocket::OnClose() {
    if (finished_) return;
    // The last data may come with the close; it belongs to the response.
    if (ReceiveAvailable()) Complete();
}

bool UpdateCheckSocket::ReceiveAvailable() {
    for (;;) {
        char buffer[1024] = {};
        const net::IoResult received = Receive(buffer, sizeof buffer);
        if (received.status == net::IoStatus::Failed) {
            Fail(kHostFailure);
            return false;
        }
        if (!received.Moved()) return true;
        totalReceived_ += received.bytes;
        if (totalReceived_ > kMaxResponseBytes) {
            Fail("Version file too large ...");
            return false;
        }
        response_.append(buffer, received.bytes);
        if (received.bytes < sizeof buffer) return true;
    }
}

void UpdateCheckSocket::Complete() {
    finished_ = true;
    state_->SetStatus("Parsing VersionInfo ...");
    std::string fetched(ResponseBody(response_));
    VersionInfo latest = ParseVersionInfo(fetched);
    state_->Finish("Done ...", std::move(fetched), std::move(latest));
    Close();
}

void UpdateCheckSocket::Fail(const char* status) {
    finished_ = true;
    state_->Finish(status, "ERROR", {});
    Close();
}

void UpdateCheckSocket::OnWorkerExit() {
    // A refused, reset or otherwise failed connection ends the worker without a handler call.
    if (!finished_ && !state_->Done()) Fail(kHostFailure);
}

}  // namespace tolvane::clients
