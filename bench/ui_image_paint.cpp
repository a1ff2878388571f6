// Repainting a big picture in the preview: a 24-megapixel photograph shown in a pane of
// 1000 x 700. The baseline, measured in the same run, converts the decoded picture to 32-bit
// pixels and scales it on every paint; the view converts once and scales once per size.
// Prints milliseconds per repaint for both, their ratio, and the cost of the first paint and of
// a paint after a resize.
// Goal: a repaint of a shown picture under 16 ms.
// Usage: bench_ui_image_paint [megapixels]
#include "ui/panes/Image.h"
#include "ui/panes/ImageView.h"

#include <FreeImage.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A photograph-like picture (smooth gradients and some noise, so the coder works as on a photo),
// written as JPEG the way a camera or a web page would deliver it.
bool writePhoto(const QString& path, int width, int height) {
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    if (!bitmap)
        return false;
    unsigned seed = 2861;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) & 15);
            line[x * 3 + FI_RGBA_RED] = BYTE((x * 255 / width + noise) & 255);
            line[x * 3 + FI_RGBA_GREEN] = BYTE((y * 255 / height + noise) & 255);
            line[x * 3 + FI_RGBA_BLUE] = BYTE(((x + y) * 127 / (width + height) + noise) & 255);
        }
    }
    const bool saved =
        FreeImage_Save(FIF_JPEG, bitmap, path.toUtf8().constData(), JPEG_QUALITYGOOD);
    FreeImage_Unload(bitmap);
    return saved;
}

double perPaint(QElapsedTimer& clock, int paints) {
    return clock.nsecsElapsed() / 1e6 / paints;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FreeImageLibrary library;
    const double megapixels = argc > 1 ? std::atof(argv[1]) : 24;
    const int width = int(std::lround(std::sqrt(megapixels * 1e6 * 1.5)));
    const int height = int(std::lround(width / 1.5));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    if (!writePhoto(path, width, height)) {
        std::fprintf(stderr, "cannot write the picture\n");
        return 1;
    }

    ImageView view;
    view.resize(1000, 700);
    if (!view.image().load(path)) {
        std::fprintf(stderr, "cannot load the picture\n");
        return 1;
    }
    QPixmap canvas(view.size());
    QElapsedTimer clock;
    std::printf("picture %d x %d (%.1f MP), view %d x %d\n", width, height,
                double(width) * height / 1e6, view.width(), view.height());

    // Baseline: what every paint did before, converting and scaling the whole picture.
    const QRect target(4, 4, 992, 661);
    const int baselinePaints = 5;
    clock.start();
    for (int i = 0; i < baselinePaints; ++i) {
        QPainter painter(&canvas);
        const QImage pixels = view.image().toDib();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, pixels);
    }
    const double baseline = perPaint(clock, baselinePaints);

    clock.restart();
    view.render(&canvas);
    const double first = clock.nsecsElapsed() / 1e6;

    const int paints = 200;
    clock.restart();
    for (int i = 0; i < paints; ++i)
        view.render(&canvas);
    const double repaint = perPaint(clock, paints);

    view.resize(900, 650);
    clock.restart();
    view.render(&canvas);
    const double resized = clock.nsecsElapsed() / 1e6;

    std::printf("%-36s %10.2f ms\n", "baseline paint (convert every time)", baseline);
    std::printf("%-36s %10.2f ms\n", "first paint (convert and scale)", first);
    std::printf("%-36s %10.2f ms\n", "repaint", repaint);
    std::printf("%-36s %10.2f ms\n", "paint after a resize (scale only)", resized);
    std::printf("repaint / baseline: %.4f (%.0fx faster); conversions %d, scalings %d\n",
                repaint / baseline, baseline / repaint, view.conversions(), view.scalings());
    std::printf("goal, repaint under 16 ms: %s\n", repaint < 16 ? "met" : "MISSED");
    return 0;
}
