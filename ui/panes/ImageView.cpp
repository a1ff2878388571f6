#include "ui/panes/ImageView.h"

#include "resources/StringTable.h"
#include "ui/panes/PaneText.h"
#include "ui/panes/TextRender.h"

#include <QPainter>

#include <algorithm>

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

QString ImageView::infoText() const {
    return QString::asprintf(loadString(143), picture.width(), picture.height(),
                             std::max(picture.pageCount(), 1));
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    if (!picture.isLoaded()) {
        drawCentredMarkup(painter, rect(), QString::asprintf(loadString(142), loadString(137)));
        return;
    }
    const QString info = infoText();
    const TextRender* render = TextRender::createShared();
    const QSize textSize = render->measure(&painter, info);
    const ImageLayout layout =
        imageLayout(rect(), pageMargins, QSize(picture.width(), picture.height()), textSize);
    if (!layout.visible)
        return;
    if (layout.showImage) {
        const QImage pixels = picture.toDib();
        if (!pixels.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(layout.imageRect, pixels);
        }
    }
    painter.setPen(palette().color(QPalette::WindowText));
    render->draw(&painter, info, QRect(layout.textTopLeft, textSize));
}
