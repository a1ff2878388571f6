#include "ui/panes/ImageLayout.h"

#include <algorithm>

namespace {

constexpr int kTextGap = 4;

} // namespace

ImageLayout imageLayout(const QRect& client, const QMargins& margins, const QSize& image,
                        const QSize& text) {
    ImageLayout layout;
    const QRect area = client.marginsRemoved(margins);
    if (area.isEmpty())
        return layout;
    layout.visible = true;
    int textTop;
    if (area.height() > text.height() + kTextGap && !image.isEmpty()) {
        const int availableWidth = area.width();
        const int availableHeight = area.height() - text.height() - kTextGap;
        int w = image.width();
        int h = image.height();
        if (availableWidth < w || availableHeight < h) {
            const double scale = std::min(double(availableHeight) / h, double(availableWidth) / w);
            w = int(w * scale);
            h = int(h * scale);
        }
        layout.showImage = true;
        layout.imageRect = QRect(area.left() + (availableWidth - w) / 2,
                                 area.top() + (availableHeight - h) / 2, w, h);
        textTop = layout.imageRect.top() + h + kTextGap;
    } else {
        textTop = area.top() + (area.height() - text.height()) / 2;
    }
    layout.textTopLeft = QPoint(area.left() + (area.width() - text.width()) / 2, textTop);
    return layout;
}
