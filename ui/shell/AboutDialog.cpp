#include "ui/shell/AboutDialog.h"

#include "resources/StringTable.h"
#include "ui/shell/AutoUpdate.h"
#include "ui/shell/DataFiles.h"

#include <QFontMetricsF>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

QString tr8(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

QString linkAddress(unsigned id, const QString& productVersion) {
    return QString::fromStdString(AutoUpdate::formatAddress(id, productVersion.toStdString()));
}

} // namespace

AboutDialog::AboutDialog(const QString& productVersion, QWidget* parent) : QDialog(parent) {
    loadProgramResources();
    setWindowTitle(tr8(169));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    // A dialog unit is a quarter of the average character width and an
    // eighth of the line height of the dialog's font.
    const QFontMetricsF metrics(font());
    unitX_ = metrics.horizontalAdvance(
                 QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
             52.0 / 4.0;
    unitY_ = metrics.height() / 8.0;
    setFixedSize(fromDialogUnits(0, 0, 249, 113).size());

    auto* icon = new QLabel(this);
    const QRect iconBox = fromDialogUnits(14, 14, 20, 20);
    const int iconSide = std::min(iconBox.width(), iconBox.height());
    icon->setPixmap(windowIcon().isNull()
                        ? QIcon(QStringLiteral(":/tidewell/icons/tidewell-64.png")).pixmap(iconSide)
                        : windowIcon().pixmap(iconSide));
    icon->setGeometry(iconBox.x(), iconBox.y(), iconSide, iconSide);

    auto* name = new QLabel(QStringLiteral("Tidewell"), this);
    name->setTextFormat(Qt::PlainText);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setGeometry(fromDialogUnits(42, 14, 80, 8));

    // Labels keep their places in the dialog and grow to the right when a
    // language needs more room than the Chinese texts they were laid out for.
    auto* versionLabel = new QLabel(tr8(IDS_ABOUT_VERSION), this);
    QRect labelBox = fromDialogUnits(42, 27, 20, 8);
    labelBox.setWidth(std::max(labelBox.width(), versionLabel->sizeHint().width()));
    versionLabel->setGeometry(labelBox);
    versionText = new QLabel(this);
    versionText->setObjectName(QString::number(kVersion));
    versionText->setTextFormat(Qt::PlainText);
    QRect versionBox = fromDialogUnits(64, 27, 174, 8);
    const int versionLeft = std::max(versionBox.left(), labelBox.right() + 1 + qRound(2 * unitX_));
    versionBox.adjust(versionLeft - versionBox.left(), 0, 0, 0);
    versionText->setGeometry(versionBox);

    auto* notice = new QLabel(tr8(IDS_ABOUT_NOTICE), this);
    notice->setGeometry(fromDialogUnits(42, 43, 190, 8));

    // Each link is sized to its text; a longer one pushes the next along.
    int nextLeft = 0;
    const auto makeLink = [this, &nextLeft](unsigned text, ControlId id, int x, int width) {
        auto* link = new LinkCtrl(tr8(text), this);
        link->setObjectName(QString::number(id));
        // Level with the middle of the OK button beside them.
        QRect box = fromDialogUnits(x, 95, width, 8);
        box.moveLeft(std::max(box.left(), nextLeft));
        link->setGeometry(box);
        link->attach();
        nextLeft = link->geometry().right() + 1 + qRound(8 * unitX_);
        return link;
    };
    homeLink = makeLink(IDS_ABOUT_HOME_LINK, kHomeLink, 17, 17);
    feedbackLink = makeLink(IDS_ABOUT_FEEDBACK_LINK, kFeedbackLink, 46, 33);
    thirdPartyLink = makeLink(IDS_ABOUT_THIRD_PARTY_LINK, kThirdPartyLink, 95, 41);

    okButton = new QPushButton(tr8(IDS_BUTTON_OK), this);
    okButton->setDefault(true);
    okButton->setGeometry(fromDialogUnits(192, 92, 50, 14));
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    // Dialog initialisation: the version and the three addresses.
    versionText->setText(productVersion);
    homeLink->setAddress(linkAddress(176, productVersion));
    feedbackLink->setAddress(linkAddress(174, productVersion));
    thirdPartyLink->setAddress(linkAddress(175, productVersion));
}

QRect AboutDialog::fromDialogUnits(int x, int y, int width, int height) const {
    return QRect(qRound(x * unitX_), qRound(y * unitY_), qRound(width * unitX_),
                 qRound(height * unitY_));
}
