#include "ui/TransferProgressDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace tolvane::ui {

std::optional<int> TransferProgressDelegate::PercentOf(const QString& status) {
    const int sign = status.indexOf('%');
    if (sign <= 0) return std::nullopt;
    bool isNumber = false;
    const double percent = status.left(sign).trimmed().toDouble(&isNumber);
    if (!isNumber) return std::nullopt;
    return std::clamp(static_cast<int>(percent), 0, 100);
}

void TransferProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    const auto percent = PercentOf(text);
    if (!percent) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = *percent;
    bar.text = text;
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.fontMetrics = option.fontMetrics;
    bar.palette = option.palette;
    const QWidget* widget = option.widget;
    (widget ? widget->style() : QApplication::style())->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

}  // namespace tolvane::ui
