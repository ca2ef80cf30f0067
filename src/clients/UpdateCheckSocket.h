#pragma once

#include "clients/UpdateCheckState.h"
#include "net/EventSocket.h"

#include <chrono>
#include <memory>
#include <string>

namespace tolvane::clients {

// Fetches /version.txt from the update host over HTTP on a worker of its own and reports
// progress and result into the shared state.
class UpdateCheckSocket : public net::EventSocket {
public:
    // Responses beyond this size are refused: a version file is a few lines.
    static constexpr std::size_t kMaxResponseBytes = 64 * 1024;
    // A check that has not ended by then gives up.
    static constexpr std::chrono::seconds kTimeout{20};

    UpdateCheckSocket(std::shared_ptr<UpdateCheckState> state, std::string host, std::chrono::milliseconds timeout);

    // Creates the socket in event mode and starts connecting; the check's state says the rest.
    // Close the returned socket (when it still exists) to end the check early.
    static std::weak_ptr<UpdateCheckSocket> Start(const std::shared_ptr<UpdateCheckState>& state,
                                                  const std::string& host, int port,
                                                  std::chrono::milliseconds timeout = kTimeout);

protected:
    void OnIdleTick() override;
    void OnConnect() override;
    void OnReceive() override;
    void OnClose() override;
    void OnSend() override;
    void OnWorkerExit() override;

private:
    // Receives what is there; false when the connection broke or the response grew too large
    // (the check has then failed).
    bool ReceiveAvailable();
    void Complete();
    void Fail(const char* status);

    const std::shared_ptr<UpdateCheckState> state_;
    const std::string host_;
    const std::chrono::steady_clock::time_point deadline_;
    std::string response_;
    std::size_t totalReceived_ = 0;
    bool requestSent_ = false;
    bool finished_ = false;
};

}  // namespace tolvane::clients
