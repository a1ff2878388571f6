// Check-box images of the list-tree control and the row icons of the resource list, painted at
// start-up for the screen's pixel ratio (16 by 16 logical pixels each).
#pragma once

#include <QList>
#include <QPixmap>

// 0 unused (empty), 1 empty box, 2 checked box, 3 greyed checked box.
QList<QPixmap> makeCheckBoxImages(qreal devicePixelRatio);

// 0 folder, 1 blank page, 2 page with a tick, 3 page with a clock, 4 page with a warning sign,
// 5 folder with coloured shapes, 6 page with a red cross (an error answer from the server).
QList<QPixmap> makeRowIcons(qreal devicePixelRatio);
