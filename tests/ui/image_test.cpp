// Decoding pictures for the preview, and where the preview puts them.
#include "ui/panes/Image.h"
#include "ui/panes/ImageLayout.h"

#include <FreeImage.h>

#include <QTemporaryDir>
#include <QTest>

namespace {

FIBITMAP* solid(int w, int h, int bpp, BYTE red) {
    FIBITMAP* dib = FreeImage_Allocate(w, h, bpp);
    RGBQUAD colour{};
    colour.rgbRed = red;
    colour.rgbBlue = 40;
    if (bpp == 8) {
        RGBQUAD* palette = FreeImage_GetPalette(dib);
        palette[1] = colour;
        for (int y = 0; y < h; ++y)
            std::memset(FreeImage_GetScanLine(dib, y), 1, std::size_t(w));
    } else {
        FreeImage_FillBackground(dib, &colour);
    }
    return dib;
}

// A PNG whose header claims a huge picture; its pixels are never there.
QByteArray hugePngHeader() {
    auto crc = [](const QByteArray& data) {
        quint32 c = 0xFFFFFFFF;
        for (char byte : data) {
            c ^= quint8(byte);
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        }
        return ~c;
    };
    auto be32 = [](quint32 v) {
        const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    QByteArray ihdr = "IHDR" + be32(30000) + be32(30000) + QByteArray("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(crc(ihdr));
}

} // namespace

class ImageTest : public QObject {
    Q_OBJECT

    FreeImageLibrary library;
    QTemporaryDir dir;

    QString path(const char* name) { return dir.filePath(QLatin1String(name)); }

    QString writeMultiPage(FREE_IMAGE_FORMAT fif, const char* name, int pages, int bpp) {
        const QString file = path(name);
        FIMULTIBITMAP* multi =
            FreeImage_OpenMultiBitmap(fif, file.toUtf8().constData(), TRUE, FALSE, TRUE, 0);
        for (int i = 0; i < pages; ++i) {
            FIBITMAP* page = solid(12, 8, bpp, BYTE(60 * i));
            FreeImage_AppendPage(multi, page);
            FreeImage_Unload(page);
        }
        FreeImage_CloseMultiBitmap(multi, 0);
        return file;
    }

private slots:
    void opaquePng() {
        QImage source(30, 20, QImage::Format_RGB32);
        source.fill(QColor(10, 200, 30));
        source.setPixel(0, 0, qRgb(255, 0, 0)); // top-left stays top-left
        QVERIFY(source.save(path("a.png")));
        Image image;
        QVERIFY(image.load(path("a.png")));
        QCOMPARE(image.width(), 30);
        QCOMPARE(image.height(), 20);
        QCOMPARE(image.pageCount(), 1);
        QVERIFY(!image.isTransparent());
        const QImage dib = image.toDib();
        QCOMPARE(dib.size(), QSize(30, 20));
        QCOMPARE(dib.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(dib.pixel(29, 19), qRgb(10, 200, 30));
        image.release();
        QVERIFY(!image.isLoaded());
        QVERIFY(image.toDib().isNull());
    }

    void transparentPngIsPremultiplied() {
        QImage source(4, 4, QImage::Format_ARGB32);
        source.fill(qRgba(255, 100, 0, 128));
        source.setPixel(1, 1, qRgba(0, 0, 255, 0));
        QVERIFY(source.save(path("t.png")));
        Image image;
        QVERIFY(image.load(path("t.png")));
        QVERIFY(image.isTransparent());
        const QImage dib = image.toDib();
        QCOMPARE(dib.format(), QImage::Format_ARGB32_Premultiplied);
        const QRgb px = reinterpret_cast<const QRgb*>(dib.constScanLine(0))[0];
        QCOMPARE(qAlpha(px), 128);
        QCOMPARE(qRed(px), 255 * 128 / 255);
        QCOMPARE(qGreen(px), 100 * 128 / 255);
        QCOMPARE(reinterpret_cast<const QRgb*>(dib.constScanLine(1))[1], 0u);
    }

    void multiPageFilesShowTheFirstPage_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bpp");
        QTest::newRow("gif") << int(FIF_GIF) << 8;
        QTest::newRow("tiff") << int(FIF_TIFF) << 24;
    }
    void multiPageFilesShowTheFirstPage() {
        QFETCH(int, format);
        QFETCH(int, bpp);
        const QString file = writeMultiPage(FREE_IMAGE_FORMAT(format),
                                            format == FIF_GIF ? "m.gif" : "m.tif", 3, bpp);
        Image image;
        QVERIFY(image.load(file));
        QCOMPARE(image.pageCount(), 3);
        QCOMPARE(image.width(), 12);
        QCOMPARE(image.height(), 8);
        QCOMPARE(qRed(image.toDib().pixel(5, 5)), 0); // page 0 is the one shown
        // Loading again releases the previous file first.
        QVERIFY(image.load(file));
        QCOMPARE(image.pageCount(), 3);
    }

    void undecodable_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("svg") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" "
                                           "height=\"10\"><rect width=\"10\" "
                                           "height=\"10\"/></svg>");
        QTest::newRow("junk") << QByteArray("not a picture at all");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("png cut after its signature") << QByteArray("\x89PNG\r\n\x1a\n", 8);
        QTest::newRow("huge png") << hugePngHeader();
        // A 65535 x 65535 frame in a few bytes: refused before it is allocated.
        QTest::newRow("huge gif") << QByteArray(
            "GIF89a\xFF\xFF\xFF\xFF\x80\0\0"
            "\0\0\0\xFF\xFF\xFF"
            "\x2C\0\0\0\0\xFF\xFF\xFF\xFF\0\x02\x02\x44\x01\0\x3B",
            35);
    }
    void undecodable() {
        QFETCH(QByteArray, content);
        QFile file(path("bad"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        Image image;
        QVERIFY(!image.load(path("bad")));
        QVERIFY(!image.isLoaded());
        QCOMPARE(image.pageCount(), 0);
        QVERIFY(!image.load(path("missing")));
    }

    void layout_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("text");
        QTest::addColumn<bool>("showImage");
        QTest::addColumn<QRect>("imageRect");
        QTest::addColumn<QPoint>("textTopLeft");
        // Scaled to the width: 392 = 400 - 2 * 4 margins.
        QTest::newRow("wide image") << QSize(400, 400) << QSize(1000, 500) << QSize(80, 40) << true
                                    << QRect(4, 80, 392, 196) << QPoint(160, 280);
        QTest::newRow("small image not enlarged")
            << QSize(400, 400) << QSize(16, 16) << QSize(80, 40) << true << QRect(192, 170, 16, 16)
            << QPoint(160, 190);
        // Scaled to the height left above the text: 300 - 8 - 30 - 4 = 258.
        QTest::newRow("tall image") << QSize(400, 300) << QSize(100, 1000) << QSize(50, 30) << true
                                    << QRect(187, 4, 25, 258) << QPoint(175, 266);
        QTest::newRow("no room for the image") << QSize(400, 40) << QSize(100, 100) << QSize(80, 40)
                                               << false << QRect() << QPoint(160, 0);
    }
    void layout() {
        QFETCH(QSize, client);
        QFETCH(QSize, image);
        QFETCH(QSize, text);
        QFETCH(bool, showImage);
        QFETCH(QRect, imageRect);
        QFETCH(QPoint, textTopLeft);
        const ImageLayout result =
            imageLayout(QRect(QPoint(), client), QMargins(4, 4, 4, 4), image, text);
        QVERIFY(result.visible);
        QCOMPARE(result.showImage, showImage);
        if (showImage)
            QCOMPARE(result.imageRect, imageRect);
        QCOMPARE(result.textTopLeft, textTopLeft);
    }

    void layoutOfAViewSmallerThanItsMargins() {
        QVERIFY(!imageLayout(QRect(0, 0, 8, 100), QMargins(4, 4, 4, 4), QSize(10, 10), QSize(5, 5))
                     .visible);
    }
};

QTEST_MAIN(ImageTest)
#include "image_test.moc"
