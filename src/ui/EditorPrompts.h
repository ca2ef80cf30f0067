#pragma once

#include <QString>

class QWidget;

namespace tolvane::ui {

// What the account editor asks of the person in front of it: messages, Yes/No questions and
// file choosers. Tests replace it to answer without modal windows.
class EditorPrompts {
public:
    explicit EditorPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    virtual ~EditorPrompts() = default;
    EditorPrompts(const EditorPrompts&) = delete;
    EditorPrompts& operator=(const EditorPrompts&) = delete;

    void SetParent(QWidget* parent) { parent_ = parent; }

    virtual void ShowMessage(const QString& text);
    virtual bool AskYesNo(const QString& text);
    // An existing folder, or empty when nothing was chosen.
    virtual QString ChooseFolder(const QString& start);
    // `filter` in Qt's form, e.g. "Text (*.txt)"; empty when nothing was chosen.
    virtual QString ChooseFile(const QString& start, const QString& filter);

private:
    QWidget* parent_;
};

}  // namespace tolvane::ui
