#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tolvane::ui {

// "Change Speed Limit": shows a transfer's limit in kb/s and takes a new one.
class SpeedLimitDialog : public QDialog {
    Q_OBJECT

public:
    SpeedLimitDialog(double currentKbPerSecond, QWidget* parent = nullptr);

    // After OK the value entered, otherwise the one shown; an untouched field gives back the
    // shown value exactly.
    double Value() const;

    // Runs the dialog modally and returns its Value.
    static double Ask(QWidget* parent, double currentKbPerSecond);

private:
    const double shown_;
    QString shownText_;
    QLineEdit* edit_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace tolvane::ui
