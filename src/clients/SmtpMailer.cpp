#include "clients/SmtpMailer.h"

#include "clients/SmtpReply.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace tolvane::clients {
namespace {

struct ExpectedReply {
    int code;
    const char* text;
};

constexpr std::array<ExpectedReply, 4> kExpectedReplies{{
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
}};

constexpr std::size_t kMaxHostName = 80;

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "localhost";
    return std::string(name).substr(0, kMaxHostName);
}

// Text that goes into a command or a header line must not end that line early.
bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool FitsOnOneLine(const MailMessage& message) {
    if (HasLineBreak(message.sender) || HasLineBreak(message.subject)) return false;
    return std::none_of(message.recipients.begin(), message.recipients.end(), [](const MailRecipient& recipient) {
        return HasLineBreak(recipient.address) || HasLineBreak(recipient.name);
    });
}

std::string FormatDate(std::time_t date) {
    std::tm local{};
    localtime_r(&date, &local);
    char text[64] = {};
    std::strftime(text, sizeof text, "%a, %d %b %y %H:%M:%S %Z", &local);
    return text;
}

}  // namespace

SmtpMailer::SmtpMailer(std::string server, int port) : port_(port), server_(std::move(server)) {}

SmtpMailer::~SmtpMailer() {
    if (connected_) Disconnect();
}

bool SmtpMailer::Connect() {
    if (connected_) return true;
    received_.clear();
    if (!socket_.Create(0, true)) {
        lastError_ = "Unable to create the socket.";
        return false;
    }
    if (!ConnectPlain(socket_, server_, port_, limits_)) {
        lastError_ = "Unable to connect to server";
        socket_.Close();
        return false;
    }
    if (!ExpectReply(kReady)) {
        lastError_ = "Server didn't respond.";
        socket_.Close();
        return false;
    }
    if (!SendText("HELO " + LocalHostName() + "\r\n") || !ExpectReply(kOk)) {
        socket_.Close();
        return false;
    }
    connected_ = true;
    return true;
}

bool SmtpMailer::Disconnect() {
    if (!connected_) return true;
    const bool said = SendText("QUIT\r\n") && ExpectReply(kBye);
    socket_.Close();
    connected_ = false;
    return said;
}

bool SmtpMailer::SendMessage(MailMessage& message) {
    if (!connected_) {
        lastError_ = "Must be connected";
        return false;
    }
    if (!PrepareMessage(message)) return false;
    if (!SendText("MAIL From: <" + message.sender + ">\r\n") || !ExpectReply(kOk)) return false;
    // A refused recipient does not stop the others.
    for (const MailRecipient& recipient : message.recipients)
        if (SendText("RCPT TO: <" + recipient.address + ">\r\n")) ExpectReply(kOk);
    if (!SendText("DATA\r\n") || !ExpectReply(kData)) return false;
    if (!SendText(message.header) || !SendText(TransparentBody(message.body)) || !SendText("\r\n.\r\n")) return false;
    return ExpectReply(kOk);
}

bool SmtpMailer::PrepareMessage(MailMessage& message) {
    if (message.recipients.empty()) {
        lastError_ = "No Recipients";
        return false;
    }
    if (!FitsOnOneLine(message)) {
        lastError_ = "Line break in an address or the subject";
        return false;
    }
    message.date = std::time(nullptr);
    message.header = "Date: " + FormatDate(message.date) + "\r\nFrom: " + message.sender +
                     "\r\nTo: " + RecipientsText(message.recipients) + "\r\nSubject: " + message.subject +
                     "\r\nX-Mailer: <" + mailerName_ + ">\r\n\r\n";
    return true;
}

bool SmtpMailer::ExpectReply(int index) {
    for (;;) {
        const SmtpReply reply = ScanSmtpReply(received_);
        if (reply.state == ReplyState::Complete) {
            received_.erase(0, reply.length);
            const ExpectedReply& expected = kExpectedReplies[static_cast<std::size_t>(index)];
            if (reply.code == expected.code) return true;
            lastError_ = std::to_string(reply.code) + ":" + expected.text;
            return false;
        }
        if (reply.state == ReplyState::TooLong ||
            !ReceiveSome(socket_, received_, kMaxSmtpReplyBytes - received_.size(), limits_))
            return Broken();
    }
}

bool SmtpMailer::SendText(std::string_view text) { return SendAll(socket_, text) || Broken(); }

// A dialogue out of step (no reply in time, a broken connection) cannot go on, not even to QUIT.
bool SmtpMailer::Broken() {
    lastError_ = "Socket Error";
    socket_.Close();
    connected_ = false;
    return false;
}

}  // namespace tolvane::clients
