// The centred note the preview's windows show when they have nothing else.
#pragma once

#include <QRect>
#include <QString>

class QPainter;

// Draws `markup` with the shared renderer in a box of its measured size,
// centred in `client`.
void drawCentredMarkup(QPainter& painter, const QRect& client, const QString& markup);
