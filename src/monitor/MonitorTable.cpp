#include "monitor/MonitorTable.h"

#include <algorithm>
#include <utility>

namespace tolvane::monitor {

namespace {

std::vector<std::string> HeadersOf(TableId id) {
    switch (id) {
    case TableId::Connections: return {"ID", "User", "IP", "Connected", "Current Dir", "Server IP Home"};
    case TableId::Transfers: return {"ID", "Action", "Filename", "Status", "Speed", "Server IP Home"};
    case TableId::Requests: return {"ID", "IP", "Succeed", "Time", "Reason"};
    }
    return {};
}

bool SameOwner(const std::weak_ptr<RowOwner>& a, const std::weak_ptr<RowOwner>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

bool IsOwnerless(const std::weak_ptr<RowOwner>& owner) {
    return SameOwner(owner, std::weak_ptr<RowOwner>{});
}

}  // namespace

MonitorTable::MonitorTable(TableId id, Publisher publish, std::size_t rowLimit)
    : id_(id), headers_(HeadersOf(id)), publish_(std::move(publish)), rowLimit_(rowLimit) {}

int MonitorTable::Insert(int index, std::weak_ptr<RowOwner> owner, std::vector<std::string> cells) {
    cells.resize(headers_.size());
    std::lock_guard lock(mutex_);
    const int used = std::clamp(index, 0, static_cast<int>(rows_.size()));
    const auto inserted = rows_.insert(rows_.begin() + used, MonitorRow{std::move(owner), std::move(cells)});
    Publish(TableChange::Kind::Inserted, used, -1, *inserted);
    while (rowLimit_ != 0 && rows_.size() > rowLimit_) {
        rows_.pop_back();
        Publish(TableChange::Kind::Removed, static_cast<int>(rows_.size()), -1, {});
    }
    return used;
}

int MonitorTable::InsertTop(std::weak_ptr<RowOwner> owner, std::vector<std::string> cells) {
    return Insert(0, std::move(owner), std::move(cells));
}

std::optional<int> MonitorTable::IndexOf(const std::weak_ptr<RowOwner>& owner) const {
    std::lock_guard lock(mutex_);
    const auto found = FindLocked(owner);
    if (!found) {
        return std::nullopt;
    }
    return static_cast<int>(*found);
}

std::optional<MonitorRow> MonitorTable::Row(const std::weak_ptr<RowOwner>& owner) const {
    std::lock_guard lock(mutex_);
    const auto found = FindLocked(owner);
    if (!found) {
        return std::nullopt;
    }
    return rows_[*found];
}

bool MonitorTable::SetCell(const std::weak_ptr<RowOwner>& owner, int column, std::string text) {
    if (column < 0 || column >= static_cast<int>(headers_.size())) {
        return false;
    }
    std::lock_guard lock(mutex_);
    const auto found = FindLocked(owner);
    if (!found) {
        return false;
    }
    auto& row = rows_[*found];
    // Transfer rows are refreshed often with the same figures; the window need not hear of it.
    if (row.cells[column] != text) {
        row.cells[column] = std::move(text);
        Publish(TableChange::Kind::Updated, static_cast<int>(*found), column, row);
    }
    return true;
}

bool MonitorTable::SetEncrypted(const std::weak_ptr<RowOwner>& owner, bool encrypted) {
    std::lock_guard lock(mutex_);
    const auto found = FindLocked(owner);
    if (!found) {
        return false;
    }
    auto& row = rows_[*found];
    if (row.encrypted != encrypted) {
        row.encrypted = encrypted;
        Publish(TableChange::Kind::Updated, static_cast<int>(*found), -1, row);
    }
    return true;
}

bool MonitorTable::Remove(const std::weak_ptr<RowOwner>& owner) {
    std::lock_guard lock(mutex_);
    const auto found = FindLocked(owner);
    if (!found) {
        return false;
    }
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*found));
    Publish(TableChange::Kind::Removed, static_cast<int>(*found), -1, {});
    return true;
}

std::size_t MonitorTable::Count() const {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

void MonitorTable::Clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
    Publish(TableChange::Kind::Cleared, -1, -1, {});
}

std::vector<MonitorRow> MonitorTable::Rows() const {
    std::lock_guard lock(mutex_);
    return {rows_.begin(), rows_.end()};
}

int MonitorTable::CountRows(const RowPredicate& predicate) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [&](const MonitorRow& row) { return predicate(row.cells); }));
}

std::optional<std::size_t> MonitorTable::FindLocked(const std::weak_ptr<RowOwner>& owner) const {
    if (IsOwnerless(owner)) {
        return std::nullopt;
    }
    const auto found =
        std::find_if(rows_.begin(), rows_.end(), [&](const MonitorRow& row) { return SameOwner(row.owner, owner); });
    if (found == rows_.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - rows_.begin());
}

void MonitorTable::Publish(TableChange::Kind kind, int index, int column, MonitorRow row) const {
    if (publish_) {
        publish_(TableChange{id_, kind, index, column, std::move(row)});
    }
}

}  // namespace tolvane::monitor
