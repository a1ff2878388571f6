#include "ui/panes/PaneText.h"

#include <QPainter>
#include <QRegularExpression>

namespace {

// Stand-in until the shared markup renderer is in the tree: the text without
// its tags, bold, one line per break.
QString plain(const QString& markup) {
    QString text = markup;
    text.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    return text;
}

} // namespace

QSize measureMarkup(QPainter& painter, const QString& markup) {
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    return painter.fontMetrics().boundingRect(QRect(0, 0, 10000, 10000), 0, plain(markup)).size();
}

void drawMarkup(QPainter& painter, const QString& markup, const QRect& box) {
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::gray);
    painter.drawText(box, 0, plain(markup));
}

void drawCentredMarkup(QPainter& painter, const QRect& client, const QString& markup) {
    const QSize size = measureMarkup(painter, markup);
    drawMarkup(painter, markup,
               QRect(QPoint(client.left() + (client.width() - size.width()) / 2,
                            client.top() + (client.height() - size.height()) / 2),
                     size));
}
