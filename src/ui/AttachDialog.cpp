#include "ui/AttachDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

QString FingerprintKey(const QString& target) {
    // QSettings treats '/' and '\\' in keys as groups.
    QString key = target;
    key.replace('/', '|').replace('\\', '|');
    return "AttachedServers/" + key;
}

}  // namespace

AttachDialog::AttachDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Connect to Server");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("A running tolvaned: the path of its server home on this machine,\n"
                                 "or host:port of its admin port on another."));
    auto* form = new QFormLayout;
    where_ = new QLineEdit(this);
    where_->setObjectName("attachWhere");
    where_->setPlaceholderText("/srv/tolvane   or   ftp.example.org:2100");
    password_ = new QLineEdit(this);
    password_->setObjectName("attachPassword");
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText("admin password (admin port only)");
    form->addRow("Server:", where_);
    form->addRow("Password:", password_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

control::AttachTarget AttachDialog::Target() const { return ParseTarget(where_->text(), password_->text()); }

control::AttachTarget AttachDialog::ParseTarget(const QString& text, const QString& password) {
    control::AttachTarget target;
    const QString where = text.trimmed();
    const int colon = where.lastIndexOf(':');
    bool numeric = false;
    if (colon > 0 && !where.startsWith('/') && !where.startsWith('.')) where.mid(colon + 1).toUShort(&numeric);
    if (!numeric) {
        target.home = where.toStdString();
        return target;
    }
    QString host = where.left(colon);
    if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
    target.host = host.toStdString();
    target.port = where.mid(colon + 1).toStdString();
    target.password = password.toStdString();
    return target;
}

bool KnownServers::Trust(const std::string& target, const std::string& fingerprint, const Confirm& confirm) {
    QSettings settings("Tolvane", "tolvane");
    const QString key = FingerprintKey(QString::fromStdString(target));
    const QString seen = QString::fromStdString(fingerprint);
    const QString known = settings.value(key).toString();
    if (!known.isEmpty()) return known == seen;
    if (!confirm(QString::fromStdString(target), seen)) return false;
    settings.setValue(key, seen);
    return true;
}

control::AdminChannel::TrustCheck KnownServers::Asking(QWidget* parent) {
    return [parent](const std::string& target, const std::string& fingerprint) {
        const bool trusted = Trust(target, fingerprint, [parent](const QString& where, const QString& seen) {
            return QMessageBox::question(parent, "Connect to Server",
                                         "First connection to " + where +
                                             ".\nThe server's certificate has the SHA-256 fingerprint\n\n" + seen +
                                             "\n\nCompare it with the one 'tolvaned admin fingerprint' shows on the "
                                             "server. Trust it and remember it?") == QMessageBox::Yes;
        });
        if (!trusted && !QSettings("Tolvane", "tolvane").value(FingerprintKey(QString::fromStdString(target))).isNull())
            QMessageBox::warning(parent, "Connect to Server",
                                 "The certificate of " + QString::fromStdString(target) +
                                     " is not the one remembered.\nSomeone may be in between; not connecting.\n\n"
                                     "Seen: " + QString::fromStdString(fingerprint));
        return trusted;
    };
}

}  // namespace tolvane::ui
