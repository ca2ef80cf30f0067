#pragma once

#include "monitor/RowOwner.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QTreeWidget;

namespace tolvane::ui {

// "Extended Info": a modeless window bound to one session that shows its figures, refreshed
// while the session lives; it closes (and deletes itself) when the session ends.
class ExtendedInfoDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 750;

    explicit ExtendedInfoDialog(std::weak_ptr<monitor::SessionHandle> connection, QWidget* parent = nullptr);

    const std::weak_ptr<monitor::SessionHandle>& Connection() const { return connection_; }
    // Reads the session's figures now; closes the window when the session has ended.
    void Refresh();

private:
    // False when the session has ended.
    bool Fill();

    const std::weak_ptr<monitor::SessionHandle> connection_;
    QTreeWidget* list_ = nullptr;
    QTimer refreshTimer_;
};

}  // namespace tolvane::ui
