#include "ui/browser/ExportDialogs.h"

#include "ui/shell/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QStatusBar>

namespace {

constexpr int kStatusNoteMs = 10000;

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Where the next export dialog opens: the home folder at first, then the
// folder the user last exported into, not whatever folder the program was
// started from.
QString& exportDirectory() {
    static QString directory = QDir::homePath();
    return directory;
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

QString ExportDialogs::lastFolder() {
    return exportDirectory();
}

ExportDialogs::~ExportDialogs() {
    while (busy_ > 0)
        setBusy(false);
}

bool ExportDialogs::chooseFolder(std::string& folder) {
    QFileDialog dialog(parent_);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(exportDirectory());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    exportDirectory() = dialog.selectedFiles().constFirst();
    folder = localPath(dialog.selectedFiles().constFirst());
    return true;
}

bool ExportDialogs::chooseSaveFile(const std::string& defaultName, std::string& path) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(exportDirectory());
    if (!defaultName.empty())
        dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(defaultName)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    exportDirectory() = QFileInfo(dialog.selectedFiles().constFirst()).absolutePath();
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

ExportUi::Answer ExportDialogs::choose(const std::string& text, const std::string& first,
                                       const std::string& second) {
    ArrowWhileAsking arrow(busy_ > 0);
    switch (showMessageBox(parent_, QMessageBox::Question, QString::fromStdString(text),
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                           {{QMessageBox::Yes, QString::fromStdString(first)},
                            {QMessageBox::No, QString::fromStdString(second)}})) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void ExportDialogs::showStatus(const std::string& text) {
    // Shown over the capture state for a while; the state comes back by itself.
    if (auto* window = qobject_cast<QMainWindow*>(parent_ ? parent_->window() : nullptr))
        window->statusBar()->showMessage(QString::fromStdString(text), kStatusNoteMs);
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
