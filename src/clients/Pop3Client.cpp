#include "clients/Pop3Client.h"

#include "clients/Pop3Reply.h"

namespace tolvane::clients {

bool Pop3Client::Login(const std::string& host, const std::string& user, const std::string& password, int port) {
    received_.clear();
    if (!socket_.Create(0, true) || !ConnectPlain(socket_, host, port, limits_)) {
        lastError_ = "Server cannot be connected";
        socket_.Close();
        return false;
    }
    if (!ExpectOk("Bad Connection")) return false;
    return Command("USER " + user, "Bad User Name") && Command("PASS " + password, "Bad Password Name");
}

bool Pop3Client::Quit() {
    const bool said = Command("QUIT ", "Error occured during QUIT");
    socket_.Close();
    return said;
}

bool Pop3Client::Command(const std::string& line, const char* failure) {
    // A line break inside a name or password would smuggle in a command of its own.
    if (line.find_first_of("\r\n") != std::string::npos || !SendAll(socket_, line + "\r\n")) {
        lastError_ = failure;
        return false;
    }
    return ExpectOk(failure);
}

bool Pop3Client::ExpectOk(const char* failure) {
    for (;;) {
        const Pop3Reply reply = ScanPop3Reply(received_);
        if (reply.state == ReplyState::Complete) {
            received_.erase(0, reply.length);
            if (reply.positive) return true;
            break;
        }
        if (reply.state == ReplyState::TooLong ||
            !ReceiveSome(socket_, received_, kMaxPop3ReplyBytes - received_.size(), limits_))
            break;
    }
    lastError_ = failure;
    return false;
}

}  // namespace tolvane::clients
