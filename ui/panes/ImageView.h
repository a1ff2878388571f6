// The preview of a picture: scaled down to fit, centred, with its size and
// page count below it.
#pragma once

#include "ui/panes/Image.h"
#include "ui/panes/ImageLayout.h"

#include <QImage>
#include <QMargins>
#include <QPixmap>
#include <QRect>
#include <QWidget>

class ImageView : public QWidget {
    Q_OBJECT

public:
    explicit ImageView(QWidget* parent = nullptr);

    Image& image() { return picture; }
    const QMargins& margins() const { return pageMargins; }
    // The information text: size and page count, as markup.
    QString infoText() const;

    // The picture as painted at `size` (logical pixels): converted from the
    // decoded image once, scaled once per size, so a repaint only copies it.
    // Null when the picture cannot be converted.
    const QPixmap& scaledPicture(const QSize& size);
    // How many times the pixels were converted and scaled (for tests).
    int conversions() const { return conversions_; }
    int scalings() const { return scalings_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QMargins pageMargins{4, 4, 4, 4};
    Image picture;
    // Cached per loaded picture (its version) and per painted size.
    unsigned convertedVersion_ = ~0u;
    QImage pixels_;
    QPixmap scaled_;
    QSize scaledSize_;
    qreal scaledRatio_ = 0;
    int conversions_ = 0;
    int scalings_ = 0;
};
