#include "ui/shell/ShellDocumentUi.h"

#include "ui/shell/MainFrame.h"
#include "ui/shell/MessageBoxes.h"

#include <QMainWindow>
#include <QStatusBar>

bool ShellDocumentUi::askOkCancel(const std::string& text) {
    return showMessageBox(window_, QMessageBox::Information, QString::fromStdString(text),
                          QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

DocumentUi::Answer ShellDocumentUi::askYesNoCancel(const std::string& text) {
    switch (showMessageBox(window_, QMessageBox::Information, QString::fromStdString(text),
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void ShellDocumentUi::showMessage(const std::string& text) {
    showMessageBox(window_, QMessageBox::NoIcon, QString::fromStdString(text));
}

void ShellDocumentUi::setStatusText(const std::string& text) {
    if (!window_)
        return;
    if (auto* frame = qobject_cast<MainFrame*>(window_.data())) {
        frame->setStatusText(QString::fromStdString(text));
        return;
    }
    window_->statusBar()->showMessage(QString::fromStdString(text));
    window_->statusBar()->repaint();
}
