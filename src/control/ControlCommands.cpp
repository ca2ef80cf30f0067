#include "control/ControlCommands.h"

#include "control/AdminWire.h"
#include "control/DatabaseCopy.h"
#include "monitor/LiveRegistry.h"
#include "server/Server.h"
#include "store/AccountDatabase.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace tolvane::control {
namespace {

using Cells = std::vector<std::string>;

Answer Ok(std::string text) { return {true, std::move(text)}; }
Answer Refused(std::string text) { return {false, std::move(text) + '\n'}; }

// Columns padded to their widest cell, two spaces apart; the last one runs free.
std::string TextTable(const std::vector<Cells>& rows) {
    std::vector<std::size_t> widths;
    for (const Cells& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    std::string text;
    for (const Cells& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size()) line.append(widths[column] - row[column].size() + 2, ' ');
        }
        text += line + '\n';
    }
    return text;
}

std::string JsonArray(const std::vector<std::string>& objects) {
    std::string text = "[";
    for (std::size_t i = 0; i < objects.size(); ++i) text += (i ? "," : "") + objects[i];
    return text + "]\n";
}

std::string Cell(const monitor::MonitorRow& row, int column) {
    return column < static_cast<int>(row.cells.size()) ? row.cells[static_cast<std::size_t>(column)] : std::string();
}

template <typename Number>
std::optional<Number> Digits(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> ParseId(const std::string& text) { return Digits<std::uint64_t>(text); }

// Bytes per second, "k" and "m" counting in 1024s; 0 lifts the limit.
std::optional<std::uint32_t> ParseRate(std::string_view text) {
    std::uint64_t unit = 1;
    if (text.ends_with('k') || text.ends_with('K')) unit = 1024;
    if (text.ends_with('m') || text.ends_with('M')) unit = 1024 * 1024;
    if (unit != 1) text.remove_suffix(1);
    const auto value = Digits<std::uint32_t>(text);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max() / unit) return std::nullopt;
    return static_cast<std::uint32_t>(*value * unit);
}

// A signed, non-zero amount: "+5000" gives, "-5000" takes.
std::optional<std::int64_t> ParseCredit(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    const auto value = Digits<std::int64_t>(text);
    if (!value || *value == 0) return std::nullopt;
    return negative ? -*value : *value;
}

std::string Number(double value) { return std::to_string(static_cast<std::int64_t>(std::llround(value))); }

std::string LimitText(const monitor::TransferHandle& transfer) {
    return transfer.SpeedLimited() ? std::to_string(transfer.SpeedLimitBytesPerSecond()) : "-";
}

std::string Direction(const monitor::MonitorRow& row) {
    return Cell(row, monitor::TransferColumns::Action) == "Uploading" ? "upload" : "download";
}

constexpr const char* kUsage =
    "commands: status, sessions, transfers, requests (each with --json), kick ID, close-transfer ID,\n"
    "speed ID RATE, credit ID +BYTES|-BYTES, offline, online, reload";

}  // namespace

ControlCommands::ControlCommands(server::Server& server, std::function<void()> reload)
    : server_(server), reload_(std::move(reload)) {}

Answer ControlCommands::Run(const Request& request) {
    std::lock_guard lock(mutex_);
    ids_.ForgetEnded();
    const std::vector<std::string>& words = request.words;
    const std::string& command = words.front();
    const std::size_t arguments = words.size() - 1;
    if (arguments == 0) {
        if (command == "status") return Status(request.json);
        if (command == "sessions") return Sessions(request.json);
        if (command == "transfers") return Transfers(request.json);
        if (command == "requests") return Requests(request.json);
        if (command == "offline") return Offline();
        if (command == "online") return Online();
        if (command == "reload") return Reload();
    }
    // The window's own, beyond what `tolvaned ctl` offers.
    if (arguments == 0 && command == "clear-requests") return ClearRequests();
    if (arguments == 0 && command == "database-get") return Database();
    if (arguments == 1 && command == "account-reload") return ReloadAccount(words[1]);
    if (arguments == 1 && command == "kick") return Kick(words[1]);
    if (arguments == 1 && command == "close-transfer") return CloseTransfer(words[1]);
    if (arguments == 2 && command == "speed") return Speed(words[1], words[2]);
    if (arguments == 2 && command == "credit") return Credit(words[1], words[2]);
    return Refused("unknown command or wrong arguments: " + RequestLine(words).substr(0, 80) + kUsage);
}

Answer ControlCommands::Status(bool json) const {
    auto& registry = server_.Shared().Registry();
    const bool online = server_.Shared().Online();
    const std::string sessions = std::to_string(registry.Connections().Count());
    const std::string transfers = std::to_string(registry.Transfers().Count());
    const std::string pid = std::to_string(getpid());
    if (json)
        return Ok("{\"online\":" + std::string(online ? "true" : "false") + ",\"pid\":" + pid +
                  ",\"sessions\":" + sessions + ",\"transfers\":" + transfers +
                  ",\"home\":" + JsonString(server_.Home().string()) + "}\n");
    return Ok(TextTable({{"state", online ? "online" : "offline"},
                         {"pid", pid},
                         {"sessions", sessions},
                         {"transfers", transfers},
                         {"home", server_.Home().string()}}));
}

Answer ControlCommands::Sessions(bool json) {
    std::vector<Cells> table{{"ID", "USER", "ADDRESS", "IDLE", "CONNECTED", "IP HOME", "FOLDER"}};
    std::vector<std::string> objects;
    for (const monitor::MonitorRow& row : server_.Shared().Registry().Connections().Rows()) {
        const auto session = monitor::SessionOf(row.owner);
        if (!session || !session->Live()) continue;
        using Column = monitor::ConnectionColumns;
        const std::string id = std::to_string(ids_.IdOf(row.owner));
        const std::string idle = std::to_string(session->IdleSeconds());
        if (json) {
            objects.push_back("{\"id\":" + id + ",\"connection\":" + JsonString(Cell(row, Column::Id)) +
                              ",\"user\":" + JsonString(session->UserName()) + ",\"address\":" +
                              JsonString(Cell(row, Column::Ip)) + ",\"idle_seconds\":" + idle + ",\"connected\":" +
                              JsonString(Cell(row, Column::Connected)) + ",\"ip_home\":" +
                              JsonString(Cell(row, Column::IpHome)) + ",\"folder\":" +
                              JsonString(session->CurrentDirectory()) + ",\"ratio\":" +
                              (session->RatioEnabled() ? "true" : "false") + ",\"credit\":" +
                              std::to_string(session->Credit()) + ",\"uploaded_bytes\":" +
                              std::to_string(session->UploadedBytes()) + ",\"downloaded_bytes\":" +
                              std::to_string(session->DownloadedBytes()) + "}");
        } else {
            table.push_back({id, session->UserName(), Cell(row, Column::Ip), idle + "s", Cell(row, Column::Connected),
                             Cell(row, Column::IpHome), session->CurrentDirectory()});
        }
    }
    return Ok(json ? JsonArray(objects) : TextTable(table));
}

Answer ControlCommands::Transfers(bool json) {
    std::vector<Cells> table{{"ID", "CONN", "DIRECTION", "BYTES", "RATE B/S", "LIMIT B/S", "FILE"}};
    std::vector<std::string> objects;
    for (const monitor::MonitorRow& row : server_.Shared().Registry().Transfers().Rows()) {
        const auto transfer = monitor::TransferOf(row.owner);
        if (!transfer) continue;
        using Column = monitor::TransferColumns;
        const std::string id = std::to_string(ids_.IdOf(row.owner));
        const std::string bytes = std::to_string(transfer->BytesMoved());
        const std::string rate = Number(transfer->BytesPerSecond());
        const std::string limit =
            transfer->SpeedLimited() ? std::to_string(transfer->SpeedLimitBytesPerSecond()) : "null";
        if (json) {
            objects.push_back("{\"id\":" + id + ",\"connection\":" + JsonString(Cell(row, Column::Id)) +
                              ",\"direction\":\"" + Direction(row) + "\",\"file\":" +
                              JsonString(Cell(row, Column::Filename)) + ",\"bytes\":" + bytes +
                              ",\"bytes_per_second\":" + rate + ",\"limit_bytes_per_second\":" +
                              limit +
                              ",\"ip_home\":" + JsonString(Cell(row, Column::IpHome)) + "}");
        } else {
            table.push_back({id, Cell(row, Column::Id), Direction(row), bytes, rate, LimitText(*transfer),
                             Cell(row, Column::Filename)});
        }
    }
    return Ok(json ? JsonArray(objects) : TextTable(table));
}

Answer ControlCommands::Requests(bool json) const {
    std::vector<Cells> table{{"CONN", "ADDRESS", "SUCCEEDED", "TIME", "REASON"}};
    std::vector<std::string> objects;
    for (const monitor::MonitorRow& row : server_.Shared().Registry().Requests().Rows()) {
        using Column = monitor::RequestColumns;
        if (json) {
            objects.push_back("{\"connection\":" + JsonString(Cell(row, Column::Id)) + ",\"address\":" +
                              JsonString(Cell(row, Column::Ip)) + ",\"succeeded\":" +
                              JsonString(Cell(row, Column::Succeed)) + ",\"time\":" +
                              JsonString(Cell(row, Column::Time)) +
                              ",\"reason\":" + JsonString(Cell(row, Column::Reason)) + "}");
        } else {
            table.push_back(row.cells);
        }
    }
    return Ok(json ? JsonArray(objects) : TextTable(table));
}

std::shared_ptr<monitor::SessionHandle> ControlCommands::LiveSession(const std::string& id,
                                                                     std::weak_ptr<monitor::RowOwner>& row,
                                                                     Answer& refusal) {
    const auto number = ParseId(id);
    const auto owner = number ? ids_.Find(*number) : std::nullopt;
    if (!owner) {
        refusal = Refused("no session " + id + " (the numbers are those of 'sessions')");
        return nullptr;
    }
    auto session = monitor::SessionOf(*owner);
    const bool listed = server_.Shared().Registry().Connections().IndexOf(*owner).has_value();
    if (!session || !session->Live() || !listed) {
        refusal = Refused(owner->expired() || session ? "session " + id + " has ended; nothing done"
                                                      : id + " is not a session");
        return nullptr;
    }
    row = *owner;
    return session;
}

std::shared_ptr<monitor::TransferHandle> ControlCommands::LiveTransfer(const std::string& id,
                                                                       std::weak_ptr<monitor::RowOwner>& row,
                                                                       Answer& refusal) {
    const auto number = ParseId(id);
    const auto owner = number ? ids_.Find(*number) : std::nullopt;
    if (!owner) {
        refusal = Refused("no transfer " + id + " (the numbers are those of 'transfers')");
        return nullptr;
    }
    auto transfer = monitor::TransferOf(*owner);
    const bool listed = server_.Shared().Registry().Transfers().IndexOf(*owner).has_value();
    if (!transfer || !listed) {
        refusal = Refused(owner->expired() || transfer ? "transfer " + id + " has ended; nothing done"
                                                       : id + " is not a transfer");
        return nullptr;
    }
    row = *owner;
    return transfer;
}

Answer ControlCommands::Kick(const std::string& id) {
    Answer refusal;
    std::weak_ptr<monitor::RowOwner> row;
    const auto session = LiveSession(id, row, refusal);
    if (!session) return refusal;
    session->SendReply(monitor::SessionHandle::kKickReply);
    session->Kick();
    server_.Shared().Registry().Connections().Remove(row);
    return Ok("kicked session " + id + " (" + session->UserName() + ")\n");
}

// A download answers for itself; an upload's reply and row removal happen in its
// CloseTransfer too. The row goes in either case, as in the window.
Answer ControlCommands::CloseTransfer(const std::string& id) {
    Answer refusal;
    std::weak_ptr<monitor::RowOwner> row;
    const auto transfer = LiveTransfer(id, row, refusal);
    if (!transfer) return refusal;
    transfer->CloseTransfer();
    server_.Shared().Registry().Transfers().Remove(row);
    return Ok("closed transfer " + id + "\n");
}

Answer ControlCommands::Speed(const std::string& id, const std::string& rate) {
    const auto limit = ParseRate(rate);
    if (!limit) return Refused("not a rate: " + rate + " (bytes per second, k or m for 1024s; 0 for none)");
    Answer refusal;
    std::weak_ptr<monitor::RowOwner> row;
    const auto transfer = LiveTransfer(id, row, refusal);
    if (!transfer) return refusal;
    transfer->ChangeSpeedLimit(*limit);
    return Ok("transfer " + id + ": " + (*limit ? "limit " + std::to_string(*limit) + " bytes/s" : "no limit") + "\n");
}

Answer ControlCommands::Credit(const std::string& id, const std::string& bytes) {
    const auto delta = ParseCredit(bytes);
    if (!delta) return Refused("not a credit change: " + bytes + " (+BYTES gives, -BYTES takes)");
    Answer refusal;
    std::weak_ptr<monitor::RowOwner> row;
    const auto session = LiveSession(id, row, refusal);
    if (!session) return refusal;
    if (!session->RatioEnabled()) return Refused("session " + id + " runs no ratio: it has no credit to change");
    session->AdjustCredit(*delta);
    return Ok("session " + id + ": credit " + std::to_string(session->Credit()) + "\n");
}

Answer ControlCommands::Offline() {
    if (!server_.Shared().Online()) return Refused("already offline");
    server_.GoOffline();
    return Ok("offline\n");
}

Answer ControlCommands::Online() {
    if (server_.Shared().Online()) return Refused("already online");
    server_.GoOnline();
    return Ok("online\n");
}

Answer ControlCommands::Reload() {
    reload_();
    return Ok("reloaded: " + std::to_string(server_.ServedIpHomes().size()) + " IP homes\n");
}

Answer ControlCommands::ReloadAccount(const std::string& id) {
    Answer refusal;
    std::weak_ptr<monitor::RowOwner> row;
    const auto session = LiveSession(id, row, refusal);
    if (!session) return refusal;
    session->RequestAccountReload();
    return Ok("session " + id + ": account reloaded at its next command\n");
}

Answer ControlCommands::ClearRequests() {
    server_.Shared().Registry().Requests().Clear();
    return Ok("cleared\n");
}

Answer ControlCommands::Database() const { return Ok(EncodeDatabase(store::DatabaseDir(server_.Home()))); }

Answer ControlCommands::PutDatabase(std::string_view changes) {
    std::lock_guard lock(mutex_);
    if (const auto failure = ApplyDatabaseChanges(store::DatabaseDir(server_.Home()), changes)) return Refused(*failure);
    return Ok("account database changed\n");
}

std::string ControlCommands::Snapshot() {
    std::lock_guard lock(mutex_);
    ids_.ForgetEnded();
    return SnapshotLocked();
}

// One line per row: its kind, its number, what the window's menus and dialogs read of its
// owner (of a session, last, whether it is encrypted), then its cells. A request row of an
// ended session is numbered 0.
std::string ControlCommands::SnapshotLocked() {
    auto& registry = server_.Shared().Registry();
    std::string text = JoinFields({"state", server_.Shared().Online() ? "1" : "0", std::to_string(getpid()),
                                   server_.Home().string()}) +
                       '\n';
    const auto line = [&text](std::vector<std::string> fields, const std::vector<std::string>& cells) {
        fields.insert(fields.end(), cells.begin(), cells.end());
        text += JoinFields(fields) + '\n';
    };
    for (const monitor::MonitorRow& row : registry.Connections().Rows()) {
        const auto session = monitor::SessionOf(row.owner);
        if (!session || !session->Live()) continue;
        line({"c", std::to_string(ids_.IdOf(row.owner)), session->UserName(), session->CurrentDirectory(),
              session->RatioEnabled() ? "1" : "0", std::to_string(session->Credit()),
              std::to_string(session->UploadedBytes()), std::to_string(session->UploadedFiles()),
              std::to_string(session->DownloadedBytes()), std::to_string(session->DownloadedFiles()),
              std::to_string(session->IdleSeconds()), row.encrypted ? "1" : "0"},
             row.cells);
    }
    for (const monitor::MonitorRow& row : registry.Transfers().Rows()) {
        const auto transfer = monitor::TransferOf(row.owner);
        if (!transfer) continue;
        line({"t", std::to_string(ids_.IdOf(row.owner)), transfer->SpeedLimited() ? "1" : "0",
              std::to_string(transfer->SpeedLimitBytesPerSecond()), std::to_string(transfer->BytesMoved()),
              Number(transfer->BytesPerSecond())},
             row.cells);
    }
    for (const monitor::MonitorRow& row : registry.Requests().Rows())
        line({"r", row.owner.expired() ? "0" : std::to_string(ids_.IdOf(row.owner))}, row.cells);
    return text;
}

}  // namespace tolvane::control
