#pragma once

#include <QStyledItemDelegate>

#include <optional>

namespace tolvane::ui {

// Draws a transfer's Status cell as a progress bar that carries the cell's own text; an upload,
// whose size is unknown ("? %"), keeps the plain text.
class TransferProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The whole percent a status text begins with ("42.50 % / 170.0 kb" gives 42), clamped to
    // 0..100; nothing when it begins with none.
    static std::optional<int> PercentOf(const QString& status);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tolvane::ui
