#include "ui/panes/DockablePane.h"

#include "store/Document.h"
#include "store/HttpResource.h"

#include <QCloseEvent>
#include <QContextMenuEvent>

DockablePane::DockablePane(const QString& title, QWidget* parent) : QDockWidget(title, parent) {
    setFocusPolicy(Qt::StrongFocus);
}

DockablePane::~DockablePane() {
    if (document_)
        document_->removeListener(this);
}

void DockablePane::setChild(QWidget* child) {
    setWidget(child);
    setFocusProxy(child);
}

void DockablePane::attach(Document* document) {
    if (document_)
        document_->removeListener(this);
    document_ = document;
    if (document_)
        document_->addListener(DocumentEvent::CurrentChanged, this);
}

void DockablePane::documentEvent(const DocumentNotice& notice) {
    if (notice.event != DocumentEvent::CurrentChanged)
        return;
    shown_ = notice.resource;
    shownLoading_ = notice.resource && (notice.resource->flags & HttpResource::Loading) &&
                    !(notice.resource->flags & HttpResource::Ended);
    paneResource(notice.resource);
}

void DockablePane::resourceCompleted(HttpResource* resource) {
    if (!followsCompletion() || !resource || resource != shown_ || !shownLoading_)
        return;
    shownLoading_ = false;
    paneResource(resource);
}

bool DockablePane::offersDockingMenuAt(const QPoint& globalPos) const {
    QWidget* inner = widget();
    if (!inner)
        return true;
    return !inner->rect().contains(inner->mapFromGlobal(globalPos));
}

void DockablePane::closeEvent(QCloseEvent* event) {
    if (isVisible() && !isFloating())
        closedSize_ = size();
    QDockWidget::closeEvent(event);
}

void DockablePane::contextMenuEvent(QContextMenuEvent* event) {
    // Accepting stops the event here, so the main window never shows its
    // docking menu for a click inside the child; on the title bar the event
    // travels on to the main window as usual.
    if (offersDockingMenuAt(event->globalPos()))
        event->ignore();
    else
        event->accept();
}

void DockablePane::focusInEvent(QFocusEvent* event) {
    QDockWidget::focusInEvent(event);
    if (QWidget* inner = widget())
        inner->setFocus(Qt::OtherFocusReason);
}
