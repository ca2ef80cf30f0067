#pragma once

#include "clients/MailMessage.h"
#include "clients/PlainExchange.h"
#include "net/EventSocket.h"

#include <string>

namespace tolvane::clients {

// A small SMTP client on a plain-mode socket: connect with HELO, send one message after
// another, QUIT. Every operation is blocking, bounded by the wait limits.
class SmtpMailer {
public:
    SmtpMailer(std::string server, int port);
    virtual ~SmtpMailer();
    SmtpMailer(const SmtpMailer&) = delete;
    SmtpMailer& operator=(const SmtpMailer&) = delete;

    bool Connect();
    bool Disconnect();
    bool SendMessage(MailMessage& message);
    const std::string& LastError() const { return lastError_; }
    void SetLimits(const WaitLimits& limits) { limits_ = limits; }

protected:
    // Fills the message's date and header; false (with the last error) when it cannot be sent.
    virtual bool PrepareMessage(MailMessage& message);

private:
    // The expected replies: 250, 220, 354, 221.
    enum ReplyIndex { kOk = 0, kReady = 1, kData = 2, kBye = 3 };

    bool ExpectReply(int index);
    bool SendText(std::string_view text);
    bool Broken();

    std::string lastError_ = "OK";
    bool connected_ = false;
    const int port_;
    const std::string mailerName_ = "ZE Deri";
    const std::string server_;
    net::EventSocket socket_;
    WaitLimits limits_;
    // What the server sent beyond the reply read last.
    std::string received_;
};

}  // namespace tolvane::clients
