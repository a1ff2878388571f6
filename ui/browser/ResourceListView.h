// The single view of the capture document: the list of captured resources in the arrangement
// the user chose, kept in step with the document, with the list's commands and context menus.
#pragma once

#include "resources/CommandIds.h"
#include "store/DocumentEvents.h"
#include "ui/browser/ListTreeView.h"
#include "ui/browser/ResourceFilter.h"
#include "ui/browser/ResourceListAdaptor.h"
#include "ui/browser/StreamRows.h"

#include <QTimer>
#include <QWidget>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class Document;
class HttpResource;
class QLabel;
class QLineEdit;
class QMenu;
struct Url;

class ResourceListView : public QWidget, public DocumentListener {
    Q_OBJECT
public:
    // Context menus: one resource, one folder or group, several rows, one stream or variant.
    enum : int { kResourceMenu = 313, kFolderMenu = 315, kSelectionMenu = 318, kStreamMenu = 319 };

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
    // The streams found in the capture, shown in the by-type arrangement.
    StreamRows& streamRows() { return streamRows_; }
    // Brings the streams group up to date with what was captured (by type only).
    void syncStreamRows();
    // Opens 保存为视频文件 for the stream and variant (-1: the default one); tests replace it.
    std::function<void(const CapturedStream& stream, int variant)> openStreamSave;

    // Shows a menu and returns the chosen command (0 for none); tests replace it.
    std::function<int(QMenu& menu, const QPoint& globalPos)> trackPopup;

    // Puts the text on the clipboard, replacing what was there.
    void copyToClipboard(const QString& text);

    // The filter field above the list (see ResourceFilter): rows that do not match are hidden
    // in every arrangement, also those that arrive later. Setting the text applies it at once;
    // typing in the field applies it when the queued keys are in.
    void setFilterText(const QString& text);
    const ResourceFilter& filter() const { return filter_; }
    QLineEdit* filterField() const { return filterField_; }
    // Ctrl+F: the field takes the keys with its text selected.
    void focusFilter();
    // Resource rows in the list, and those the filter keeps.
    int resourceRowCount() const { return resourceRows_; }
    int shownResourceCount() const { return shownRows_; }

    QSize minimumSizeHint() const override;

signals:
    // An export command of the ribbon or a context menu (copying as curl among them): the export
    // procedures act on the view's selection, check states and, for ID_EXPORT_RESOURCE,
    // ID_EXPORT_FOLDER and ID_COPY_AS_CURL, the row.
    void exportRequested(int commandId, ListTreeItem row);
    // The document's current resource has finished loading (emitted under the capture lock,
    // possibly more than once): panes that showed it unfinished show it again.
    void currentResourceCompleted(HttpResource* resource);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Up to this many matches the filter opens what holds them.
    static constexpr int kOpenLimit = 2000;
    void createFilterBar();
    bool filterActive() const;
    // Hides and shows every row by the filter (under the capture lock).
    void runFilter();
    void revealAncestors(ListTreeItem row);
    void showFilterProblems();
    void filterCountChanged();
    void updateFilterCount();

    void setMode(ViewMode mode);
    // The column's width before the user chooses one: wide enough for what it usually shows.
    int defaultColumnWidth(int column) const;
    void readState();
    void writeState();
    void caretMoved(ListTreeItem newItem);
    void rowDeleting(ListTreeItem row, quintptr data);
    void showContextMenu(const QPoint& globalPos);
    ListTreeItem insertRow(ListTreeItem parent, ListTreeItem before, ResourceListItem* item,
                           bool hidden);
    ListTreeItem appendRow(ListTreeItem parent, ResourceListItem* item);
    ListTreeItem orderedInsert(ListTreeItem parent, ResourceListItem* item, bool hidden);
    bool precedes(ListTreeItem a, ListTreeItem b);
    std::size_t siblingIndex(ListTreeItem row);
    void rowOfUrl(const Url& url, ListTreeItem row);
    void rowsMoved();
    static std::string groupKey(ListTreeItem parent, const ResourceListItem& item);
    bool inOrder();
    std::vector<ListTreeItem>& childrenOf(ListTreeItem parent);
    ListTreeItem referrerRow(const HttpResource& resource);
    void applyModeStyles();
    void forgetIndexes();

    // Siblings of one parent in blocks, for sort columns whose values change during a capture:
    // per block the largest and smallest key of the rows whose exchange is over, and the rows
    // still being captured.
    struct KeyBlock {
        std::vector<ListTreeItem> rows;
        std::int64_t settledMax = INT64_MIN;
        std::int64_t settledMin = INT64_MAX;
        std::vector<ListTreeItem> open;
        void settle(ResourceListView& view, ListTreeItem row);
        void refill(ResourceListView& view);
    };
    struct KeyIndex {
        bool built = false;
        int kind = -1;
        bool ascending = true;
        std::vector<KeyBlock> blocks;
    };
    std::int64_t rowKey(ListTreeItem row) const;
    std::int64_t probeKey(const ResourceListItem& item) const;
    static bool rowSettled(ListTreeItem row);
    static bool rowSettled(const HttpResource* resource);
    KeyIndex& keyIndexOf(ListTreeItem parent);
    std::size_t firstAfter(KeyIndex& index, std::int64_t key);
    void keyIndexInsert(KeyIndex& index, std::size_t at, ListTreeItem row);

    ViewMode mode_ = ByOrder;
    ListTreeView* list_ = nullptr;
    ResourceListAdaptor adaptor_;
    Document* document_ = nullptr;
    // Children of each parent (none for the root) in display order, built on first use: lets
    // insertion search its position instead of walking every sibling.
    std::unordered_map<ListTreeItem, std::vector<ListTreeItem>> children_;
    // Rows by their resource's address folded for comparison (by referrer only).
    struct UrlRows {
        std::vector<ListTreeItem> rows;
        ListTreeItem first = nullptr; // the first of them from the top, as of `order`
        unsigned order = 0;
    };
    std::unordered_map<std::string, UrlRows> rowsByUrl_;
    unsigned sortOrder_ = 0; // counts the sorts that moved rows
    // Group rows by parent and exact text (or category).
    std::unordered_map<std::string, ListTreeItem> groupRows_;
    std::unordered_map<ListTreeItem, KeyIndex> keyIndexes_;
    bool quietCaret_ = false;

    QWidget* filterBar_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QLabel* filterCount_ = nullptr;
    QTimer filterTimer_;
    QTimer countTimer_;
    std::string filterText_;
    ResourceFilter filter_;
    bool building_ = false;
    StreamRows streamRows_;
    std::unordered_map<std::uint32_t, ListTreeItem> streamRowOf_;
    // Streams are worded anew at most this often while captures arrive.
    QTimer streamsTimer_;
    void noteForStreams(HttpResource* resource);
    int resourceRows_ = 0;
    int shownRows_ = 0;
};
