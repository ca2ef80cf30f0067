#pragma once

#include "control/AdminChannel.h"

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace tolvane::ui {

// File > Connect to Server...: a server home on this machine, or a host's admin port.
class AttachDialog : public QDialog {
    Q_OBJECT

public:
    explicit AttachDialog(QWidget* parent = nullptr);

    control::AttachTarget Target() const;
    // Splits "host:port", "[v6 address]:port" or a home's path into a target.
    static control::AttachTarget ParseTarget(const QString& text, const QString& password);

private:
    QLineEdit* where_ = nullptr;
    QLineEdit* password_ = nullptr;
};

// Certificates of attached servers, remembered per host and port as SSH remembers host keys:
// the first one is shown and confirmed, a changed one refused.
class KnownServers {
public:
    // `confirm` asks the administrator about a certificate never seen for that server.
    using Confirm = std::function<bool(const QString& target, const QString& fingerprint)>;

    static bool Trust(const std::string& target, const std::string& fingerprint, const Confirm& confirm);
    // The window's way of asking: a question with the fingerprint, or a warning for a change.
    static control::AdminChannel::TrustCheck Asking(QWidget* parent);
};

}  // namespace tolvane::ui
