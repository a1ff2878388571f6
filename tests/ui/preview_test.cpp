// The preview pane: which viewer a response gets, the messages when there is
// none, and the life of the temporary file it works from.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "ui/panes/Image.h"
#include "ui/panes/ImageView.h"
#include "ui/panes/ResourcePreviewView.h"
#include "ui/panes/TextView.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// A failed step of building a fixture names itself and the error.
#define FIXTURE_STEP(step)                                                                         \
    if (!(step))                                                                                   \
    qFatal("%s failed: %s", #step, errorText(lastError()).c_str())

namespace {

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    FreeImageLibrary library;
    QTemporaryDir tempDir; // the user's temporary folder during the test
    QTemporaryDir cacheDir;
    CacheFolder folder;
    std::vector<std::unique_ptr<HttpResource>> resources;

    // A captured exchange with this response head and body.
    HttpResource* capture(const QByteArray& contentType, const QByteArray& body,
                          const QByteArray& headFields = QByteArray(), bool finish = true) {
        auto resource = std::make_unique<HttpResource>(&folder);
        const std::string requestHead = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        HttpRequestHeader request;
        FIXTURE_STEP(
            parseRequestHeader(requestHead.data(), std::int32_t(requestHead.size()), request));
        std::string head = "HTTP/1.1 200 OK\r\n";
        if (!headFields.isEmpty())
            head += headFields.toStdString();
        else if (!contentType.isEmpty())
            head += "Content-Type: " + contentType.toStdString() + "\r\n";
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        HttpResponseHeader response;
        FIXTURE_STEP(parseResponseHeader(head.data(), std::int32_t(head.size()), response));
        FIXTURE_STEP(resource->begin(folder.takeSequenceNumber()));
        FIXTURE_STEP(resource->writeRequestHeader(request));
        FIXTURE_STEP(resource->writeResponseHeader(response));
        if (!body.isEmpty())
            FIXTURE_STEP(resource->writeData(body.constData(), std::uint32_t(body.size())));
        resource->receivedSize = body.size();
        const qsizetype semicolon = contentType.indexOf(';');
        resource->contentType =
            (semicolon < 0 ? contentType : contentType.left(semicolon)).toStdString();
        if (finish)
            FIXTURE_STEP(resource->finish());
        resources.push_back(std::move(resource));
        return resources.back().get();
    }

    QStringList tempFiles() const {
        return QDir(tempDir.path()).entryList(QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase() {
        qputenv("TMPDIR", tempDir.path().toUtf8());
        folder.cacheFolder = cacheDir.path().toStdString() + "/";
    }

    void imagePreview() {
        QImage picture(1000, 500, QImage::Format_RGB32);
        picture.fill(QColor(30, 120, 200));
        ResourcePreviewView pane;
        pane.resize(400, 400);
        pane.showResource(capture("image/png", pngBytes(picture)));
        auto* view = qobject_cast<ImageView*>(pane.viewer());
        QVERIFY(view);
        QVERIFY(view->image().isLoaded());
        QCOMPARE(view->geometry(), pane.rect());
        QVERIFY(pane.message().isEmpty());

        // The body is copied into a file of the user's alone, named "~...".
        QCOMPARE(tempFiles().size(), 1);
        QVERIFY(QFileInfo(pane.previewFile()).fileName().startsWith(u'~'));
        QCOMPARE(QFileInfo(pane.previewFile()).dir(), QDir(tempDir.path()));
        struct stat st {};
        QCOMPARE(::stat(pane.previewFile().toUtf8().constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(QFileInfo(pane.previewFile()).size(), pngBytes(picture).size());

        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const QImage shot = pane.grab().toImage();
        shot.save(QStringLiteral("/tmp/tidewell_preview_image.png"));
        // Drawn 392 x 196 from x 4: the scaled picture spans the width.
        QCOMPARE(QColor(shot.pixel(6, 200)), QColor(30, 120, 200));
        QCOMPARE(QColor(shot.pixel(393, 200)), QColor(30, 120, 200));
        QCOMPARE(QColor(shot.pixel(2, 200)), pane.palette().color(QPalette::Base));

        // Switching to nothing removes the viewer and the file.
        const QString file = pane.previewFile();
        pane.showResource(nullptr);
        QVERIFY(!pane.viewer());
        QVERIFY(pane.previewFile().isEmpty());
        QVERIFY(!QFile::exists(file));
        QVERIFY(pane.message().isEmpty());
    }

    // Blended over the window colour, with no checkerboard behind it.
    void transparentImageIsBlended() {
        QImage picture(64, 64, QImage::Format_ARGB32);
        picture.fill(qRgba(255, 0, 0, 128));
        ResourcePreviewView pane;
        pane.resize(200, 200);
        pane.showResource(capture("image/png", pngBytes(picture)));
        QVERIFY(qobject_cast<ImageView*>(pane.viewer()));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const QImage shot = pane.grab().toImage();
        shot.save(QStringLiteral("/tmp/tidewell_preview_transparent.png"));
        const QColor base = pane.palette().color(QPalette::Base);
        for (QPoint p : {QPoint(70, 60), QPoint(75, 65), QPoint(120, 100)}) {
            const QColor c = shot.pixelColor(p);
            QVERIFY2(qAbs(c.red() - (255 * 128 + base.red() * 127) / 255) <= 2,
                     qPrintable(c.name()));
            QVERIFY2(qAbs(c.green() - base.green() * 127 / 255) <= 2, qPrintable(c.name()));
        }
    }

    void textPreviews_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("lexer");
        QTest::addColumn<QString>("shown");
        const int cpp = QsciScintillaBase::SCLEX_CPP;
        QTest::newRow("application/json")
            << QByteArray("application/json") << QByteArray("{\"a\": 1}") << cpp << "{\"a\": 1}";
        QTest::newRow("application/x-javascript")
            << QByteArray("application/x-javascript") << QByteArray("var a;") << cpp << "var a;";
        QTest::newRow("text/javascript")
            << QByteArray("text/javascript") << QByteArray("let b;") << cpp << "let b;";
        QTest::newRow("html in gbk")
            << QByteArray("text/html; charset=gbk") << QByteArray("<p>\xC4\xE3\xBA\xC3</p>")
            << int(QsciScintillaBase::SCLEX_HTML) << QString::fromUtf8("<p>你好</p>");
        QTest::newRow("charset not in the table falls back to the mark")
            << QByteArray("text/plain; charset=utf-16") << QByteArray("\xFF\xFEo\0k\0", 6)
            << int(QsciScintillaBase::SCLEX_CONTAINER) << "ok";
        QTest::newRow("playlist without a lexer")
            << QByteArray("application/x-mpegURL") << QByteArray("#EXTM3U\n")
            << int(QsciScintillaBase::SCLEX_CONTAINER) << "#EXTM3U\n";
        QTest::newRow("xml") << QByteArray("application/xml") << QByteArray("<a/>")
                             << int(QsciScintillaBase::SCLEX_XML) << "<a/>";
    }
    void textPreviews() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, lexer);
        QFETCH(QString, shown);
        ResourcePreviewView pane;
        pane.resize(300, 200);
        pane.showResource(capture(contentType, body));
        auto* view = qobject_cast<TextView*>(pane.viewer());
        QVERIFY(view);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETLEXER), long(lexer));
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETREADONLY), 1L);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETWRAPMODE),
                 long(QsciScintillaBase::SC_WRAP_WORD));
        const long length = view->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH);
        QByteArray text(length + 1, '\0');
        view->SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1),
                            static_cast<void*>(text.data()));
        text.resize(length);
        QCOMPARE(QString::fromUtf8(text), shown);
    }

    void messages_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("finish");
        QTest::addColumn<unsigned>("message");
        QTest::addColumn<bool>("fileCreated");
        QTest::newRow("octet-stream")
            << QByteArray("application/octet-stream") << QByteArray("x") << true << 138u << false;
        QTest::newRow("apple playlist") << QByteArray("application/vnd.apple.mpegurl")
                                        << QByteArray("x") << true << 138u << false;
        QTest::newRow("no content type")
            << QByteArray() << QByteArray("x") << true << 138u << false;
        QTest::newRow("svg is not decodable")
            << QByteArray("image/svg+xml")
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>") << true << 138u << true;
        QTest::newRow("flash") << QByteArray("application/x-shockwave-flash") << QByteArray("FWS")
                               << true << 138u << true;
        QTest::newRow("still loading")
            << QByteArray("text/html") << QByteArray("<p>") << false << 140u << true;
        QTest::newRow("no body") << QByteArray("text/html") << QByteArray() << true << 139u << true;
    }
    void messages() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, finish);
        QFETCH(unsigned, message);
        QFETCH(bool, fileCreated);
        ResourcePreviewView pane;
        pane.resize(300, 120);
        pane.showResource(capture(contentType, body, QByteArray(), finish));
        QVERIFY(!pane.viewer());
        QCOMPARE(pane.message(), text(message));
        // The file stays until the next resource replaces the preview.
        QCOMPARE(tempFiles().size(), fileCreated ? 1 : 0);
        QCOMPARE(pane.previewFile().isEmpty(), !fileCreated);
        if (message == 140) {
            pane.show();
            QVERIFY(QTest::qWaitForWindowExposed(&pane));
            pane.grab().save(QStringLiteral("/tmp/tidewell_preview_message.png"));
        }
    }

    // Only one file at a time, and none once the pane is gone.
    void previewFileLifetime() {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::green);
        HttpResource* image = capture("image/png", pngBytes(picture));
        HttpResource* page = capture("text/plain", "hello");
        {
            ResourcePreviewView pane;
            pane.showResource(image);
            const QString first = pane.previewFile();
            pane.documentEvent({DocumentEvent::CurrentChanged, page->id, page});
            QVERIFY(qobject_cast<TextView*>(pane.viewer()));
            QVERIFY(!QFile::exists(first));
            QCOMPARE(tempFiles(), QStringList{QFileInfo(pane.previewFile()).fileName()});
        }
        QVERIFY(tempFiles().isEmpty());
    }

    void init() { QVERIFY(tempFiles().isEmpty()); }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
