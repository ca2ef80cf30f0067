#pragma once

#include "monitor/MonitorTable.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QTabWidget>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace tolvane::control {
class AdministeredServer;
}

namespace tolvane::ui {

// The live monitor: tabs "Connections", "Transfers" and "Connection-Requests" over the
// server's live registry, with the context menus that act on a row's session or transfer.
// The registry's changes only mark a list as changed; the window thread then brings the list
// in line with the table, so a worker never waits for the window.
// Column widths are given in dialog units (a quarter of the font's average character width),
// so that the columns fit their texts whatever the font.
int DialogUnitsToPixels(const QWidget& widget, int dialogUnits);

class MonitorPane : public QTabWidget {
    Q_OBJECT

public:
    // Asks for a session's new credit; returns the amount to add (0 leaves it).
    using CreditPrompt = std::function<std::int64_t(QWidget* parent, const QString& accountName, std::int64_t currentCredit)>;
    // Asks for a transfer's new limit in kb/s; returns the current value to leave it.
    using SpeedPrompt = std::function<double(QWidget* parent, double currentKbPerSecond)>;

    static constexpr const char* kKickReply = monitor::SessionHandle::kKickReply;
    // Lists follow their tables at most this often.
    static constexpr int kMinSyncIntervalMs = 100;

    explicit MonitorPane(control::AdministeredServer& server, QWidget* parent = nullptr);
    ~MonitorPane() override;

    MonitorPane(const MonitorPane&) = delete;
    MonitorPane& operator=(const MonitorPane&) = delete;

    QTreeWidget* ConnectionsList() const { return lists_[0].view; }
    QTreeWidget* TransfersList() const { return lists_[1].view; }
    QTreeWidget* RequestsList() const { return lists_[2].view; }

    // What a right click on `list` does before showing the menu: takes the first selected
    // row (from the top) as the target of the menu's items and enables the items for it.
    // Null, with no target, when no row is selected.
    QMenu* PrepareContextMenu(QTreeWidget* list);

    // The dialogs by default; tests answer without a modal loop.
    void SetCreditPrompt(CreditPrompt prompt) { creditPrompt_ = std::move(prompt); }
    void SetSpeedPrompt(SpeedPrompt prompt) { speedPrompt_ = std::move(prompt); }

private:
    struct List {
        monitor::MonitorTable* table = nullptr;
        QTreeWidget* view = nullptr;
        QMenu* menu = nullptr;
        std::vector<monitor::MonitorRow> rows;  // what the view shows, row for row
        std::weak_ptr<monitor::RowOwner> target;  // of the last prepared menu
    };

    Q_INVOKABLE void ApplyPending();
    void MarkChanged(monitor::TableId table);
    void Sync(List& list);
    void SetCellText(const List& list, QTreeWidgetItem* item, int column, const QString& text);
    void ShowEncryption(QTreeWidgetItem* item, bool encrypted) const;
    QTreeWidget* MakeList(List& list, monitor::MonitorTable& table, const std::vector<int>& widths);
    QAction* AddAction(QMenu* menu, const QString& text, const char* objectName, void (MonitorPane::*slot)());
    std::shared_ptr<monitor::SessionHandle> TargetConnection() const;
    std::shared_ptr<monitor::TransferHandle> TargetTransfer() const;

    void ViewExtendedInfo();
    void UpdateAccountInfo();
    void GiveTakeCredit();
    void KickUser();
    void CloseTransfer();
    void ChangeSpeedLimit();
    void ClearList();

    control::AdministeredServer& server_;
    std::array<List, 3> lists_;
    QAction* creditAction_ = nullptr;
    QAction* speedAction_ = nullptr;
    CreditPrompt creditPrompt_;
    SpeedPrompt speedPrompt_;
    const QIcon padlock_;
    int subscription_ = 0;
    QTimer syncTimer_;
    QElapsedTimer sinceSync_;

    // Shared with the registry's threads.
    std::mutex changedMutex_;
    std::array<bool, 3> changed_{};
    bool wakeUpPosted_ = false;
};

}  // namespace tolvane::ui
