// Markup notes drawn by the preview's windows with the shared renderer.
#pragma once

#include <QRect>
#include <QString>

class QPainter;

QSize measureMarkup(QPainter& painter, const QString& markup);
void drawMarkup(QPainter& painter, const QString& markup, const QRect& box);
// Draws `markup` in a box of its measured size centred in `client`.
void drawCentredMarkup(QPainter& painter, const QRect& client, const QString& markup);
