#include "ui/panes/PaneText.h"

#include "ui/panes/TextRender.h"

#include <QPainter>

void drawCentredMarkup(QPainter& painter, const QRect& client, const QString& markup) {
    const TextRender* render = TextRender::createShared();
    const QSize size = render->measure(&painter, markup);
    render->draw(&painter, markup,
                 QRect(QPoint(client.left() + (client.width() - size.width()) / 2,
                              client.top() + (client.height() - size.height()) / 2),
                       size));
}
