#include "control/AdminChannel.h"

#include "control/AdminWire.h"
#include "control/ControlProtocol.h"

namespace tolvane::control {
namespace {

using namespace std::chrono_literals;

constexpr auto kAnswerTimeout = 15s;

}  // namespace

std::string AttachTarget::Name() const { return Remote() ? host + ":" + port : home.string(); }

std::optional<ReceivedFrame> ReceiveFrame(AdminLink& link) {
    const auto line = link.ReceiveLine(kMaxFrameHeaderBytes);
    const auto header = line ? ParseFrameHeader(*line, kMaxAnswerBytes) : std::nullopt;
    if (!header) return std::nullopt;
    auto body = link.ReceiveBytes(header->length);
    if (!body) return std::nullopt;
    return ReceivedFrame{header->kind, std::move(*body)};
}

std::unique_ptr<AdminLink> AdminChannel::Connect(const TrustCheck& trust, std::string& error) {
    std::unique_ptr<AdminLink> link;
    std::string greeting;
    if (target_.Remote()) {
        std::string seen;
        link = AdminLink::ConnectTls(target_.host, target_.port, seen, error);
        if (!link) return nullptr;
        {
            std::lock_guard lock(mutex_);
            if (fingerprint_.empty() && trust && trust(target_.Name(), seen)) fingerprint_ = seen;
            if (fingerprint_ != seen) {
                error = fingerprint_.empty() ? "the server's certificate (SHA-256 " + seen + ") was not trusted"
                                             : "the server's certificate has changed (SHA-256 " + seen +
                                                   "); not attached";
                return nullptr;
            }
        }
        greeting = "login " + HexOf(target_.password) + "\n";
    } else {
        link = AdminLink::ConnectLocal(ControlSocketPath(target_.home), error);
        if (!link) return nullptr;
        greeting = "attach\n";
    }
    link->SetTimeout(kAnswerTimeout);
    if (!link->SendAll(greeting)) {
        error = target_.Name() + ": the connection ended";
        return nullptr;
    }
    const auto answer = ReceiveFrame(*link);
    if (!answer || answer->kind != kOkFrame) {
        error = answer ? answer->body.substr(0, answer->body.find('\n'))
                       : target_.Name() + ": no answer to attaching (is it a tolvaned that takes windows?)";
        return nullptr;
    }
    return link;
}

// A later connection is held to the pinned fingerprint and never asks.
std::unique_ptr<AdminLink> AdminChannel::Open(std::string& error) { return Connect({}, error); }

std::optional<Answer> AdminChannel::Exchange(AdminLink& link, const std::vector<std::string>& words,
                                             std::string_view body) {
    if (!link.SendAll(RequestLine(words) + std::string(body))) return std::nullopt;
    const auto frame = ReceiveFrame(link);
    if (!frame) return std::nullopt;
    return Answer{frame->kind == kOkFrame, frame->body};
}

Answer AdminChannel::Run(const std::vector<std::string>& words) { return Run(words, {}); }

Answer AdminChannel::Run(const std::vector<std::string>& words, std::string_view body) {
    std::lock_guard runLock(runMutex_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!commandLink_) {
            std::string error;
            commandLink_ = Open(error);
            if (!commandLink_) return {false, error + "\n"};
        }
        if (auto answer = Exchange(*commandLink_, words, body)) return *answer;
        commandLink_.reset();
    }
    return {false, target_.Name() + ": the connection was lost\n"};
}

}  // namespace tolvane::control
