#include "ui/EditorPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tolvane::ui {
namespace {

const QString kTitle = "User Database";

}  // namespace

void EditorPrompts::ShowMessage(const QString& text) { QMessageBox::information(parent_, kTitle, text); }

bool EditorPrompts::AskYesNo(const QString& text) {
    return QMessageBox::question(parent_, kTitle, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString EditorPrompts::ChooseFolder(const QString& start) {
    return QFileDialog::getExistingDirectory(parent_, QString(), start);
}

QString EditorPrompts::ChooseFile(const QString& start, const QString& filter) {
    return QFileDialog::getOpenFileName(parent_, QString(), start, filter);
}

}  // namespace tolvane::ui
