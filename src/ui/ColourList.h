#pragma once

#include "store/ProgramSettings.h"

#include <QColor>
#include <QComboBox>

#include <functional>
#include <optional>

class QPainter;

namespace tolvane::ui {

// Settings colours are 0x00BBGGRR.
QColor ToQColor(store::Colour colour);
store::Colour ToColourValue(const QColor& colour);

// One entry as the colour lists draw it: a swatch over the left quarter of `rect`, inset by
// 2 pixels and framed in black, and the name to the right of it in `textColour`.
void PaintColourEntry(QPainter& painter, const QRect& rect, const QColor& swatch, const QString& name,
                      const QColor& textColour);

// The owner-drawn colour list of the settings dialog: the entries of store::kColourChoices, in
// their order. Choosing "Custom" asks for a colour, which becomes that entry's colour.
class ColourList : public QComboBox {
    Q_OBJECT

public:
    // Asks for a colour starting from `initial`; none when the user cancels.
    using Chooser = std::function<std::optional<QColor>(const QColor& initial, QWidget* parent)>;

    explicit ColourList(QWidget* parent = nullptr);

    // Selects the entry of that name (without regard to case); "Custom" takes the choice's
    // colour. An unknown name leaves the selection as it is.
    void Select(const store::ColourChoice& choice);
    store::ColourChoice Selected() const;
    // Replaces the colour dialog, e.g. in tests.
    void SetChooser(Chooser chooser);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnActivated(int index);
    int CustomIndex() const;
    store::Colour ColourAt(int index) const;

    Chooser chooser_;
};

}  // namespace tolvane::ui
