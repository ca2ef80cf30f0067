#include "control/Attachment.h"

#include "control/AdminWire.h"

#include <algorithm>
#include <set>

namespace tolvane::control {
namespace {

using namespace std::chrono_literals;

// Three keep-alives missed: the link is dead even when TCP has not noticed.
constexpr auto kWatchTimeout = 35s;

bool SameOwner(const std::weak_ptr<monitor::RowOwner>& a, const std::weak_ptr<monitor::RowOwner>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

// Brings a mirrored table in line with the rows the server listed, keeping the rows that
// stayed, so that a window's selection survives a refresh.
void MirrorTable(monitor::MonitorTable& table, const std::vector<monitor::MonitorRow>& fresh) {
    std::set<std::weak_ptr<monitor::RowOwner>, std::owner_less<std::weak_ptr<monitor::RowOwner>>> present;
    for (const auto& row : fresh) present.insert(row.owner);
    for (const auto& row : table.Rows()) {
        if (!present.count(row.owner)) table.Remove(row.owner);
    }
    std::vector<monitor::MonitorRow> current = table.Rows();
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        if (i < current.size() && SameOwner(current[i].owner, fresh[i].owner)) {
            for (std::size_t column = 0; column < fresh[i].cells.size(); ++column) {
                if (column >= current[i].cells.size() || current[i].cells[column] != fresh[i].cells[column])
                    table.SetCell(fresh[i].owner, static_cast<int>(column), fresh[i].cells[column]);
            }
            table.SetEncrypted(fresh[i].owner, fresh[i].encrypted);
            continue;
        }
        const auto stale = std::find_if(current.begin(), current.end(),
                                        [&](const monitor::MonitorRow& row) { return SameOwner(row.owner, fresh[i].owner); });
        if (stale != current.end()) {
            table.Remove(fresh[i].owner);
            current.erase(stale);
        }
        table.Insert(static_cast<int>(i), fresh[i].owner, fresh[i].cells);
        table.SetEncrypted(fresh[i].owner, fresh[i].encrypted);
        current.insert(current.begin() + static_cast<std::ptrdiff_t>(std::min(i, current.size())), fresh[i]);
    }
}

std::vector<std::string> Slice(const std::vector<std::string>& fields, std::size_t from, std::size_t to) {
    from = std::min(from, fields.size());
    to = std::min(to, fields.size());
    return {fields.begin() + static_cast<std::ptrdiff_t>(from), fields.begin() + static_cast<std::ptrdiff_t>(to)};
}

// The last of a session's fields says whether it is encrypted.
constexpr std::size_t kSessionFields = 10;
constexpr std::size_t kTransferFields = 4;

}  // namespace

std::variant<std::unique_ptr<Attachment>, std::string> Attachment::Open(AttachTarget target,
                                                                        const AdminChannel::TrustCheck& trust) {
    auto channel = std::make_shared<AdminChannel>(std::move(target));
    std::string error;
    auto link = channel->Connect(trust, error);
    if (!link) return error;
    return std::make_unique<Attachment>(Key(), std::move(channel), std::move(link));
}

Attachment::Attachment(Key, std::shared_ptr<AdminChannel> channel, std::unique_ptr<AdminLink> watchLink)
    : channel_(std::move(channel)), thread_([this, link = std::move(watchLink)]() mutable {
          WatchUntilStopped(std::move(link));
      }) {}

Attachment::~Attachment() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (watching_) watching_->Interrupt();
    }
    wake_.notify_all();
    thread_.join();
}

void Attachment::GoOnline() { channel_->Run({"online"}); }
void Attachment::GoOffline() { channel_->Run({"offline"}); }

void Attachment::ClearRequests() {
    channel_->Run({"clear-requests"});
    registry_.Requests().Clear();
}

void Attachment::Say(const std::string& text, std::uint32_t kind) { log_.AppendLine(" - " + text + "\r\n", kind); }

bool Attachment::PauseBeforeRetry() {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, kReconnectPause, [this] { return stopping_; });
    return !stopping_;
}

void Attachment::WatchUntilStopped(std::unique_ptr<AdminLink> link) {
    bool saidLost = false;
    for (;;) {
        if (link) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
                watching_ = link.get();
            }
            if (StartWatching(*link)) {
                if (saidLost) Say("Attached again to " + Name(), monitor::SystemMessage);
                saidLost = false;
                linked_ = true;
                Follow(*link);
            }
            std::lock_guard lock(mutex_);
            watching_ = nullptr;
            if (stopping_) return;
        }
        link.reset();
        linked_ = false;
        if (!saidLost) Say("Lost the link to " + Name() + "; attaching again ...", monitor::ErrorMessage);
        saidLost = true;
        if (!PauseBeforeRetry()) return;
        std::string error;
        link = channel_->Connect({}, error);
    }
}

bool Attachment::StartWatching(AdminLink& link) {
    if (!link.SendAll("watch\n")) return false;
    const auto answer = ReceiveFrame(link);
    return answer && answer->kind == kOkFrame;
}

void Attachment::Follow(AdminLink& link) {
    link.SetTimeout(kWatchTimeout);
    while (const auto frame = ReceiveFrame(link)) {
        if (!Apply(*frame)) return;
    }
}

bool Attachment::Apply(const ReceivedFrame& frame) {
    if (frame.kind == kRowsFrame) {
        ApplySnapshot(frame.body);
        return true;
    }
    if (frame.kind != kLogFrame) return false;
    auto record = DecodeRecord(frame.body);
    if (!record) return false;
    // A link made again is sent the backlog again: what was shown already is skipped.
    if (record->sequence <= lastRecord_) return true;
    lastRecord_ = record->sequence;
    log_.Mirror(std::move(*record));
    return true;
}

void Attachment::ApplySnapshot(const std::string& body) {
    std::vector<monitor::MonitorRow> connections, transfers, requests;
    std::map<std::string, std::shared_ptr<RemoteSession>> sessions;
    std::map<std::string, std::shared_ptr<RemoteTransfer>> running;
    std::vector<std::shared_ptr<monitor::RowOwner>> requestOwners;
    for (std::size_t start = 0, end; (end = body.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto fields = SplitFields(std::string_view(body).substr(start, end - start));
        if (fields.size() < 2) continue;
        const std::string& kind = fields[0];
        const std::string& id = fields[1];
        if (kind == "state" && fields.size() >= 3) {
            online_ = id == "1";
            // Another server (restarted): its records count anew.
            if (!serverPid_.empty() && fields[2] != serverPid_) lastRecord_ = 0;
            serverPid_ = fields[2];
        } else if (kind == "c") {
            auto& session = sessions[id];
            session = sessions_.count(id) ? sessions_[id] : std::make_shared<RemoteSession>(channel_, id);
            session->Update(Slice(fields, 2, 2 + kSessionFields));
            const bool encrypted = fields.size() > 1 + kSessionFields && fields[1 + kSessionFields] == "1";
            connections.push_back({session, Slice(fields, 2 + kSessionFields, fields.size()), encrypted});
        } else if (kind == "t") {
            auto& transfer = running[id];
            transfer = transfers_.count(id) ? transfers_[id] : std::make_shared<RemoteTransfer>(channel_, id);
            transfer->Update(Slice(fields, 2, 2 + kTransferFields));
            transfers.push_back({transfer, Slice(fields, 2 + kTransferFields, fields.size())});
        } else if (kind == "r") {
            std::shared_ptr<monitor::RowOwner> owner;
            if (sessions.count(id)) owner = sessions[id];
            if (!owner) owner = requestOwners.emplace_back(std::make_shared<monitor::RowOwner>());
            requests.push_back({owner, Slice(fields, 2, fields.size())});
        }
    }
    for (auto& [id, session] : sessions_) {
        if (!sessions.count(id)) session->MarkEnded();
    }
    MirrorTable(registry_.Connections(), connections);
    MirrorTable(registry_.Transfers(), transfers);
    MirrorTable(registry_.Requests(), requests);
    sessions_ = std::move(sessions);
    transfers_ = std::move(running);
    requestOwners_ = std::move(requestOwners);
}

}  // namespace tolvane::control
