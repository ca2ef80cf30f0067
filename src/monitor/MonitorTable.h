#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "monitor/RowOwner.h"

namespace tolvane::monitor {

enum class TableId { Connections, Transfers, Requests };

struct ConnectionColumns {
    static constexpr int Id = 0, User = 1, Ip = 2, Connected = 3, CurrentDir = 4, IpHome = 5;
};
struct TransferColumns {
    static constexpr int Id = 0, Action = 1, Filename = 2, Status = 3, Speed = 4, IpHome = 5;
};
struct RequestColumns {
    static constexpr int Id = 0, Ip = 1, Succeed = 2, Time = 3, Reason = 4;
};

// A row knows its session or data socket only weakly, so a row outliving its owner is
// harmless. Rows are found by that owner, not by the ID text: two IP homes hand out the same
// connection numbers, and one session can run two transfers.
struct MonitorRow {
    std::weak_ptr<RowOwner> owner;
    std::vector<std::string> cells;
    // A session whose control connection is under TLS; shown beside the cells, not in them.
    bool encrypted = false;
};

struct TableChange {
    enum class Kind { Inserted, Updated, Removed, Cleared };

    TableId table;
    Kind kind;
    int index;       // row affected; -1 for Cleared
    int column;      // column updated; -1 unless Updated, and -1 when only the row's mark changed
    MonitorRow row;  // the row after the change; empty for Removed and Cleared
};

// One list of the live monitor. Thread-safe; hands out copies. Every change is published
// while the table is locked, so the changes of one table arrive in order; the publisher must
// not call back into the table.
class MonitorTable {
public:
    using Publisher = std::function<void(const TableChange&)>;
    using RowPredicate = std::function<bool(const std::vector<std::string>&)>;

    // A table with a row limit drops its last rows when an insert goes beyond it.
    explicit MonitorTable(TableId id, Publisher publish = {}, std::size_t rowLimit = 0);

    MonitorTable(const MonitorTable&) = delete;
    MonitorTable& operator=(const MonitorTable&) = delete;

    TableId Id() const { return id_; }
    const std::vector<std::string>& Headers() const { return headers_; }

    // index is clamped to [0, Count()]; cells are padded or cut to the column count.
    int Insert(int index, std::weak_ptr<RowOwner> owner, std::vector<std::string> cells);
    int InsertTop(std::weak_ptr<RowOwner> owner, std::vector<std::string> cells);

    // Lookups act on the owner's first row; an empty owner matches no row. An expired owner
    // still finds its rows.
    std::optional<int> IndexOf(const std::weak_ptr<RowOwner>& owner) const;
    std::optional<MonitorRow> Row(const std::weak_ptr<RowOwner>& owner) const;
    bool SetCell(const std::weak_ptr<RowOwner>& owner, int column, std::string text);
    bool SetEncrypted(const std::weak_ptr<RowOwner>& owner, bool encrypted);
    bool Remove(const std::weak_ptr<RowOwner>& owner);

    std::size_t Count() const;
    void Clear();
    std::vector<MonitorRow> Rows() const;
    // The predicate runs with the table locked and must not call back into it.
    int CountRows(const RowPredicate& predicate) const;

private:
    std::optional<std::size_t> FindLocked(const std::weak_ptr<RowOwner>& owner) const;
    void Publish(TableChange::Kind kind, int index, int column, MonitorRow row) const;

    const TableId id_;
    const std::vector<std::string> headers_;
    const Publisher publish_;
    const std::size_t rowLimit_;
    mutable std::mutex mutex_;
    std::deque<MonitorRow> rows_;  // the requests list takes every new row at the top
};

}  // namespace tolvane::monitor
