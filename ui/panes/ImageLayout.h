// Placing a picture and its information text in the preview.
#pragma once

#include <QMargins>
#include <QRect>

// Where the picture and its information text go in a view.
struct ImageLayout {
    bool visible = false;   // false: the area inside the margins is empty
    bool showImage = false; // false: no room for the picture, only the text
    QRect imageRect;
    QPoint textTopLeft;
};

// Fits `image` (never enlarged) above a text of `text` size, both centred in
// `client` shrunk by `margins`, with 4 pixels between them.
ImageLayout imageLayout(const QRect& client, const QMargins& margins, const QSize& image,
                        const QSize& text);
