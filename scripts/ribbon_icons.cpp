// Draws the ribbon's pictures into resources/ribbon/ (each at 1x and @2x). Run again after
// changing a drawing:
//   g++ -std=c++20 -fPIC scripts/ribbon_icons.cpp $(pkg-config --cflags --libs Qt6Gui)
//   -o /tmp/ribbon_icons && QT_QPA_PLATFORM=offscreen /tmp/ribbon_icons resources/ribbon
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

// One palette for every picture: flat fills, a darker outline of the same hue.
const QColor kBlue("#2f7bd0"), kBlueDark("#1d5aa3"), kBlueLight("#cfe2f7");
const QColor kGreen("#35a853"), kGreenDark("#23813c");
const QColor kRed("#dc4a3d"), kRedDark("#a93328");
const QColor kAmber("#f2a93b"), kAmberDark("#c27c17");
const QColor kSlate("#5d6d7e"), kSlateDark("#3e4c5a"), kSlateLight("#aab6c3");
const QColor kPaper("#ffffff"), kPaperEdge("#8194aa"), kLine("#b9c6d4");

using Drawing = std::function<void(QPainter&)>;

void page(QPainter& p, QRectF r, qreal fold = 6) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(kPaperEdge, 1));
    p.setBrush(kPaper);
    p.drawPath(path);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.setBrush(QColor("#dde5ee"));
    p.drawPath(corner);
}

void textLines(QPainter& p, qreal left, qreal right, qreal top, int count, qreal step = 3) {
    p.setPen(QPen(kLine, 1.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < count; ++i) {
        const qreal y = top + i * step;
        p.drawLine(QPointF(left, y), QPointF(i % 2 ? right - 3 : right, y));
    }
}

// A thick arrow from `from` to `to` with a solid head.
void arrow(QPainter& p, QPointF from, QPointF to, const QColor& fill, const QColor& edge,
           qreal shaft = 4, qreal head = 9) {
    const QLineF line(from, to);
    const qreal length = line.length();
    QPainterPath path;
    path.moveTo(0, -shaft / 2);
    path.lineTo(length - head * 0.8, -shaft / 2);
    path.lineTo(length - head * 0.8, -head / 2);
    path.lineTo(length, 0);
    path.lineTo(length - head * 0.8, head / 2);
    path.lineTo(length - head * 0.8, shaft / 2);
    path.lineTo(0, shaft / 2);
    path.closeSubpath();
    p.save();
    p.translate(from);
    p.rotate(-line.angle());
    p.setPen(QPen(edge, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(fill);
    p.drawPath(path);
    p.restore();
}

void disc(QPainter& p, QPointF center, qreal radius, const QColor& top, const QColor& bottom,
          const QColor& edge) {
    QLinearGradient g(center.x(), center.y() - radius, center.x(), center.y() + radius);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(edge, 1));
    p.setBrush(g);
    p.drawEllipse(center, radius, radius);
}

void windowFrame(QPainter& p, QRectF r, const QColor& title) {
    p.setPen(QPen(kSlateDark, 1));
    p.setBrush(kPaper);
    p.drawRoundedRect(r, 1.5, 1.5);
    QRectF bar(r.left() + 0.5, r.top() + 0.5, r.width() - 1, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(title);
    p.drawRect(bar);
}

// Large pictures, drawn on a 32 by 32 grid.

void captureStart(QPainter& p) {
    disc(p, {16, 16}, 13.5, QColor("#5cc878"), kGreen, kGreenDark);
    QPainterPath play;
    play.moveTo(12.5, 9.5);
    play.lineTo(23.5, 16);
    play.lineTo(12.5, 22.5);
    play.closeSubpath();
    p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(play);
}

void captureStop(QPainter& p) {
    disc(p, {16, 16}, 13.5, QColor("#ef6f62"), kRed, kRedDark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(10.5, 10.5, 11, 11), 1.5, 1.5);
}

void viewPanel(QPainter& p) {
    windowFrame(p, QRectF(3.5, 5.5, 25, 21), kBlue);
    p.setPen(QPen(kSlateLight, 1));
    p.drawLine(QPointF(4, 18.5), QPointF(28, 18.5));
    p.drawLine(QPointF(19.5, 10), QPointF(19.5, 18));
    p.setBrush(kBlueLight);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(20, 10, 8, 8));
    textLines(p, 6.5, 17, 12.5, 2, 3);
    p.setBrush(QColor("#e6edf5"));
    p.drawRect(QRectF(4, 19, 24, 7));
}

void listMode(QPainter& p) {
    p.setPen(QPen(kSlateDark, 1));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(4.5, 4.5, 23, 23), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#e3ebf4"));
    p.drawRect(QRectF(5, 5, 22, 4));
    // A small tree: a parent row and indented children joined by dotted lines.
    const qreal rows[] = {12.5, 17, 21.5};
    const qreal indent[] = {7.5, 12.5, 12.5};
    p.setPen(QPen(kSlateLight, 1, Qt::DotLine));
    p.drawLine(QPointF(9, 14), QPointF(9, 21.5));
    p.drawLine(QPointF(9, 17), QPointF(11.5, 17));
    p.drawLine(QPointF(9, 21.5), QPointF(11.5, 21.5));
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(i == 0 ? kBlueDark : kAmberDark, 1));
        p.setBrush(i == 0 ? kBlue : kAmber);
        p.drawRect(QRectF(indent[i] - 1, rows[i] - 1.5, 3, 3));
        p.setPen(QPen(kLine, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(indent[i] + 4, rows[i]), QPointF(i == 1 ? 21 : 24, rows[i]));
    }
}

void resources(QPainter& p) {
    page(p, QRectF(5.5, 3.5, 17, 22));
    textLines(p, 8.5, 17, 9.5, 3, 3);
    disc(p, {21, 21}, 8, QColor("#5aa0ea"), kBlue, kBlueDark);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(21, 21), 3.5, 7.5);
    p.drawLine(QPointF(13.5, 21), QPointF(28.5, 21));
    p.drawLine(QPointF(15, 17), QPointF(27, 17));
    p.drawLine(QPointF(15, 25), QPointF(27, 25));
}

void clear(QPainter& p) {
    // A waste bin with its lid lifted.
    QPainterPath bin;
    bin.moveTo(8, 11.5);
    bin.lineTo(24, 11.5);
    bin.lineTo(22.5, 28.5);
    bin.lineTo(9.5, 28.5);
    bin.closeSubpath();
    QLinearGradient g(8, 0, 24, 0);
    g.setColorAt(0, QColor("#8a99aa"));
    g.setColorAt(0.5, QColor("#b3bfcc"));
    g.setColorAt(1, QColor("#7d8c9d"));
    p.setPen(QPen(kSlateDark, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPath(bin);
    p.setPen(QPen(kSlateDark, 1.2, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {12.5, 16.0, 19.5})
        p.drawLine(QPointF(x, 14.5), QPointF(x, 25.5));
    p.save();
    p.translate(16, 8);
    p.rotate(-12);
    p.setPen(QPen(kSlateDark, 1));
    p.setBrush(kSlate);
    p.drawRoundedRect(QRectF(-10, -1.5, 20, 3.5), 1, 1);
    p.drawRoundedRect(QRectF(-3, -4, 6, 3), 1, 1);
    p.restore();
}

void mergeExport(QPainter& p) {
    page(p, QRectF(2.5, 1.5, 11, 12), 4);
    textLines(p, 4.5, 10, 6.5, 2, 3);
    page(p, QRectF(18.5, 1.5, 11, 12), 4);
    textLines(p, 20.5, 26, 6.5, 2, 3);
    page(p, QRectF(9.5, 20.5, 13, 10), 4);
    p.setPen(QPen(kGreen, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 25), QPointF(20, 25));
    p.drawLine(QPointF(12, 28), QPointF(18, 28));
    // Two streams joining into the one file below.
    p.setPen(QPen(kGreenDark, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(8, 15), QPointF(14, 18.2));
    p.drawLine(QPointF(24, 15), QPointF(18, 18.2));
    QPainterPath head;
    head.moveTo(11.8, 17);
    head.lineTo(20.2, 17);
    head.lineTo(16, 21.5);
    head.closeSubpath();
    p.setPen(QPen(kGreenDark, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(kGreen);
    p.drawPath(head);
}

void exportFile(QPainter& p) {
    page(p, QRectF(4.5, 3.5, 17, 24));
    textLines(p, 7.5, 16, 10.5, 4, 3.2);
    arrow(p, QPointF(13, 20.5), QPointF(30, 20.5), kGreen, kGreenDark, 4.5, 10);
}

// A log of exchanges: a page of entries in braces, sent out like an export.
void exportHar(QPainter& p) {
    page(p, QRectF(4.5, 3.5, 17, 24));
    p.setPen(QPen(kBlueDark, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath braces;
    braces.moveTo(9.5, 8);
    braces.cubicTo(7.5, 8, 8.3, 11.5, 7, 12);
    braces.cubicTo(8.3, 12.5, 7.5, 16, 9.5, 16);
    braces.moveTo(15.5, 8);
    braces.cubicTo(17.5, 8, 16.7, 11.5, 18, 12);
    braces.cubicTo(16.7, 12.5, 17.5, 16, 15.5, 16);
    p.drawPath(braces);
    p.setPen(QPen(kBlue, 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.8, 10.5), QPointF(14.2, 10.5));
    p.drawLine(QPointF(10.8, 13.5), QPointF(13.2, 13.5));
    arrow(p, QPointF(13, 21.5), QPointF(30, 21.5), kGreen, kGreenDark, 4.5, 10);
}

void windows(QPainter& p) {
    windowFrame(p, QRectF(3.5, 4.5, 18, 15), kSlate);
    textLines(p, 6, 16, 12, 2, 3);
    windowFrame(p, QRectF(10.5, 12.5, 18, 15), kBlue);
    p.setPen(QPen(kSlateLight, 1));
    p.drawLine(QPointF(20.5, 17.5), QPointF(20.5, 27));
    p.setPen(Qt::NoPen);
    p.setBrush(kBlueLight);
    p.drawRect(QRectF(21, 17.5, 7, 9.5));
    textLines(p, 13, 18.5, 20.5, 3, 2.5);
}

void gear(QPainter& p, QPointF center, qreal outer, qreal inner, int teeth, const QColor& fill,
          const QColor& edge) {
    QPainterPath path;
    for (int i = 0; i < teeth * 4; ++i) {
        const qreal angle = (i / qreal(teeth * 4)) * 2 * M_PI - M_PI / (teeth * 4);
        const qreal radius = (i % 4 == 1 || i % 4 == 2) ? outer : inner;
        const QPointF point(center.x() + radius * std::cos(angle),
                            center.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(center, inner * 0.42, inner * 0.42);
    p.setPen(QPen(edge, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    QLinearGradient g(center.x(), center.y() - outer, center.x(), center.y() + outer);
    g.setColorAt(0, fill.lighter(120));
    g.setColorAt(1, fill);
    p.setBrush(g);
    p.drawPath(path.subtracted(hole));
}

void options(QPainter& p) {
    gear(p, {15, 15}, 12.5, 9.5, 8, kSlate, kSlateDark);
    // A small check box in the corner: the options are switches.
    p.setPen(QPen(kBlueDark, 1));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(19.5, 19.5, 10, 10), 1.5, 1.5);
    p.setPen(QPen(kGreenDark, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(21.8, 24.5);
    tick.lineTo(24, 26.8);
    tick.lineTo(27.6, 21.8);
    p.drawPath(tick);
}

// Small pictures, drawn on a 16 by 16 grid.

void checkUpdate(QPainter& p) {
    // Two arrows chasing each other round: fetch again.
    disc(p, {8, 8}, 7, QColor("#67b56f"), kGreen, kGreenDark);
    p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(4.2, 4.2, 7.6, 7.6);
    p.drawArc(ring, 100 * 16, 120 * 16);
    p.drawArc(ring, 280 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    QPainterPath heads;
    // At the ends of the arcs (at 220 and 40 degrees), pointing along the turn.
    heads.moveTo(2.6, 9.2);
    heads.lineTo(6.6, 9.8);
    heads.lineTo(4.3, 12.9);
    heads.closeSubpath();
    heads.moveTo(13.4, 6.8);
    heads.lineTo(9.4, 6.2);
    heads.lineTo(11.7, 3.1);
    heads.closeSubpath();
    p.drawPath(heads);
}

void help(QPainter& p) {
    disc(p, {8, 8}, 7, QColor("#5aa0ea"), kBlue, kBlueDark);
    p.setPen(QPen(Qt::white, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath mark;
    mark.moveTo(5.8, 6.2);
    mark.cubicTo(5.8, 3.6, 10.4, 3.6, 10.4, 6.0);
    mark.cubicTo(10.4, 7.6, 8.1, 7.7, 8.1, 9.6);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8.1, 12), 1.05, 1.05);
}

void checkMark(QPainter& p) {
    p.setPen(QPen(QColor("#2b3a4a"), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(3.5, 8.5);
    tick.lineTo(6.5, 11.5);
    tick.lineTo(12.5, 4.5);
    p.drawPath(tick);
}

void radioMark(QPainter& p) {
    QRadialGradient g(QPointF(7.2, 7.0), 4);
    g.setColorAt(0, QColor("#5d7085"));
    g.setColorAt(1, QColor("#2b3a4a"));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPointF(8, 8), 3.2, 3.2);
}

bool render(const QString& dir, const char* name, int grid, const Drawing& draw) {
    for (int scale : {1, 2}) {
        QImage image(grid * scale, grid * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        draw(painter);
        painter.end();
        const QString path = QStringLiteral("%1/%2-%3%4.png")
                                 .arg(dir, QLatin1String(name))
                                 .arg(grid)
                                 .arg(scale == 2 ? QStringLiteral("@2x") : QString());
        if (!image.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    struct {
        const char* name;
        int grid;
        Drawing draw;
    } const pictures[] = {
        {"capture-start", 32, captureStart},
        {"capture-stop", 32, captureStop},
        {"view", 32, viewPanel},
        {"list-mode", 32, listMode},
        {"resources", 32, resources},
        {"clear", 32, clear},
        {"merge-export", 32, mergeExport},
        {"export", 32, exportFile},
        {"export-har", 32, exportHar},
        {"windows", 32, windows},
        {"options", 32, options},
        {"check-update", 16, checkUpdate},
        {"help", 16, help},
        {"check", 16, checkMark},
        {"radio", 16, radioMark},
    };
    for (const auto& picture : pictures) {
        if (!render(dir, picture.name, picture.grid, picture.draw))
            return 1;
    }
    return 0;
}
