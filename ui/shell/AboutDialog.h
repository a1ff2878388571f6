// The modal About box: icon, name, version and three links to the vendor's
// site carrying the version.
#pragma once

#include "ui/shell/LinkCtrl.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // Control ids of the links and the version text, kept as object names
    // ("1000", "1004", ...) so that tests and styles can find them.
    enum ControlId {
        kVersion = 1000,
        kHomeLink = 1004,
        kFeedbackLink = 1005,
        kThirdPartyLink = 1007
    };

    explicit AboutDialog(const QString& productVersion, QWidget* parent = nullptr);

    LinkCtrl* homeLink;
    LinkCtrl* feedbackLink;
    LinkCtrl* thirdPartyLink;
    QLabel* versionText;
    QPushButton* okButton;

private:
    // Dialog units of the layout to pixels, from the dialog font as the
    // layout was drawn for.
    QRect fromDialogUnits(int x, int y, int width, int height) const;

    double unitX_ = 1.5;
    double unitY_ = 1.625;
};
