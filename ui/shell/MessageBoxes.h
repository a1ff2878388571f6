// The program's message boxes, with a hook that lets whole-program tests
// answer them.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Shows a modal message box and returns the button chosen. When the
// environment variable TIDEWELL_AUTO_ANSWER names a button ("yes", "no",
// "ok", "cancel"), nothing is shown: the text goes to standard error as
// "tidewell-question: <text>" and that button is the answer (the first of
// `buttons` when it is not among them). Test hook only.
QMessageBox::StandardButton showMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
