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

const QPixmap& ImageView::scaledPicture(const QSize& size) {
    // A big photograph takes a good part of a second to convert and scale;
    // done on every paint it made scrolling past it or moving a pane crawl.
    if (convertedVersion_ != picture.version()) {
        convertedVersion_ = picture.version();
        pixels_ = picture.toDib();
        ++conversions_;
        scaled_ = QPixmap();
        scaledSize_ = QSize();
    }
    const qreal ratio = devicePixelRatioF();
    if (pixels_.isNull() || size.isEmpty()) {
        scaled_ = QPixmap();
        return scaled_;
    }
    if (size != scaledSize_ || ratio != scaledRatio_ || scaled_.isNull()) {
        const QSize target = size * ratio;
        QImage scaled = pixels_.size() == target ? pixels_
                                                 : pixels_.scaled(target, Qt::IgnoreAspectRatio,
                                                                  Qt::SmoothTransformation);
        scaled_ = QPixmap::fromImage(std::move(scaled));
        scaled_.setDevicePixelRatio(ratio);
        scaledSize_ = size;
        scaledRatio_ = ratio;
        ++scalings_;
    }
    return scaled_;
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
        const QPixmap& pixels = scaledPicture(layout.imageRect.size());
        if (!pixels.isNull())
            painter.drawPixmap(layout.imageRect.topLeft(), pixels);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    render->draw(&painter, info, QRect(layout.textTopLeft, textSize));
}
