#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

namespace tolvane::ui {

// "Give / Take Credit Dialog": shows a session's credit and takes the credit it should have.
class CreditDialog : public QDialog {
    Q_OBJECT

public:
    CreditDialog(const QString& accountName, std::int64_t currentCredit, QWidget* parent = nullptr);

    // After OK the value entered minus the one shown; otherwise 0.
    std::int64_t Difference() const;

    // Runs the dialog modally and returns its Difference.
    static std::int64_t Ask(QWidget* parent, const QString& accountName, std::int64_t currentCredit);

private:
    const std::int64_t shown_;
    QLineEdit* edit_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace tolvane::ui
