#include "ui/ColourList.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>

#include <algorithm>

namespace tolvane::ui {
namespace {

constexpr int kInset = 2;
constexpr int kTextGap = 4;
constexpr int kMinimumEntryHeight = 18;

// Draws the popup's entries like the face: swatch and name, on the highlight when selected.
class ColourEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        if (selected) painter->fillRect(option.rect, option.palette.highlight());
        PaintColourEntry(*painter, option.rect, ToQColor(index.data(Qt::UserRole).toUInt()),
                         index.data(Qt::DisplayRole).toString(),
                         option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width(), std::max(size.height(), kMinimumEntryHeight)};
    }
};

std::optional<QColor> AskForColour(const QColor& initial, QWidget* parent) {
    // Qt's colour dialog always shows its custom-colour editor: any colour can be chosen.
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

}  // namespace

QColor ToQColor(store::Colour colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

store::Colour ToColourValue(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return static_cast<store::Colour>(rgb.red()) | static_cast<store::Colour>(rgb.green()) << 8 |
           static_cast<store::Colour>(rgb.blue()) << 16;
}

void PaintColourEntry(QPainter& painter, const QRect& rect, const QColor& swatch, const QString& name,
                      const QColor& textColour) {
    const QRect box = QRect(rect.left(), rect.top(), rect.width() / 4, rect.height())
                          .adjusted(kInset, kInset, -kInset, -kInset);
    painter.fillRect(box, swatch);
    painter.setPen(Qt::black);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    const QRect text(box.right() + 1 + kTextGap, rect.top(), rect.right() - box.right() - kTextGap, rect.height());
    painter.setPen(textColour);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, name);
}

ColourList::ColourList(QWidget* parent) : QComboBox(parent), chooser_(AskForColour) {
    setItemDelegate(new ColourEntryDelegate(this));
    int widestName = 0;
    for (const store::NamedColour& entry : store::kColourChoices) {
        const QString name = QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
        addItem(name, QVariant::fromValue(entry.colour));
        widestName = std::max(widestName, fontMetrics().horizontalAdvance(name));
    }
    // The name gets three quarters of the face, beside the drop-down button.
    setMinimumWidth((widestName + 2 * kTextGap) * 4 / 3 + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
    setCurrentIndex(0);
    connect(this, &QComboBox::activated, this, &ColourList::OnActivated);
}

void ColourList::Select(const store::ColourChoice& choice) {
    const auto entry = store::FindColourChoice(choice.name);
    if (!entry) return;
    const int index = findText(QString::fromLatin1(entry->name.data(), static_cast<qsizetype>(entry->name.size())));
    if (index == CustomIndex()) setItemData(index, QVariant::fromValue(choice.colour));
    setCurrentIndex(index);
    update();
}

store::ColourChoice ColourList::Selected() const { return {currentText().toStdString(), ColourAt(currentIndex())}; }

void ColourList::SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }

void ColourList::OnActivated(int index) {
    if (index != CustomIndex()) return;
    if (const auto chosen = chooser_(ToQColor(ColourAt(index)), this)) {
        setItemData(index, QVariant::fromValue(ToColourValue(*chosen)));
        update();
    }
}

int ColourList::CustomIndex() const { return static_cast<int>(store::kColourChoices.size()) - 1; }

store::Colour ColourList::ColourAt(int index) const { return itemData(index).value<store::Colour>(); }

// The face shows the selected entry the way the popup draws it.
void ColourList::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    PaintColourEntry(painter, field, ToQColor(ColourAt(currentIndex())), currentText(),
                     palette().color(QPalette::ButtonText));
}

}  // namespace tolvane::ui
