// The single view of the capture document: the list of captured resources in the arrangement
// the user chose, kept in step with the document, with the list's commands and context menus.
#pragma once

#include "store/DocumentEvents.h"
#include "ui/browser/ListTreeView.h"
#include "ui/browser/ResourceListAdaptor.h"

#include <QWidget>

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class Document;
class HttpResource;
class QMenu;

class ResourceListView : public QWidget, public DocumentListener {
    Q_OBJECT
public:
    // Commands routed to the view (the ribbon shares the ids).
    enum : int {
        ID_RESOURCES_EXPORT = 32781,
        ID_RESOURCES_LIST_VIEW_BY_ORDER = 32792,
        ID_RESOURCES_LIST_VIEW_BY_DIRECTORY = 32793,
        ID_RESOURCES_LIST_VIEW_BY_TYPE = 32794,
        ID_RESOURCES_LIST_VIEW_BY_REFERRER = 32795,
        ID_RESOURCES_LIST_VIEW_MODE = 32796,
        ID_RESOURCES_MERGE_EXPORT = 32797,
    };
    // Context-menu commands; acted on directly, never routed.
    enum : int {
        ID_COPY_ADDRESS = 32799,
        ID_EXPORT_RESOURCE = 32809,
        ID_EXPAND_ALL = 32812,
        ID_COLLAPSE_ALL = 32814,
        ID_EXPORT_SELECTED = 32819,
        ID_MERGE_EXPORT_SELECTED = 32821,
        ID_EXPORT_FOLDER = 32824,
    };
    // Context menus: one resource, one folder or group, several rows.
    enum : int { kResourceMenu = 313, kFolderMenu = 315, kSelectionMenu = 318 };

    static constexpr const char* kWidthsSection = "Window State\\Resources List\\Column Widths";
    static constexpr const char* kStateSection = "Window State\\Resources List";
    static constexpr const char* kViewModeValue = "View Mode";

    explicit ResourceListView(QWidget* parent = nullptr);
    // Writes the column widths and the view mode when a document is attached.
    ~ResourceListView() override;

    // Reads the column widths and the view mode from the document's settings and registers for
    // events 1, 2, 3 and 5. The rows are built when event 1 arrives. The document must outlive
    // the view, or be detached (attach(nullptr)) first.
    void attach(Document* document);
    Document* document() const { return document_; }

    // Ribbon commands: true when the id is the view's (and it was carried out).
    bool onCommand(int id);
    // Enable and check rules of the view's ribbon commands; false for other ids.
    bool commandState(int id, bool* enabled, bool* checked) const;

    ViewMode mode() const { return mode_; }
    ListTreeView* list() const { return list_; }
    ListTreeCtrl* tree() const { return list_->tree; }
    ResourceListAdaptor& adaptor() { return adaptor_; }
    // The item data of a row.
    static ResourceListItem* itemOf(ListTreeItem row) {
        return row ? ResourceListItem::of(row->data) : nullptr;
    }

    // Arrangement operations on the control.
    void RebuildList();
    void InsertResource(HttpResource* resource);
    ListTreeItem FindOrInsertGroup(ListTreeItem parent, const ResourceListItem& item);
    void UpdateResourceRow(HttpResource* resource);
    void ClearList();

    // Event 1, 2, 3 and 5 handling; posted notices for resources no longer in the document are
    // ignored.
    void documentEvent(const DocumentNotice& notice) override;

    // The context menu the current selection gets (0 for none), and the command a chosen menu
    // item carries out on the selection.
    int contextMenuId() const;
    void contextCommand(int id);
    // Shows a menu and returns the chosen command (0 for none); tests replace it.
    std::function<int(QMenu& menu, const QPoint& globalPos)> trackPopup;

    // Puts the text on the clipboard, replacing what was there.
    void copyToClipboard(const QString& text);

signals:
    // An export command of the ribbon or a context menu: the export procedures act on the
    // view's selection, check states and, for ID_EXPORT_RESOURCE and ID_EXPORT_FOLDER, the row.
    void exportRequested(int commandId, ListTreeItem row);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setMode(ViewMode mode);
    void readState();
    void writeState();
    void caretMoved(ListTreeItem newItem);
    void rowDeleting(ListTreeItem row, quintptr data);
    void showContextMenu(const QPoint& globalPos);
    ListTreeItem insertRow(ListTreeItem parent, ListTreeItem before, ResourceListItem* item);
    ListTreeItem appendRow(ListTreeItem parent, ResourceListItem* item);
    ListTreeItem orderedInsert(ListTreeItem parent, ResourceListItem* item);
    bool precedes(ListTreeItem a, ListTreeItem b) const;
    static std::string groupKey(ListTreeItem parent, const ResourceListItem& item);
    bool inOrder();
    std::vector<ListTreeItem>& childrenOf(ListTreeItem parent);
    ListTreeItem referrerRow(const HttpResource& resource);
    void applyModeStyles();
    void forgetIndexes();

    ViewMode mode_ = ByOrder;
    ListTreeView* list_ = nullptr;
    ResourceListAdaptor adaptor_;
    Document* document_ = nullptr;
    // Children of each parent (none for the root) in display order, built on first use: lets
    // insertion search its position instead of walking every sibling.
    std::unordered_map<ListTreeItem, std::vector<ListTreeItem>> children_;
    // Rows by their resource's address folded for comparison (by referrer only).
    std::unordered_map<std::string, std::vector<ListTreeItem>> rowsByUrl_;
    // Group rows by parent and exact text (or category).
    std::unordered_map<std::string, ListTreeItem> groupRows_;
    bool quietCaret_ = false;
};
