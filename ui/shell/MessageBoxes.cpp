#include "ui/shell/MessageBoxes.h"

#include "resources/StringTable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QIcon>

#include <cstdio>
#include <utility>

namespace {

QMessageBox::StandardButton firstOf(QMessageBox::StandardButtons buttons) {
    for (auto button : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
        if (buttons & button)
            return button;
    }
    return QMessageBox::NoButton;
}

} // namespace

QMessageBox::StandardButton
showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
               QMessageBox::StandardButtons buttons,
               const QList<QPair<QMessageBox::StandardButton, QString>>& labels) {
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
    // The buttons speak the program's language whatever the desktop's is.
    const std::pair<QMessageBox::StandardButton, unsigned> usual[] = {
        {QMessageBox::Ok, IDS_BUTTON_OK},
        {QMessageBox::Yes, IDS_BUTTON_YES},
        {QMessageBox::No, IDS_BUTTON_NO},
        {QMessageBox::Cancel, IDS_BUTTON_CANCEL}};
    for (const auto& [button, label] : usual) {
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(loadString(label)));
    }
    // A named choice is neither a yes nor a no: it loses their marks too.
    for (const auto& [button, label] : labels) {
        if (QAbstractButton* shown = box.button(button)) {
            shown->setText(label);
            shown->setIcon(QIcon());
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
