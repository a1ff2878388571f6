// The preview of a picture: scaled down to fit, centred, with its size and
// page count below it.
#pragma once

#include "ui/panes/Image.h"
#include "ui/panes/ImageLayout.h"

#include <QMargins>
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QMargins pageMargins{4, 4, 4, 4};
    Image picture;
};
