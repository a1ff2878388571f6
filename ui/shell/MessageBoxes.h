// The program's message boxes, with a hook that lets whole-program tests
// answer them.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

class QWidget;

// Shows a modal message box and returns the button chosen. When the
// environment variable TIDEWELL_AUTO_ANSWER names a button ("yes", "no",
// "ok", "cancel"), nothing is shown: the text goes to standard error as
// "tidewell-question: <text>" and that button is the answer (the first of
// `buttons` when it is not among them). Test hook only. `labels` replace
// the usual texts of some buttons (a choice between two named things).
QMessageBox::StandardButton
showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
               QMessageBox::StandardButtons buttons = QMessageBox::Ok,
               const QList<QPair<QMessageBox::StandardButton, QString>>& labels = {});
