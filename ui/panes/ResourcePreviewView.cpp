#include "ui/panes/ResourcePreviewView.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/panes/Charset.h"
#include "ui/panes/ImageView.h"
#include "ui/panes/PaneText.h"
#include "ui/panes/TextView.h"

#include <QApplication>
#include <QDir>
#include <QFocusEvent>
#include <QPainter>
#include <QResizeEvent>

#include <cstdlib>
#include <unistd.h>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

bool isPreviewable(const QString& type, const QString& main, const QString& sub) {
    return main == u"image" || main == u"text" || sub == u"xml" || sub == u"json" ||
           sub == u"javascript" || sub == u"x-javascript" || sub == u"x-mpegURL" ||
           type == u"application/x-shockwave-flash";
}

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
        if (QWidget* viewer = pane->viewerWindow.get()) {
            viewer->setGeometry(rect());
            viewer->update();
        }
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
    if (resource != nullptr)
        preview(*resource);
    if (!viewerWindow)
        area()->update();
    if (hadFocus)
        (viewerWindow ? viewerWindow.get() : area())->setFocus(Qt::OtherFocusReason);
}

bool ResourcePreviewView::createPreviewFile() {
    // The body may hold cookies or passwords: the file is the user's alone.
    QByteArray pattern = QDir::tempPath().toUtf8() + "/~XXXXXX.tmp";
    const int fd = mkstemps(pattern.data(), 4);
    if (fd < 0)
        return false;
    ::close(fd);
    previewPath = QString::fromUtf8(pattern);
    return true;
}

void ResourcePreviewView::deletePreviewFile() {
    if (previewPath.isEmpty())
        return;
    ::unlink(previewPath.toUtf8().constData());
    previewPath.clear();
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
    if (!resource.exportBody(previewPath.toStdString(), true)) {
        const std::uint32_t error = lastError();
        if (error == kErrorResourceNotReady)
            messageText = text(140);
        else if (error == kErrorNoResponseData)
            messageText = text(139);
        else
            messageText = text(141);
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
        return true;
    }
    messageText = text(138);
    return false;
}
