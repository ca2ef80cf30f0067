#include "ui/MonitorPane.h"

#include "control/AdministeredServer.h"
#include "ui/CreditDialog.h"
#include "ui/ExtendedInfoDialog.h"
#include "ui/SpeedLimitDialog.h"
#include "ui/TransferProgressDelegate.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace tolvane::ui {
namespace {

enum ListIndex { kConnections = 0, kTransfers = 1, kRequests = 2 };

int IndexOf(monitor::TableId table) {
    switch (table) {
    case monitor::TableId::Connections: return kConnections;
    case monitor::TableId::Transfers: return kTransfers;
    case monitor::TableId::Requests: return kRequests;
    }
    return kConnections;
}

bool SameOwner(const std::weak_ptr<monitor::RowOwner>& a, const std::weak_ptr<monitor::RowOwner>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

QStringList Texts(const std::vector<std::string>& cells) {
    QStringList texts;
    texts.reserve(static_cast<int>(cells.size()));
    for (const auto& cell : cells) texts << QString::fromStdString(cell);
    return texts;
}

// Drawn rather than loaded: the program ships no image files.
QIcon PadlockIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(90, 90, 90), 2));
    painter.drawArc(QRectF(4.5, 1.5, 7, 10), 0, 180 * 16);
    painter.drawLine(QPointF(4.5, 6.5), QPointF(4.5, 8));
    painter.drawLine(QPointF(11.5, 6.5), QPointF(11.5, 8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(205, 155, 35));
    painter.drawRoundedRect(QRectF(2.5, 7.5, 11, 8), 1.5, 1.5);
    return QIcon(pixmap);
}

}  // namespace

MonitorPane::MonitorPane(control::AdministeredServer& server, QWidget* parent)
    : QTabWidget(parent),
      server_(server),
      creditPrompt_(&CreditDialog::Ask),
      speedPrompt_(&SpeedLimitDialog::Ask),
      padlock_(PadlockIcon()) {
    setObjectName("monitorPane");
    auto& registry = server_.Registry();

    addTab(MakeList(lists_[kConnections], registry.Connections(), {40, 80, 80, 80, 80, 80}), "Connections");
    addTab(MakeList(lists_[kTransfers], registry.Transfers(), {40, 80, 80, 80, 80, 80}), "Transfers");
    addTab(MakeList(lists_[kRequests], registry.Requests(), {40, 80, 55, 55, 80}), "Connection-Requests");
    lists_[kConnections].view->setObjectName("connectionsList");
    lists_[kTransfers].view->setObjectName("transfersList");
    lists_[kRequests].view->setObjectName("requestsList");
    lists_[kTransfers].view->setItemDelegateForColumn(monitor::TransferColumns::Status,
                                                      new TransferProgressDelegate(lists_[kTransfers].view));
    setCurrentIndex(kConnections);

    QMenu* connections = lists_[kConnections].menu;
    connections->setObjectName("connectionsMenu");
    AddAction(connections, "View Extended Info", "viewExtendedInfoAction", &MonitorPane::ViewExtendedInfo);
    AddAction(connections, "Update Account Info", "updateAccountInfoAction", &MonitorPane::UpdateAccountInfo);
    connections->addSeparator();
    creditAction_ = AddAction(connections, "Give / Take Credit", "giveTakeCreditAction", &MonitorPane::GiveTakeCredit);
    connections->addSeparator();
    AddAction(connections, "Kick User", "kickUserAction", &MonitorPane::KickUser);

    QMenu* transfers = lists_[kTransfers].menu;
    transfers->setObjectName("transfersMenu");
    AddAction(transfers, "Close Transfer", "closeTransferAction", &MonitorPane::CloseTransfer);
    speedAction_ = AddAction(transfers, "Change Speed Limit", "changeSpeedLimitAction", &MonitorPane::ChangeSpeedLimit);

    QMenu* requests = lists_[kRequests].menu;
    requests->setObjectName("requestsMenu");
    AddAction(requests, "Clear List", "clearListAction", &MonitorPane::ClearList);

    syncTimer_.setSingleShot(true);
    connect(&syncTimer_, &QTimer::timeout, this, &MonitorPane::ApplyPending);
    sinceSync_.start();
    subscription_ = registry.Subscribe([this](const monitor::TableChange& change) { MarkChanged(change.table); });
    // Changes made before the subscription are in the tables; those made since are marked.
    for (auto& list : lists_) Sync(list);
}

MonitorPane::~MonitorPane() { server_.Registry().Unsubscribe(subscription_); }

int DialogUnitsToPixels(const QWidget& widget, int dialogUnits) {
    return dialogUnits * widget.fontMetrics().averageCharWidth() / 4;
}

QTreeWidget* MonitorPane::MakeList(List& list, monitor::MonitorTable& table, const std::vector<int>& widths) {
    list.table = &table;
    list.view = new QTreeWidget;
    list.menu = new QMenu(this);
    QTreeWidget* view = list.view;
    QStringList headers;
    for (const auto& header : table.Headers()) headers << QString::fromStdString(header);
    view->setHeaderLabels(headers);
    view->header()->setStretchLastSection(false);
    for (int column = 0; column < static_cast<int>(widths.size()); ++column)
        view->setColumnWidth(column, DialogUnitsToPixels(*view, widths[column]));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);  // keeps long request lists cheap
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& position) {
        if (QMenu* menu = PrepareContextMenu(view)) menu->exec(view->viewport()->mapToGlobal(position) + QPoint(0, 10));
    });
    return view;
}

QAction* MonitorPane::AddAction(QMenu* menu, const QString& text, const char* objectName, void (MonitorPane::*slot)()) {
    QAction* action = menu->addAction(text);
    action->setObjectName(objectName);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

// Runs on a registry thread with a table locked: only mark, never touch the widgets.
void MonitorPane::MarkChanged(monitor::TableId table) {
    std::lock_guard lock(changedMutex_);
    changed_[IndexOf(table)] = true;
    if (!wakeUpPosted_) {
        wakeUpPosted_ = true;
        // By name: the call event is then made inside Qt, not from this thread's data.
        QMetaObject::invokeMethod(this, "ApplyPending", Qt::QueuedConnection);
    }
}

void MonitorPane::ApplyPending() {
    if (sinceSync_.elapsed() < kMinSyncIntervalMs) {
        if (!syncTimer_.isActive()) syncTimer_.start(kMinSyncIntervalMs - static_cast<int>(sinceSync_.elapsed()));
        return;
    }
    std::array<bool, 3> changed{};
    {
        std::lock_guard lock(changedMutex_);
        changed.swap(changed_);
        wakeUpPosted_ = false;
    }
    sinceSync_.restart();
    for (std::size_t i = 0; i < lists_.size(); ++i) {
        if (changed[i]) Sync(lists_[i]);
    }
}

// Brings the view in line with a copy of its table, keeping the items (and so the selection)
// of rows that stayed. The tables never reorder rows, so the rows that stayed keep their order.
void MonitorPane::Sync(List& list) {
    std::vector<monitor::MonitorRow> fresh = list.table->Rows();
    QTreeWidget* view = list.view;
    if (fresh.empty()) {
        view->clear();
        list.rows.clear();
        return;
    }
    view->setUpdatesEnabled(false);
    std::set<std::weak_ptr<monitor::RowOwner>, std::owner_less<std::weak_ptr<monitor::RowOwner>>> present;
    for (const auto& row : fresh) present.insert(row.owner);
    std::vector<monitor::MonitorRow> kept;
    kept.reserve(list.rows.size());
    for (int i = static_cast<int>(list.rows.size()) - 1; i >= 0; --i) {
        if (!present.count(list.rows[i].owner)) delete view->takeTopLevelItem(i);
    }
    for (auto& row : list.rows) {
        if (present.count(row.owner)) kept.push_back(std::move(row));
    }
    list.rows = std::move(kept);

    for (std::size_t i = 0; i < fresh.size(); ++i) {
        if (i < list.rows.size() && SameOwner(list.rows[i].owner, fresh[i].owner)) {
            QTreeWidgetItem* item = view->topLevelItem(static_cast<int>(i));
            auto& cells = list.rows[i].cells;
            for (std::size_t column = 0; column < fresh[i].cells.size(); ++column) {
                if (column >= cells.size() || cells[column] != fresh[i].cells[column])
                    SetCellText(list, item, static_cast<int>(column), QString::fromStdString(fresh[i].cells[column]));
            }
            cells = fresh[i].cells;
            if (list.rows[i].encrypted != fresh[i].encrypted) ShowEncryption(item, fresh[i].encrypted);
            list.rows[i].encrypted = fresh[i].encrypted;
        } else {
            auto* item = new QTreeWidgetItem(Texts(fresh[i].cells));
            if (&list == &lists_[kTransfers]) item->setToolTip(monitor::TransferColumns::Status, item->text(monitor::TransferColumns::Status));
            if (fresh[i].encrypted) ShowEncryption(item, true);
            view->insertTopLevelItem(static_cast<int>(i), item);
            list.rows.insert(list.rows.begin() + static_cast<std::ptrdiff_t>(i), fresh[i]);
        }
    }
    view->setUpdatesEnabled(true);
}

// A transfer's status is drawn as a bar: its text stays readable in the tooltip too.
void MonitorPane::SetCellText(const List& list, QTreeWidgetItem* item, int column, const QString& text) {
    item->setText(column, text);
    if (&list == &lists_[kTransfers] && column == monitor::TransferColumns::Status) item->setToolTip(column, text);
}

// The mark sits beside the ID, so every cell's text stays what it was.
void MonitorPane::ShowEncryption(QTreeWidgetItem* item, bool encrypted) const {
    item->setIcon(monitor::ConnectionColumns::Id, encrypted ? padlock_ : QIcon());
    item->setToolTip(monitor::ConnectionColumns::Id, encrypted ? QString("Encrypted (TLS)") : QString());
}

QMenu* MonitorPane::PrepareContextMenu(QTreeWidget* view) {
    const auto found = std::find_if(lists_.begin(), lists_.end(), [view](const List& list) { return list.view == view; });
    if (found == lists_.end()) return nullptr;
    List& list = *found;
    list.target.reset();
    int first = -1;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        if (first == -1 || index.row() < first) first = index.row();
    }
    if (first < 0 || first >= static_cast<int>(list.rows.size())) return nullptr;
    list.target = list.rows[static_cast<std::size_t>(first)].owner;
    if (&list == &lists_[kConnections]) {
        const auto connection = TargetConnection();
        creditAction_->setEnabled(connection && connection->RatioEnabled());
    } else if (&list == &lists_[kTransfers]) {
        const auto transfer = TargetTransfer();
        speedAction_->setEnabled(transfer && transfer->SpeedLimited());
    }
    return list.menu;
}

std::shared_ptr<monitor::SessionHandle> MonitorPane::TargetConnection() const {
    return monitor::SessionOf(lists_[kConnections].target);
}

std::shared_ptr<monitor::TransferHandle> MonitorPane::TargetTransfer() const {
    return monitor::TransferOf(lists_[kTransfers].target);
}

void MonitorPane::ViewExtendedInfo() {
    const auto connection = TargetConnection();
    if (!connection) return;
    auto* dialog = new ExtendedInfoDialog(connection, this);
    dialog->show();
}

void MonitorPane::UpdateAccountInfo() {
    if (const auto connection = TargetConnection()) connection->RequestAccountReload();
}

void MonitorPane::GiveTakeCredit() {
    std::weak_ptr<monitor::SessionHandle> weak;
    QString account;
    std::int64_t credit = 0;
    {
        const auto connection = TargetConnection();
        if (!connection || !connection->RatioEnabled()) return;
        weak = connection;
        account = QString::fromStdString(connection->UserName());
        credit = connection->Credit();
    }
    // The dialog does not keep the session alive.
    const std::int64_t difference = creditPrompt_(this, account, credit);
    if (const auto connection = weak.lock(); connection && difference != 0) connection->AdjustCredit(difference);
}

void MonitorPane::KickUser() {
    const auto connection = TargetConnection();
    if (!connection) return;
    connection->SendReply(kKickReply);
    connection->Kick();
    server_.Registry().Connections().Remove(lists_[kConnections].target);
}

// A download answers for itself; an upload's reply and row removal happen in its
// CloseTransfer too. The row goes in either case.
void MonitorPane::CloseTransfer() {
    const auto transfer = TargetTransfer();
    if (!transfer) return;
    transfer->CloseTransfer();
    server_.Registry().Transfers().Remove(lists_[kTransfers].target);
}

void MonitorPane::ChangeSpeedLimit() {
    std::weak_ptr<monitor::TransferHandle> weak;
    double shown = 0;
    {
        const auto transfer = TargetTransfer();
        if (!transfer || !transfer->SpeedLimited()) return;
        weak = transfer;
        shown = transfer->SpeedLimitBytesPerSecond() / 1024.0;
    }
    const double entered = speedPrompt_(this, shown);
    const auto transfer = weak.lock();
    if (!transfer || !std::isfinite(entered) || entered < 0) return;
    const double bytes = std::min(std::floor(entered * 1024.0), static_cast<double>(std::numeric_limits<std::uint32_t>::max()));
    const auto limit = static_cast<std::uint32_t>(bytes);
    if (limit != transfer->SpeedLimitBytesPerSecond()) transfer->ChangeSpeedLimit(limit);
}

void MonitorPane::ClearList() { server_.ClearRequests(); }

}  // namespace tolvane::ui
