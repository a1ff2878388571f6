#include "ui/shell/AboutDialog.h"

#include "resources/StringTable.h"
#include "ui/shell/AutoUpdate.h"
#include "ui/shell/DataFiles.h"

#include <QFontMetricsF>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

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

    auto* versionLabel = new QLabel(QStringLiteral("版本:"), this);
    versionLabel->setGeometry(fromDialogUnits(42, 27, 20, 8));
    versionText = new QLabel(this);
    versionText->setObjectName(QString::number(kVersion));
    versionText->setTextFormat(Qt::PlainText);
    versionText->setGeometry(fromDialogUnits(64, 27, 174, 8));

    auto* notice = new QLabel(QStringLiteral("© 2026 Merovex 版权所有。"), this);
    notice->setGeometry(fromDialogUnits(42, 43, 190, 8));

    const auto makeLink = [this](const char* text, ControlId id, int x, int width) {
        auto* link = new LinkCtrl(QString::fromUtf8(text), this);
        link->setObjectName(QString::number(id));
        // Level with the middle of the OK button beside them.
        link->setGeometry(fromDialogUnits(x, 95, width, 8));
        link->attach();
        return link;
    };
    homeLink = makeLink("官网", kHomeLink, 17, 17);
    feedbackLink = makeLink("意见反馈", kFeedbackLink, 46, 33);
    thirdPartyLink = makeLink("第三方代码", kThirdPartyLink, 95, 41);

    okButton = new QPushButton(QStringLiteral("确定"), this);
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
