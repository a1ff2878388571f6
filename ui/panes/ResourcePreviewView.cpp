#include "ui/panes/ResourcePreviewView.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/panes/Charset.h"
#include "ui/panes/ImageView.h"
#include "ui/panes/PaneText.h"
#include "ui/panes/TextView.h"

#include <QDir>
#include <QPainter>

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

ResourcePreviewView::ResourcePreviewView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

ResourcePreviewView::~ResourcePreviewView() {
    viewerWindow.reset();
    deletePreviewFile();
    messageText.clear();
}

void ResourcePreviewView::documentEvent(const DocumentNotice& notice) {
    if (notice.event == DocumentEvent::CurrentChanged)
        showResource(notice.resource);
}

void ResourcePreviewView::showResource(HttpResource* resource) {
    viewerWindow.reset();
    deletePreviewFile();
    messageText.clear();
    if (resource != nullptr)
        preview(*resource);
    if (!viewerWindow)
        update();
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
    const QRect area = rect();
    if (main == u"image") {
        auto view = std::make_unique<ImageView>(this);
        view->setGeometry(area);
        if (view->image().load(previewPath)) {
            view->show();
            view->update();
            viewerWindow = std::move(view);
            return true;
        }
    } else if (type == u"application/x-shockwave-flash") {
        // No Flash player on this platform: the movie takes the failure path.
    } else if (TextView* view = TextView::create(area, this)) {
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

void ResourcePreviewView::paintEvent(QPaintEvent*) {
    if (viewerWindow)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    if (messageText.isEmpty())
        return;
    drawCentredMarkup(painter, rect(),
                      QString::asprintf(loadString(142), messageText.toUtf8().constData()));
}

void ResourcePreviewView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (viewerWindow) {
        viewerWindow->setGeometry(rect());
        viewerWindow->update();
    }
}

void ResourcePreviewView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (viewerWindow)
        viewerWindow->setFocus();
}
