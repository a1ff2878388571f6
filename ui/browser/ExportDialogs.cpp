#include "ui/browser/ExportDialogs.h"

#include "ui/shell/MessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

namespace {

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A box shown during a long walk gets the normal pointer back while it is up.
class ArrowWhileAsking {
public:
    explicit ArrowWhileAsking(bool busy) : busy_(busy) {
        if (busy_)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileAsking() {
        if (busy_)
            QApplication::restoreOverrideCursor();
    }
    ArrowWhileAsking(const ArrowWhileAsking&) = delete;
    ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

private:
    bool busy_;
};

} // namespace

ExportDialogs::ExportDialogs(QWidget* parent) : parent_(parent) {}

ExportDialogs::~ExportDialogs() {
    while (busy_ > 0)
        setBusy(false);
}

bool ExportDialogs::chooseFolder(std::string& folder) {
    QFileDialog dialog(parent_);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    folder = localPath(dialog.selectedFiles().constFirst());
    return true;
}

bool ExportDialogs::chooseSaveFile(const std::string& defaultName, std::string& path) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!defaultName.empty())
        dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(defaultName)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = localPath(dialog.selectedFiles().constFirst());
    return true;
}

ExportUi::Answer ExportDialogs::ask(const std::string& text, Icon icon, bool withCancel) {
    ArrowWhileAsking arrow(busy_ > 0);
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel)
        buttons |= QMessageBox::Cancel;
    const QMessageBox::Icon boxIcon = icon == Icon::Information ? QMessageBox::Information
                                      : icon == Icon::Question  ? QMessageBox::Question
                                                                : QMessageBox::NoIcon;
    switch (showMessageBox(parent_, boxIcon, QString::fromStdString(text), buttons)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        // Closing a box that has no Cancel button answers No.
        return withCancel ? Answer::Cancel : Answer::No;
    }
}

void ExportDialogs::showMessage(const std::string& text) {
    ArrowWhileAsking arrow(busy_ > 0);
    showMessageBox(parent_, QMessageBox::NoIcon, QString::fromStdString(text), QMessageBox::Ok);
}

void ExportDialogs::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busy_;
    } else if (busy_ > 0) {
        QApplication::restoreOverrideCursor();
        --busy_;
    }
}
