#include "ui/browser/ListTreeImages.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap blank(qreal dpr) {
    QPixmap pm(QSize(16, 16) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

void begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QPixmap checkBox(qreal dpr, int kind) {
    QPixmap pm = blank(dpr);
    if (kind == 0)
        return pm;
    QPainter p(&pm);
    begin(p);
    QRectF box(2.5, 2.5, 11, 11);
    QColor border = kind == 3 ? QColor(0xa8, 0xa8, 0xa8) : QColor(0x76, 0x76, 0x76);
    QColor fill = kind == 2   ? QColor(0x2b, 0x6c, 0xd4)
                  : kind == 3 ? QColor(0xd6, 0xd6, 0xd6)
                              : QColor(0xff, 0xff, 0xff);
    if (kind == 2)
        border = fill.darker(115);
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 2, 2);
    if (kind >= 2) {
        QPainterPath tick;
        tick.moveTo(4.8, 8.2);
        tick.lineTo(7.0, 10.4);
        tick.lineTo(11.3, 5.6);
        QColor ink = kind == 2 ? QColor(Qt::white) : QColor(0x6e, 0x6e, 0x6e);
        p.setPen(QPen(ink, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return pm;
}

void folder(QPainter& p) {
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(14.5, 5);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setPen(QPen(QColor(0xc8, 0x96, 0x1e), 1));
    p.setBrush(QColor(0xf2, 0xc0, 0x4a));
    p.drawPath(back);
    p.setBrush(QColor(0xff, 0xd8, 0x6b));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 7), 0.8, 0.8);
}

void page(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(3.5, 1.5);
    sheet.lineTo(10, 1.5);
    sheet.lineTo(12.5, 4);
    sheet.lineTo(12.5, 14.5);
    sheet.lineTo(3.5, 14.5);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(0x8a, 0x94, 0xa3), 1));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setPen(QPen(QColor(0xc9, 0xd0, 0xda), 1));
    for (double y : {6.5, 8.5, 10.5})
        p.drawLine(QPointF(5.5, y), QPointF(10.5, y));
    p.setPen(QPen(QColor(0x8a, 0x94, 0xa3), 1));
    p.drawLine(QPointF(10, 1.5), QPointF(10, 4));
    p.drawLine(QPointF(10, 4), QPointF(12.5, 4));
}

void badge(QPainter& p, QColor colour) {
    p.setPen(QPen(colour.darker(125), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(8, 8, 7.5, 7.5));
}

QPixmap rowIcon(qreal dpr, int kind) {
    QPixmap pm = blank(dpr);
    QPainter p(&pm);
    begin(p);
    switch (kind) {
    case 0:
        folder(p);
        break;
    case 1:
        page(p);
        break;
    case 2: {
        page(p);
        badge(p, QColor(0x2e, 0xa0, 0x43));
        QPainterPath tick;
        tick.moveTo(9.9, 11.9);
        tick.lineTo(11.4, 13.3);
        tick.lineTo(13.7, 10.4);
        p.setPen(QPen(Qt::white, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
        break;
    }
    case 3: {
        page(p);
        badge(p, QColor(0x2f, 0x7d, 0xd8));
        p.setPen(QPen(Qt::white, 1.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11.75, 11.75), QPointF(11.75, 9.6));
        p.drawLine(QPointF(11.75, 11.75), QPointF(13.4, 12.6));
        break;
    }
    case 4: {
        page(p);
        QPainterPath warn;
        warn.moveTo(11.75, 7.5);
        warn.lineTo(15.5, 14.8);
        warn.lineTo(8, 14.8);
        warn.closeSubpath();
        p.setPen(QPen(QColor(0xb9, 0x6a, 0x00), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(0xf5, 0xa6, 0x23));
        p.drawPath(warn);
        p.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11.75, 10), QPointF(11.75, 12.3));
        p.drawPoint(QPointF(11.75, 13.6));
        break;
    }
    case 5: {
        folder(p);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe0, 0x4f, 0x5f));
        p.drawEllipse(QRectF(3.2, 8, 3.6, 3.6));
        p.setBrush(QColor(0x2f, 0x7d, 0xd8));
        p.drawRect(QRectF(7.4, 8.1, 3.2, 3.2));
        QPainterPath tri;
        tri.moveTo(12.6, 7.8);
        tri.lineTo(14.3, 11.5);
        tri.lineTo(10.9, 11.5);
        tri.closeSubpath();
        p.setBrush(QColor(0x2e, 0xa0, 0x43));
        p.drawPath(tri);
        break;
    }
    case 6: {
        page(p);
        badge(p, QColor(0xd6, 0x3a, 0x3a));
        p.setPen(QPen(Qt::white, 1.3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10.3, 10.3), QPointF(13.2, 13.2));
        p.drawLine(QPointF(13.2, 10.3), QPointF(10.3, 13.2));
        break;
    }
    default:
        break;
    }
    return pm;
}

} // namespace

QList<QPixmap> makeCheckBoxImages(qreal devicePixelRatio) {
    QList<QPixmap> images;
    for (int i = 0; i < 4; ++i)
        images.append(checkBox(devicePixelRatio, i));
    return images;
}

QList<QPixmap> makeRowIcons(qreal devicePixelRatio) {
    QList<QPixmap> images;
    for (int i = 0; i < 7; ++i)
        images.append(rowIcon(devicePixelRatio, i));
    return images;
}
