// The base of the six detail panes: a dock widget holding one child that
// fills it, takes the focus for it, and follows the document's current
// resource (event 4).
#pragma once

#include "store/DocumentEvents.h"

#include <QDockWidget>

class Document;

class DockablePane : public QDockWidget, public DocumentListener {
    Q_OBJECT

public:
    DockablePane(const QString& title, QWidget* parent = nullptr);
    ~DockablePane() override;

    // Puts `child` in the pane (the pane owns it) and hands it the focus.
    void setChild(QWidget* child);
    QWidget* child() const { return widget(); }

    // Registers for event 4; the pane unregisters itself when destroyed.
    // A pane works without a document too (tests feed it directly).
    void attach(Document* document);

    // Event 4 reaches paneResource with the new current resource (or null),
    // on the user-interface thread, while the sender holds the capture lock.
    void documentEvent(const DocumentNotice& notice) override;

    // The docking menu is only offered for points outside the child: inside
    // it the child's own context menu is the one that counts.
    bool offersDockingMenuAt(const QPoint& globalPos) const;

    // The size the pane had when the user last closed it (invalid before).
    QSize closedSize() const { return closedSize_; }

    // The current resource has finished loading (the list sees it first).
    // A pane that showed it unfinished, and whose content depends on the
    // whole exchange, shows it again. Under the capture lock.
    void resourceCompleted(HttpResource* resource);

protected:
    virtual void paneResource(HttpResource* resource) = 0;
    // True for panes that show a resource again once it has finished loading.
    virtual bool followsCompletion() const { return false; }
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    Document* document_ = nullptr;
    QSize closedSize_;
    // The resource last shown (compared, never followed) and whether it was
    // still loading then.
    const HttpResource* shown_ = nullptr;
    bool shownLoading_ = false;
};
