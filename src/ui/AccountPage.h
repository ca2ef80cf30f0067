#pragma once

#include "store/AccountSettings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QString>
#include <QWidget>

#include <string>
#include <string_view>

namespace tolvane::ui {

class EditorPrompts;

// One page of the account editor: shows the values of a user or group file and puts the
// edited values back. A page owns no file; the editor reads and writes them.
class AccountPage : public QWidget {
public:
    AccountPage(EditorPrompts& prompts, QWidget* parent) : QWidget(parent), prompts_(prompts) {}

    virtual void Load(const store::AccountValues& values) = 0;
    virtual void Store(store::AccountValues& values) const = 0;
    // A group's file is read for fewer keys than a user's: those controls are disabled.
    virtual void SetGroupMode(bool /*group*/) {}

protected:
    EditorPrompts& prompts_;
};

inline QString FromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToStd(const QString& text) { return text.toStdString(); }

inline QLineEdit* NamedEdit(const char* objectName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}

inline QCheckBox* NamedBox(const QString& text, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

}  // namespace tolvane::ui
