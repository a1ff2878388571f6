// The preview pane: which viewer a response gets, the messages when there is
// none, and the life of the temporary file it works from.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "tests/ui/FixtureStep.h"
#include "ui/panes/Charset.h"
#include "ui/panes/Image.h"
#include "ui/panes/ImageView.h"
#include "ui/panes/PreviewFile.h"
#include "ui/panes/ResourcePreviewView.h"
#include "ui/panes/TextView.h"

#include <FreeImage.h>

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

// A failed step of building a fixture names itself and the error.
namespace {

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray gzip(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    FreeImageLibrary library;
    QTemporaryDir cacheHome; // the user's cache folder during the test
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

    QString previewFolder() const { return cacheHome.path() + "/Merovex/Tidewell/Preview"; }

    // The pane shown 420 x 400 with this picture; null when no picture view came of it.
    ImageView* showPicture(ResourcePreviewView& pane, const QImage& picture) {
        pane.resize(420, 400);
        pane.show();
        if (!QTest::qWaitForWindowExposed(&pane))
            return nullptr;
        pane.showResource(capture("image/png", pngBytes(picture)));
        return qobject_cast<ImageView*>(pane.viewer());
    }

    QStringList tempFiles() const {
        return QDir(previewFolder()).entryList(QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());
        folder.cacheFolder = cacheDir.path().toStdString() + "/";
    }

    void imagePreview() {
        QImage picture(1000, 500, QImage::Format_RGB32);
        picture.fill(QColor(30, 120, 200));
        ResourcePreviewView pane;
        ImageView* view = showPicture(pane, picture);
        QVERIFY(view);
        QVERIFY(view->image().isLoaded());
        QCOMPARE(view->parentWidget(), pane.area());
        QCOMPARE(view->geometry(), pane.area()->rect());
        QVERIFY(pane.message().isEmpty());

        // The body is copied into a file of the user's alone, named "~...",
        // in a folder of the user's alone.
        QCOMPARE(tempFiles().size(), 1);
        QVERIFY(QFileInfo(pane.previewFile()).fileName().startsWith(u'~'));
        QCOMPARE(QFileInfo(pane.previewFile()).dir(), QDir(previewFolder()));
        struct stat st {};
        QCOMPARE(::stat(pane.previewFile().toUtf8().constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(::stat(previewFolder().toUtf8().constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(QFileInfo(pane.previewFile()).size(), pngBytes(picture).size());

        // A pane 400 wide inside shows it 392 x 196 from x 4: scaled down to
        // the width between the margins, centred above the information text.
        pane.area()->resize(400, 300);
        QCOMPARE(view->geometry(), pane.area()->rect());
        const QImage shot = pane.area()->grab().toImage();
        const QColor blue(30, 120, 200);
        const QColor base = pane.palette().color(QPalette::Base);
        int top = -1;
        int rows = 0;
        for (int y = 0; y < shot.height(); ++y) {
            if (QColor(shot.pixel(200, y)) == blue) {
                top = top < 0 ? y : top;
                ++rows;
            }
        }
        QCOMPARE(rows, 196);
        const int middle = top + 98;
        QCOMPARE(QColor(shot.pixel(4, middle)), blue);
        QCOMPARE(QColor(shot.pixel(395, middle)), blue);
        QCOMPARE(QColor(shot.pixel(3, middle)), base);
        QCOMPARE(QColor(shot.pixel(396, middle)), base);
        // Centred in the height left above the text.
        QVERIFY(top > 4 && top < 300 - 196 - 4);

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
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.area()->resize(200, 200);
        pane.showResource(capture("image/png", pngBytes(picture)));
        QVERIFY(qobject_cast<ImageView*>(pane.viewer()));
        const QImage shot = pane.area()->grab().toImage();
        const QColor base = pane.palette().color(QPalette::Base);
        for (QPoint p : {QPoint(70, 60), QPoint(75, 65), QPoint(120, 100)}) {
            const QColor c = shot.pixelColor(p);
            QVERIFY2(qAbs(c.red() - (255 * 128 + base.red() * 127) / 255) <= 2,
                     qPrintable(c.name()));
            QVERIFY2(qAbs(c.green() - base.green() * 127 / 255) <= 2, qPrintable(c.name()));
        }
    }

    // The information under a picture counts the pages of GIF and TIFF files.
    void pageCountInTheInformation_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("pages");
        QTest::newRow("gif") << int(FIF_GIF) << QByteArray("image/gif") << 3;
        QTest::newRow("tiff") << int(FIF_TIFF) << QByteArray("image/tiff") << 2;
    }
    void pageCountInTheInformation() {
        QFETCH(int, format);
        QFETCH(QByteArray, contentType);
        QFETCH(int, pages);
        const QString path = cacheDir.filePath(QStringLiteral("pages"));
        FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(
            FREE_IMAGE_FORMAT(format), path.toUtf8().constData(), TRUE, FALSE, TRUE, 0);
        QVERIFY(multi);
        for (int i = 0; i < pages; ++i) {
            FIBITMAP* page = FreeImage_Allocate(20, 10, format == FIF_GIF ? 8 : 24);
            FreeImage_AppendPage(multi, page);
            FreeImage_Unload(page);
        }
        FreeImage_CloseMultiBitmap(multi, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));

        ResourcePreviewView pane;
        pane.showResource(capture(contentType, file.readAll()));
        auto* view = qobject_cast<ImageView*>(pane.viewer());
        QVERIFY(view);
        QCOMPARE(view->infoText(), QString::asprintf(loadString(143), 20, 10, pages));
        QVERIFY(view->infoText().endsWith(QString::number(pages)));
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

        // Made before the pane had its size: it follows the pane's area.
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QVERIFY(pane.area()->width() > 200);
        QCOMPARE(view->geometry(), pane.area()->rect());
    }

    // The preview works from the decoded body; one that unpacks to more than
    // the text view shows is cut there instead of being written out whole.
    void compressedBodies_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("kept");
        QTest::newRow("small") << 5000 << 5000;
        QTest::newRow("at the limit") << int(kTextViewLimit) << int(kTextViewLimit);
        QTest::newRow("unpacking to 16 MiB") << (16 << 20) << int(kTextViewLimit);
    }
    void compressedBodies() {
        QFETCH(int, size);
        QFETCH(int, kept);
        // Lines of a hundred, as text has them (one line of megabytes takes the view long to
        // wrap once shown).
        QByteArray page(size, 'a');
        for (int i = 99; i < size; i += 100)
            page[i] = '\n';
        page[size - 1] = 'z';
        ResourcePreviewView pane;
        pane.showResource(capture("text/plain", gzip(page),
                                  "Content-Type: text/plain\r\nContent-Encoding: gzip\r\n"));
        auto* view = qobject_cast<TextView*>(pane.viewer());
        QVERIFY(view);
        QCOMPARE(QFileInfo(pane.previewFile()).size(), qint64(kept));
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH), long(kept));
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETCHARAT, long(kept - 1)),
                 long(kept == size ? 'z' : 'a'));
        // A text shown in part says so above it.
        QCOMPARE(pane.note(), kept == size ? QString() : text(IDS_PREVIEW_TEXT_CUT));
        pane.resize(400, 300);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const int noteHeight = kept == size ? 0 : pane.area()->findChild<QLabel*>()->height();
        QCOMPARE(view->geometry().top(), noteHeight);
        QCOMPARE(view->geometry().bottom(), pane.area()->rect().bottom());
    }

    // Chosen while loading, shown again once complete; a finished resource and another one
    // are left as they are.
    void showsTheResourceAgainOnceComplete() {
        ResourcePreviewView pane;
        HttpResource* finished = capture("text/plain", "done");
        HttpResource* loading = capture("text/plain", "hel", QByteArray(), false);
        pane.documentEvent({DocumentEvent::CurrentChanged, loading->id, loading});
        QCOMPARE(pane.message(), text(IDS_PREVIEW_NOT_READY));
        pane.resourceCompleted(finished);
        QCOMPARE(pane.message(), text(IDS_PREVIEW_NOT_READY));
        QVERIFY(loading->finish());
        pane.resourceCompleted(loading);
        auto* view = qobject_cast<TextView*>(pane.viewer());
        QVERIFY(view);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH), 3L);
        pane.resourceCompleted(loading);
        QCOMPARE(pane.viewer(), view);

        pane.documentEvent({DocumentEvent::CurrentChanged, finished->id, finished});
        view = qobject_cast<TextView*>(pane.viewer());
        pane.resourceCompleted(finished);
        QCOMPARE(pane.viewer(), view);
    }

    // A picture is converted once and scaled once per size: a repaint only copies it.
    void pictureConvertedOncePerSize() {
        QImage picture(1200, 800, QImage::Format_RGB32);
        picture.fill(QColor(200, 60, 30));
        ResourcePreviewView pane;
        ImageView* view = showPicture(pane, picture);
        QVERIFY(view);
        for (int i = 0; i < 3; ++i)
            view->grab();
        QCOMPARE(view->conversions(), 1);
        QCOMPARE(view->scalings(), 1);
        pane.area()->resize(300, 300);
        view->grab();
        view->grab();
        QCOMPARE(view->conversions(), 1);
        QCOMPARE(view->scalings(), 2);
        QVERIFY(view->image().load(pane.previewFile()));
        view->grab();
        QCOMPARE(view->conversions(), 2);
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
        // Drawn in grey, centred in the pane.
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        pane.area()->resize(300, 120);
        const QImage shot = pane.area()->grab().toImage();
        const QRgb base = pane.palette().color(QPalette::Base).rgb();
        QRect ink;
        bool grey = true;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                if (pixel == base)
                    continue;
                ink |= QRect(x, y, 1, 1);
                grey = grey && qAbs(qRed(pixel) - qGreen(pixel)) <= 8 &&
                       qAbs(qGreen(pixel) - qBlue(pixel)) <= 8;
            }
        }
        QVERIFY(!ink.isEmpty());
        QVERIFY(grey);
        QVERIFY2(qAbs(ink.center().x() - 150) <= 3 && qAbs(ink.center().y() - 60) <= 3,
                 qPrintable(QStringLiteral("%1,%2").arg(ink.center().x()).arg(ink.center().y())));
    }

    // Focusing the pane (as the main window does when the pane is chosen)
    // lands in the viewer, and a new preview keeps the focus it had.
    void focusGoesToTheViewer() {
        QMainWindow window;
        auto* list = new QLineEdit(&window);
        window.setCentralWidget(list);
        auto* pane = new ResourcePreviewView(&window);
        window.addDockWidget(Qt::RightDockWidgetArea, pane);
        QCOMPARE(pane->objectName(), QStringLiteral("ResourcePreviewView"));
        QCOMPARE(pane->widget(), pane->area());
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        list->setFocus();

        pane->showResource(capture("text/plain", "line\n"));
        QVERIFY(pane->viewer());
        QCOMPARE(QApplication::focusWidget(), list);
        pane->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), pane->viewer());

        pane->showResource(capture("application/json", "{}"));
        QVERIFY(pane->viewer());
        QCOMPARE(QApplication::focusWidget(), pane->viewer());
        pane->showResource(capture("application/octet-stream", "x"));
        QCOMPARE(QApplication::focusWidget(), pane->area());
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

    // A preview file left by a process that was killed goes at the next
    // start; one that a living pane (of any process) holds stays.
    void previewFilesOfDeadProcessesAreSwept() {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        HttpResource* image = capture("image/png", pngBytes(picture));
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Made the way a pane makes it, then the process dies with it.
            PreviewFile file;
            _exit(file.create() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(tempFiles().size(), 1); // it could not remove it
        ResourcePreviewView living;
        living.showResource(image);
        QVERIFY(!living.previewFile().isEmpty());
        ResourcePreviewView next; // the next start
        QCOMPARE(tempFiles(), QStringList{QFileInfo(living.previewFile()).fileName()});
        living.showResource(nullptr);
    }

    void init() { QVERIFY(tempFiles().isEmpty()); }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
