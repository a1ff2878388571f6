#include "ui/shell/UpdateNotifier.h"

#include "resources/StringTable.h"
#include "ui/shell/MessageBoxes.h"

#include <QDesktopServices>
#include <QMetaObject>
#include <QUrl>

UpdateNotifier::UpdateNotifier(QObject* parent) : QObject(parent) {}

UpdateNotifier::~UpdateNotifier() = default;

bool UpdateNotifier::start(const QString& productVersion, const QString& userId) {
    return check_.start(
        [this] {
            QMetaObject::invokeMethod(this, &UpdateNotifier::updateAvailable, Qt::QueuedConnection);
        },
        productVersion.toStdString(), userId.toStdString());
}

QString UpdateNotifier::updateUrl() const {
    return check_.available ? QString::fromUtf8(check_.updateUrl) : QString();
}

void UpdateNotifier::offerUpdate(QWidget* parent) {
    if (!check_.available)
        return;
    if (showMessageBox(parent, QMessageBox::Information, QString::fromUtf8(loadString(172)),
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        QDesktopServices::openUrl(QUrl(updateUrl()));
}
