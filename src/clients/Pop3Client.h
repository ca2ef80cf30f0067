#pragma once

#include "clients/PlainExchange.h"
#include "net/EventSocket.h"

#include <string>

namespace tolvane::clients {

// The POP3 login some mail services ask for before they accept mail: greeting, USER, PASS,
// and QUIT when done. Plain-mode socket, blocking, bounded by the wait limits.
class Pop3Client {
public:
    Pop3Client() = default;
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    bool Login(const std::string& host, const std::string& user, const std::string& password, int port = 110);
    bool Quit();
    const std::string& LastError() const { return lastError_; }
    void SetLimits(const WaitLimits& limits) { limits_ = limits; }

private:
    // Sends one command line and reads its status line.
    bool Command(const std::string& line, const char* failure);
    // Reads one status line; false, with `failure` as the last error, unless it is "+OK".
    bool ExpectOk(const char* failure);

    std::string lastError_ = "OK";
    net::EventSocket socket_;
    WaitLimits limits_;
    std::string received_;
};

}  // namespace tolvane::clients
