#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "monitor/LiveRegistry.h"

using namespace tolvane::monitor;

namespace {

using Cells = std::vector<std::string>;

std::shared_ptr<RowOwner> MakeOwner() {
    return std::make_shared<RowOwner>();
}

std::vector<Cells> CellsOf(const MonitorTable& table) {
    std::vector<Cells> cells;
    for (const auto& row : table.Rows()) {
        cells.push_back(row.cells);
    }
    return cells;
}

Cells Session(const std::string& id, const std::string& user, const std::string& address) {
    return {id, user, address, "Mon,07Dec2026-22:46:37", "/", "127.0.0.1:21"};
}

// Rebuilds a table from its change events alone, as the window does.
void Apply(std::vector<Cells>& rows, const TableChange& change) {
    switch (change.kind) {
    case TableChange::Kind::Inserted: rows.insert(rows.begin() + change.index, change.row.cells); break;
    case TableChange::Kind::Updated: rows.at(change.index) = change.row.cells; break;
    case TableChange::Kind::Removed: rows.erase(rows.begin() + change.index); break;
    case TableChange::Kind::Cleared: rows.clear(); break;
    }
}

}  // namespace

TEST(MonitorTable, InsertClampsIndexAndFitsCellsToColumns) {
    MonitorTable table(TableId::Requests);
    ASSERT_EQ(table.Headers(), (Cells{"ID", "IP", "Succeed", "Time", "Reason"}));
    const auto a = MakeOwner(), b = MakeOwner(), c = MakeOwner(), d = MakeOwner();

    EXPECT_EQ(table.Insert(7, a, {"1", "10.0.0.1"}), 0);
    EXPECT_EQ(table.Insert(-3, b, {"2", "10.0.0.2", "?", "t", "?", "extra"}), 0);
    EXPECT_EQ(table.Insert(1, c, {"3"}), 1);
    EXPECT_EQ(table.InsertTop(d, {"4"}), 0);
    EXPECT_EQ(CellsOf(table), (std::vector<Cells>{{"4", "", "", "", ""},
                                                  {"2", "10.0.0.2", "?", "t", "?"},
                                                  {"3", "", "", "", ""},
                                                  {"1", "10.0.0.1", "", "", ""}}));
    EXPECT_EQ(table.IndexOf(a), 3);
}

TEST(MonitorTable, RowsAreKeyedByOwnerNotByIdText) {
    MonitorTable table(TableId::Transfers);
    const auto firstHome = MakeOwner(), secondHome = MakeOwner();
    table.Insert(0, firstHome, {"1", "Downloading", "a.bin"});
    table.Insert(1, secondHome, {"1", "Uploading", "b.bin"});

    EXPECT_TRUE(table.SetCell(secondHome, TransferColumns::Status, "50%"));
    EXPECT_EQ(table.Row(firstHome)->cells[TransferColumns::Status], "");
    EXPECT_TRUE(table.Remove(firstHome));
    EXPECT_FALSE(table.Remove(firstHome));
    EXPECT_EQ(table.IndexOf(secondHome), 0);
    EXPECT_EQ(table.Row(secondHome)->cells, (Cells{"1", "Uploading", "b.bin", "50%", "", ""}));
}

TEST(MonitorTable, ExpiredOwnerFindsItsRowButNoOtherOwnerDoes) {
    MonitorTable table(TableId::Connections);
    auto session = MakeOwner();
    const std::weak_ptr<RowOwner> key = session;
    table.Insert(0, {}, Session("1", "anonymous", "10.0.0.9"));
    table.Insert(1, key, Session("1", "bob", "10.0.0.1"));
    session.reset();

    EXPECT_FALSE(table.IndexOf({}));
    EXPECT_FALSE(table.Remove(MakeOwner()));
    EXPECT_FALSE(table.SetCell(key, 6, "beyond the last column"));
    EXPECT_EQ(table.IndexOf(key), 1);
    EXPECT_TRUE(table.SetCell(key, ConnectionColumns::CurrentDir, "/pub/"));
    EXPECT_TRUE(table.Rows().at(1).owner.expired());
    EXPECT_TRUE(table.Remove(key));
    EXPECT_EQ(table.Count(), 1u);
}

TEST(LiveRegistry, CountsSessionsOfAnAccountExactly) {
    LiveRegistry registry;
    const auto a = MakeOwner(), b = MakeOwner(), c = MakeOwner();
    registry.Connections().Insert(0, a, Session("1", "bob", "10.0.0.1"));
    registry.Connections().Insert(1, b, Session("2", "bob", "10.0.0.2"));
    registry.Connections().Insert(2, c, Session("1", "Bob", "10.0.0.1"));

    EXPECT_EQ(registry.CountSessionsOf("bob"), 2);
    EXPECT_EQ(registry.CountSessionsOf("Bob"), 1);
    EXPECT_EQ(registry.CountSessionsOf("alice"), 0);
    EXPECT_EQ(registry.CountSessionsOf("bob", "10.0.0.1"), 1);
    EXPECT_EQ(registry.CountSessionsOf("Bob", "10.0.0.2"), 0);
}

TEST(LiveRegistry, ConnectionRequestsKeepOnlyTheNewestRows) {
    LiveRegistry registry;
    int removed = 0;
    registry.Subscribe([&](const TableChange& change) { removed += change.kind == TableChange::Kind::Removed; });
    std::vector<std::shared_ptr<RowOwner>> owners;
    for (std::size_t i = 0; i < LiveRegistry::kRequestRowLimit + 5; ++i) {
        owners.push_back(MakeOwner());
        registry.Requests().InsertTop(owners.back(), {std::to_string(i)});
    }
    EXPECT_EQ(registry.Requests().Count(), LiveRegistry::kRequestRowLimit);
    EXPECT_EQ(removed, 5);
    EXPECT_EQ(registry.Requests().Rows().front().cells[0], std::to_string(LiveRegistry::kRequestRowLimit + 4));
    EXPECT_FALSE(registry.Requests().IndexOf(owners[4]));
    EXPECT_TRUE(registry.Requests().IndexOf(owners[5]));
}

TEST(LiveRegistry, PublishesEachChangeInOrderUntilUnsubscribed) {
    LiveRegistry registry;
    std::vector<TableChange> changes;
    const int subscription = registry.Subscribe([&changes](const TableChange& change) { changes.push_back(change); });
    const auto session = MakeOwner();

    registry.Requests().InsertTop(session, {"1", "10.0.0.1", "?", "t", "?"});
    registry.Requests().SetCell(session, RequestColumns::Succeed, "Yes");
    registry.Requests().SetCell(session, RequestColumns::Succeed, "Yes");
    registry.Connections().Insert(4, session, Session("1", "bob", "10.0.0.1"));
    registry.Connections().Remove(session);
    registry.Requests().Clear();
    registry.Unsubscribe(subscription);
    registry.Transfers().InsertTop(session, {"1"});

    using Kind = TableChange::Kind;
    using Summary = std::tuple<TableId, Kind, int, int>;
    std::vector<Summary> summaries;
    for (const auto& change : changes) {
        summaries.emplace_back(change.table, change.kind, change.index, change.column);
    }
    EXPECT_EQ(summaries, (std::vector<Summary>{{TableId::Requests, Kind::Inserted, 0, -1},
                                               {TableId::Requests, Kind::Updated, 0, RequestColumns::Succeed},
                                               {TableId::Connections, Kind::Inserted, 0, -1},
                                               {TableId::Connections, Kind::Removed, 0, -1},
                                               {TableId::Requests, Kind::Cleared, -1, -1}}));
    EXPECT_EQ(changes.at(1).row.cells, (Cells{"1", "10.0.0.1", "Yes", "t", "?"}));
}

TEST(LiveRegistry, ChangeStreamReproducesTablesUnderConcurrentUse) {
    constexpr int kThreads = 4, kSessions = 100;
    LiveRegistry registry;
    std::vector<Cells> connections, transfers;  // touched only by the subscriber, one change at a time
    registry.Subscribe([&](const TableChange& change) {
        Apply(change.table == TableId::Connections ? connections : transfers, change);
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&registry, t] {
            std::vector<std::shared_ptr<RowOwner>> loggedIn;
            for (int n = 1; n <= kSessions; ++n) {
                auto session = MakeOwner();
                const auto transfer = MakeOwner();
                const auto id = std::to_string(n);
                registry.Connections().Insert(n % 3, session, Session(id, "user" + std::to_string(t), "10.0.0.1"));
                registry.Transfers().InsertTop(transfer, {id, "Downloading", "f"});
                registry.Transfers().SetCell(transfer, TransferColumns::Status, "done");
                registry.Connections().SetCell(session, ConnectionColumns::CurrentDir, "/d" + id + "/");
                registry.Transfers().Remove(transfer);
                if (n % 2 == 0) {
                    registry.Connections().Remove(session);
                } else {
                    loggedIn.push_back(std::move(session));
                }
            }
        });
    }
    std::thread reader([&registry] {
        for (int i = 0; i < 200; ++i) {
            registry.CountSessionsOf("user0", "10.0.0.1");
            registry.Transfers().Rows();
        }
    });
    for (auto& worker : workers) {
        worker.join();
    }
    reader.join();

    EXPECT_EQ(registry.CountSessionsOf("user1"), kSessions / 2);
    EXPECT_EQ(connections, CellsOf(registry.Connections()));
    EXPECT_EQ(connections.size(), static_cast<std::size_t>(kThreads * kSessions / 2));
    EXPECT_TRUE(transfers.empty());
}
