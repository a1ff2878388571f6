#include "ui/shell/MessageBoxes.h"

#include <QApplication>
#include <QByteArray>

#include <cstdio>

namespace {

QMessageBox::StandardButton firstOf(QMessageBox::StandardButtons buttons) {
    for (auto button : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
        if (buttons & button)
            return button;
    }
    return QMessageBox::NoButton;
}

} // namespace

QMessageBox::StandardButton showMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons) {
    const QByteArray answer = qgetenv("TIDEWELL_AUTO_ANSWER").toLower();
    if (!answer.isEmpty()) {
        std::fprintf(stderr, "tidewell-question: %s\n", text.toUtf8().constData());
        std::fflush(stderr);
        QMessageBox::StandardButton chosen = answer == "yes"      ? QMessageBox::Yes
                                             : answer == "no"     ? QMessageBox::No
                                             : answer == "cancel" ? QMessageBox::Cancel
                                                                  : QMessageBox::Ok;
        return buttons & chosen ? chosen : firstOf(buttons);
    }
    QMessageBox box(icon, QApplication::applicationDisplayName(), text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
