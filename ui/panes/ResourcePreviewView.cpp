#include "ui/panes/ResourcePreviewView.h"

#include "engine/FileStream.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/panes/Charset.h"
#include "ui/panes/ImageView.h"
#include "ui/panes/PaneText.h"
#include "ui/panes/PreviewFile.h"
#include "ui/panes/TextView.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cstdlib>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

bool isPreviewable(const QString& type, const QString& main, const QString& sub) {
    return main == u"image" || main == u"text" || sub == u"xml" || sub == u"json" ||
           sub == u"javascript" || sub == u"x-javascript" || sub == u"x-mpegURL" ||
           type == u"application/x-shockwave-flash";
}

// Bodies larger than these are not previewed whole: the text view shows the
// first 2 MiB only, and no picture a page carries comes near the second.
constexpr std::int64_t kTextFileLimit = std::int64_t(kTextViewLimit);
constexpr std::int64_t kImageFileLimit = std::int64_t(256) << 20;

// Writes the first `limit` bytes of a body and then refuses more, so that a
// small compressed body unpacking to gigabytes stops at what the preview
// can use instead of filling the disk while the window hangs.
class CappedOutput : public OutputStream {
public:
    CappedOutput(OutputStream& sink, std::int64_t limit) : sink(sink), limit(limit) {}

    bool write(const void* data, std::int32_t count) override {
        const auto room = std::int32_t(std::min<std::int64_t>(limit - written, count));
        if (room > 0 && !sink.write(data, room))
            return false;
        written += room;
        if (room == count)
            return true;
        full = true;
        return false;
    }
    // A preview file is thrown away after use: no trip to the disk for it.
    bool flush() override { return true; }

    bool full = false;

private:
    OutputStream& sink;
    const std::int64_t limit;
    std::int64_t written = 0;
};

} // namespace

// Paints the message while there is no viewer, keeps the viewer over its
// whole area and hands it the focus.
class ResourcePreviewView::Area : public QWidget {
public:
    explicit Area(ResourcePreviewView* pane) : QWidget(pane), pane(pane) {
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (pane->viewerWindow)
            return;
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        if (pane->messageText.isEmpty())
            return;
        drawCentredMarkup(
            painter, rect(),
            QString::asprintf(loadString(142), pane->messageText.toUtf8().constData()));
    }

    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        pane->layoutArea();
    }

    void focusInEvent(QFocusEvent* event) override {
        QWidget::focusInEvent(event);
        if (QWidget* viewer = pane->viewerWindow.get())
            viewer->setFocus(event->reason());
    }

private:
    ResourcePreviewView* pane;
};

ResourcePreviewView::ResourcePreviewView(QWidget* parent) : DockablePane(text(126), parent) {
    setObjectName(QStringLiteral("ResourcePreviewView"));
    setChild(new Area(this));
    noteLabel = new QLabel(area());
    noteLabel->setObjectName(QStringLiteral("PreviewNote"));
    noteLabel->setWordWrap(true);
    noteLabel->setContentsMargins(6, 3, 6, 3);
    noteLabel->setAutoFillBackground(true);
    // An information bar: pale yellow, as desktops show a notice above a document.
    QPalette palette = noteLabel->palette();
    palette.setColor(QPalette::Window, QColor(0xff, 0xf4, 0xce));
    palette.setColor(QPalette::WindowText, QColor(0x5c, 0x4a, 0x12));
    noteLabel->setPalette(palette);
    noteLabel->hide();
    // What an earlier run could not delete (it was killed) goes now.
    PreviewFile::removeStale();
}

QString ResourcePreviewView::note() const {
    return noteLabel->isHidden() ? QString() : noteLabel->text();
}

void ResourcePreviewView::layoutArea() {
    QRect rest = area()->rect();
    if (!noteLabel->isHidden()) {
        const int height = noteLabel->heightForWidth(rest.width());
        noteLabel->setGeometry(rest.left(), rest.top(), rest.width(),
                               height > 0 ? height : noteLabel->sizeHint().height());
        rest.setTop(noteLabel->geometry().bottom() + 1);
    }
    if (QWidget* viewer = viewerWindow.get()) {
        viewer->setGeometry(rest);
        viewer->update();
    }
}

ResourcePreviewView::~ResourcePreviewView() {
    viewerWindow.reset();
    deletePreviewFile();
    messageText.clear();
}

void ResourcePreviewView::paneResource(HttpResource* resource) {
    showResource(resource);
}

void ResourcePreviewView::showResource(HttpResource* resource) {
    // A user reading the old preview with the keys goes on with the new one.
    QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = focus != nullptr && (focus == area() || area()->isAncestorOf(focus));
    viewerWindow.reset();
    deletePreviewFile();
    messageText.clear();
    noteLabel->hide();
    noteLabel->clear();
    if (resource != nullptr)
        preview(*resource);
    // Painted, not a child window: named for whoever describes the screen.
    area()->setProperty("message", messageText);
    if (!viewerWindow)
        area()->update();
    if (hadFocus)
        (viewerWindow ? viewerWindow.get() : area())->setFocus(Qt::OtherFocusReason);
}

bool ResourcePreviewView::createPreviewFile() {
    if (!previewFile_.create())
        return false;
    previewPath = QString::fromStdString(previewFile_.path());
    return true;
}

void ResourcePreviewView::deletePreviewFile() {
    previewFile_.remove();
    previewPath.clear();
}

bool ResourcePreviewView::writePreviewFile(HttpResource& resource, std::int64_t limit,
                                           bool& tooLarge) {
    FileStream file;
    if (!file.open(previewPath.toStdString(), FileStream::OpenWrite | FileStream::OpenCreate))
        return false;
    CappedOutput capped(file, limit);
    if (resource.copyBody(capped, true))
        return true;
    tooLarge = capped.full;
    return tooLarge;
}

bool ResourcePreviewView::preview(HttpResource& resource) {
    const QString type = QString::fromStdString(resource.contentType);
    QString main = type;
    QString sub;
    const qsizetype slash = type.indexOf(u'/');
    if (!type.isEmpty() && slash >= 0) {
        main = type.left(slash);
        sub = type.mid(slash + 1);
    }
    if (!isPreviewable(type, main, sub)) {
        messageText = text(138);
        return false;
    }
    if (!createPreviewFile()) {
        messageText = text(141);
        return false;
    }
    bool tooLarge = false;
    if (!writePreviewFile(resource, main == u"image" ? kImageFileLimit : kTextFileLimit,
                          tooLarge)) {
        const std::uint32_t error = lastError();
        if (error == kErrorResourceNotReady)
            messageText = text(140);
        else if (error == kErrorNoResponseData)
            messageText = text(139);
        else
            messageText = text(141);
        return false;
    }
    if (tooLarge && main == u"image") {
        // Only part of the picture: better no preview than a broken one.
        messageText = text(138);
        return false;
    }
    QWidget* parent = area();
    const QRect rect = parent->rect();
    if (main == u"image") {
        auto view = std::make_unique<ImageView>(parent);
        view->setGeometry(rect);
        if (view->image().load(previewPath)) {
            view->show();
            view->update();
            viewerWindow = std::move(view);
            return true;
        }
    } else if (type == u"application/x-shockwave-flash") {
        // No Flash player on this platform: the movie takes the failure path.
    } else if (TextView* view = TextView::create(rect, parent)) {
        viewerWindow.reset(view);
        view->setLanguage(sub == u"json" || sub == u"x-javascript" ? QStringLiteral("javascript")
                                                                   : sub);
        view->SendScintilla(QsciScintillaBase::SCI_SETWRAPMODE, QsciScintillaBase::SC_WRAP_WORD);
        int codePage = -1;
        HttpResponseHeader head;
        if (resource.readResponseHeader(head)) {
            const std::int32_t field = head.find("Content-Type", 0);
            if (field >= 0) {
                if (auto charset = charsetFromContentType(head.fields[std::size_t(field)].value))
                    codePage = codePageForCharset(*charset);
            }
        }
        view->loadFile(previewPath, codePage);
        view->SendScintilla(QsciScintillaBase::SCI_SETREADONLY, 1);
        if (tooLarge) {
            // Otherwise a long script just stops mid-word, as if that were all of it.
            noteLabel->setText(text(IDS_PREVIEW_TEXT_CUT));
            noteLabel->show();
            noteLabel->raise();
            layoutArea();
        }
        return true;
    }
    messageText = text(138);
    return false;
}
