#include "ui/shell/LinkCtrl.h"

#include "resources/StringTable.h"
#include "ui/shell/MessageBoxes.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QUrl>

#include <utility>

namespace {

// What QDesktopServices cannot tell apart: it opened the address or it had
// nothing to open it with.
constexpr int kOpened = 33;
constexpr int kNoAssociation = 31;

} // namespace

LinkCtrl::LinkCtrl(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // The link is sized from its left and top edges unless the caller asks
    // for centring or right alignment.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    attach();
}

void LinkCtrl::attach() {
    setMouseTracking(true);
    if (address_.isEmpty())
        address_ = text();
    if (text().isEmpty())
        setText(address_);
    if (!attached_) {
        normalFont_ = font();
        underlinedFont_ = normalFont_;
        underlinedFont_.setUnderline(true);
        attached_ = true;
    }
    setCursor(Qt::PointingHandCursor);
    setToolTip(address_);
    fitToText();
    updateColour();
}

void LinkCtrl::setAddress(const QString& address) {
    address_ = address;
    fitToText();
    setToolTip(address_);
}

void LinkCtrl::fitToText() {
    if (!adjustToFit)
        return;
    const QMargins margins = contentsMargins();
    const int border = 2 * margin();
    const QSize textSize = QFontMetrics(underlinedFont_).size(Qt::TextSingleLine, text());
    const int width = margins.left() + margins.right() + border + textSize.width();
    const int height = margins.top() + margins.bottom() + border + textSize.height();
    QRect box = geometry();
    const Qt::Alignment align = alignment();
    const int top = align & Qt::AlignVCenter ? box.center().y() - height / 2 : box.top();
    int left = box.left();
    if (align & Qt::AlignHCenter)
        left = box.center().x() - width / 2;
    else if (align & Qt::AlignRight)
        left = box.right() + 1 - width;
    setGeometry(left, top, width, height);
}

void LinkCtrl::updateColour() {
    QPalette colours = palette();
    // The background is the button face, like the dialogs the links sit on.
    setAutoFillBackground(true);
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    colours.setColor(QPalette::WindowText, hovering  ? hoverColour
                                           : visited ? visitedColour
                                                     : linkColour);
    setPalette(colours);
    update();
}

void LinkCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering) {
        hovering = true;
        setFont(underlinedFont_);
        updateColour();
        hoverTimer_.start(kHoverCheckMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void LinkCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hoverTimer_.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    if (!rect().contains(mapFromGlobal(QCursor::pos()))) {
        hovering = false;
        hoverTimer_.stop();
        setFont(normalFont_);
        updateColour();
    }
}

void LinkCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    QLabel::mousePressEvent(event);
}

void LinkCtrl::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = pressed_ && event->button() == Qt::LeftButton &&
                         rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (clicked) {
        hovering = false;
        open();
    }
}

int LinkCtrl::open() {
    const int result = QDesktopServices::openUrl(QUrl(address_)) ? kOpened : kNoAssociation;
    if (result > 32) {
        visited = true;
        updateColour();
    } else {
        QApplication::beep();
        showMessageBox(this, QMessageBox::Warning, errorMessage(result));
    }
    return result;
}

QString LinkCtrl::errorMessage(int result) {
    static constexpr std::pair<int, unsigned> kTexts[] = {
        {0, IDS_LINK_OUT_OF_MEMORY},         {2, IDS_LINK_FILE_NOT_FOUND},
        {3, IDS_LINK_PATH_NOT_FOUND},        {5, IDS_LINK_ACCESS_DENIED},
        {8, IDS_LINK_NOT_ENOUGH_MEMORY},     {11, IDS_LINK_BAD_PROGRAM},
        {26, IDS_LINK_SHARING_VIOLATION},    {27, IDS_LINK_ASSOCIATION_INCOMPLETE},
        {28, IDS_LINK_DDE_TIMEOUT},          {29, IDS_LINK_DDE_FAILED},
        {30, IDS_LINK_DDE_BUSY},             {31, IDS_LINK_NO_ASSOCIATION},
        {32, IDS_LINK_LIBRARY_NOT_FOUND},
    };
    QString detail = QString::fromUtf8(loadString(IDS_LINK_UNKNOWN_ERROR))
                         .replace(QLatin1String("%d"), QString::number(result));
    for (const auto& [code, id] : kTexts) {
        if (code == result)
            detail = QString::fromUtf8(loadString(id));
    }
    return QString::fromUtf8(loadString(IDS_LINK_OPEN_FAILED)) + detail;
}
