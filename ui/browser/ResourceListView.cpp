#include "ui/browser/ResourceListView.h"

#include "engine/Text.h"
#include "engine/Url.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "ui/browser/ListTreeImages.h"
#include "ui/browser/StreamSaveDialog.h"
#include "ui/panes/TimingText.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>

#include <algorithm>
#include <climits>

namespace {

std::uintptr_t dataOf(const ResourceListItem* item) {
    return reinterpret_cast<std::uintptr_t>(item);
}

ListTreeItem rowOf(const HttpResource* resource) {
    return static_cast<ListTreeItem>(resource->listItem);
}

// The parts Url::compare looks at, folded as it folds them: equal keys, equal addresses.
std::string urlKey(const Url& url) {
    std::string key;
    key.reserve(url.scheme.size() + url.authority.size() + url.path.size() + url.query.size() +
                url.fragment.size() + 4);
    for (const std::string* part : {&url.scheme, &url.authority, &url.path, &url.query}) {
        for (char c : *part)
            key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        key += '\0';
    }
    for (char c : url.fragment)
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    return key;
}

struct MenuEntry {
    int id; // 0 for a separator
    const char* text;
};

std::vector<MenuEntry> menuEntries(int menuId) {
    switch (menuId) {
    case ResourceListView::kResourceMenu:
        return {{ID_COPY_ADDRESS, loadString(IDS_MENU_COPY_ADDRESS)},
                {ID_EXPORT_RESOURCE, loadString(IDS_MENU_EXPORT_RESOURCE)},
                {ID_COPY_AS_CURL, loadString(IDS_MENU_COPY_AS_CURL)},
                {ID_EXPORT_HAR_SELECTED, loadString(IDS_MENU_EXPORT_HAR)}};
    case ResourceListView::kFolderMenu:
        return {{ID_EXPORT_FOLDER, loadString(IDS_MENU_EXPORT_FOLDER)},
                {0, nullptr},
                {ID_EXPAND_ALL, loadString(IDS_MENU_EXPAND_ALL)},
                {ID_COLLAPSE_ALL, loadString(IDS_MENU_COLLAPSE_ALL)}};
    case ResourceListView::kStreamMenu:
        return {{ID_SAVE_STREAM, loadString(IDS_STREAM_SAVE)}};
    case ResourceListView::kSelectionMenu:
        return {{ID_EXPORT_SELECTED, loadString(IDS_MENU_EXPORT_SELECTED)},
                {ID_MERGE_EXPORT_SELECTED, loadString(IDS_MENU_MERGE_EXPORT_SELECTED)},
                {ID_EXPORT_HAR_SELECTED, loadString(IDS_MENU_EXPORT_HAR_SELECTED)}};
    default:
        return {};
    }
}

} // namespace

ResourceListView::ResourceListView(QWidget* parent)
    : QWidget(parent), list_(new ListTreeView(this)), adaptor_(*list_) {
    createFilterBar();
    list_->Create(this, rect());
    list_->adaptor = &adaptor_;
    list_->tree->setImageList(makeRowIcons(devicePixelRatioF()));
    for (int i = 0; i < kResourceColumnCount; ++i) {
        const ResourceColumn& c = kResourceColumns[i];
        list_->InsertColumn(i, QString::fromUtf8(loadString(c.titleId)), c.alignment,
                            defaultColumnWidth(i));
    }
    connect(list_, &ListTreeView::caretChanged, this,
            [this](ListTreeItem, quintptr, ListTreeItem item, quintptr) { caretMoved(item); });
    connect(list_, &ListTreeView::itemDeleting, this, &ResourceListView::rowDeleting);
    connect(list_, &ListTreeView::rightClicked, this, &ResourceListView::showContextMenu);
    // Connected after the control's own handler: runs once the rows are in their new order.
    connect(list_->header, &QHeaderView::sectionClicked, this, [this] { rowsMoved(); });
    trackPopup = [](QMenu& menu, const QPoint& globalPos) {
        QAction* chosen = menu.exec(globalPos);
        return chosen ? chosen->data().toInt() : 0;
    };
    openStreamSave = [this](const CapturedStream& stream, int variant) {
        StreamSaveDialog dialog(stream, variant < 0 ? stream.defaultVariant() : variant, this);
        dialog.exec();
    };
    streamsTimer_.setSingleShot(true);
    streamsTimer_.setInterval(300);
    connect(&streamsTimer_, &QTimer::timeout, this, &ResourceListView::syncStreamRows);
}

ResourceListView::~ResourceListView() {
    attach(nullptr);
    // Rows free their item data only when deleted one by one; the control's destructor does not
    // announce them.
    quietCaret_ = true;
    list_->tree->deleteAllItems();
}

void ResourceListView::attach(Document* document) {
    if (document_) {
        writeState();
        document_->removeListener(this);
    }
    document_ = document;
    if (!document_)
        return;
    readState();
    for (DocumentEvent e : {DocumentEvent::Initialised, DocumentEvent::ResourceAdded,
                            DocumentEvent::ResourceChanged, DocumentEvent::Clearing})
        document_->addListener(e, this);
}

int ResourceListView::defaultColumnWidth(int column) const {
    const ResourceColumn& c = kResourceColumns[column];
    // What these columns usually hold, so that it shows whole: sizes up to a hundred megabytes,
    // the longer common media types, a status code or the loading text.
    std::vector<QString> samples;
    switch (c.kind) {
    case SizeColumn:
        samples = {QStringLiteral("99,999 KB"), QStringLiteral("\u219199 KB \u21939,999 KB")};
        break;
    case DurationColumn:
        samples = {QString::fromUtf8(durationText(999000)),
                   QString::fromUtf8(durationText(99900000))};
        break;
    case TypeColumn:
        samples = {QStringLiteral("application/octet-stream"),
                   QStringLiteral("application/javascript")};
        break;
    case StatusColumn:
        // Tunnels say how they ended: every HTTPS connection not decrypted is one, and a
        // failure there ("客户端不信任根证书") must show as more than its first words.
        samples = {QStringLiteral("200 ") + QString::fromUtf8(loadString(IDS_STATE_DONE)),
                   QStringLiteral("101 ") + QString::fromUtf8(loadString(IDS_TUNNEL_CLIENT_CLOSED)),
                   QString::fromUtf8(loadString(IDS_STATE_LOADING)), QStringLiteral("100%")};
        for (unsigned id : {IDS_TUNNEL_OPEN, IDS_TUNNEL_CLIENT_CLOSED, IDS_TUNNEL_SERVER_CLOSED,
                            IDS_TUNNEL_STOPPED})
            samples.push_back(QString::fromUtf8(loadString(id)));
        // A download cut off is no rarity: what happened shows whole next to its code.
        for (unsigned id : {IDS_CAPTURE_INTERRUPTED, IDS_DATA_INCOMPLETE})
            samples.push_back(QStringLiteral("200 ") + QString::fromUtf8(loadString(id)));
        break;
    default:
        return c.width;
    }
    const QFontMetrics fm = list_->tree->fontMetrics();
    int text = 0;
    for (const QString& sample : samples)
        text = std::max(text, fm.horizontalAdvance(sample));
    // A cell keeps 6 pixels off each column boundary, plus a little air.
    return std::max(c.width, text + 12 + 4);
}

void ResourceListView::readState() {
    DocumentSettings& settings = document_->settings;
    for (int i = 0; i < list_->columnCount() && i < kResourceColumnCount; ++i) {
        int current = list_->columnWidth(i);
        int stored = settings.readInt(kWidthsSection, kResourceColumns[i].valueName, current);
        // Every run writes all widths back, so the narrow defaults of earlier versions are on
        // file whether or not the user ever chose them: that exact width gives way to the
        // fitted default, any other stored width is the user's.
        if (stored == kResourceColumns[i].width)
            stored = current;
        if (stored != current)
            list_->setColumnWidth(i, std::max(stored, 1));
    }
    int stored = settings.readInt(kStateSection, kViewModeValue, ByOrder);
    ViewMode mode = (stored == ByDirectory || stored == ByType || stored == ByReferrer)
                        ? static_cast<ViewMode>(stored)
                        : ByOrder;
    if (mode != mode_) {
        mode_ = mode;
        if (tree()->itemCount() > 0)
            RebuildList();
    }
}

void ResourceListView::writeState() {
    DocumentSettings& settings = document_->settings;
    for (int i = 0; i < list_->columnCount() && i < kResourceColumnCount; ++i)
        settings.writeInt(kWidthsSection, kResourceColumns[i].valueName, list_->columnWidth(i));
    settings.writeInt(kStateSection, kViewModeValue, mode_);
}

void ResourceListView::createFilterBar() {
    filterBar_ = new QWidget(this);
    filterBar_->setObjectName(QStringLiteral("FilterBar"));
    auto* layout = new QHBoxLayout(filterBar_);
    layout->setContentsMargins(4, 3, 4, 3);
    layout->setSpacing(8);
    filterField_ = new QLineEdit(filterBar_);
    filterField_->setObjectName(QStringLiteral("FilterField"));
    filterField_->setPlaceholderText(QString::fromUtf8(loadString(IDS_FILTER_PLACEHOLDER)));
    filterField_->setClearButtonEnabled(true);
    filterField_->installEventFilter(this);
    filterCount_ = new QLabel(filterBar_);
    filterCount_->setObjectName(QStringLiteral("FilterCount"));
    filterCount_->hide();
    layout->addWidget(filterField_, 1);
    layout->addWidget(filterCount_);
    // Typing runs the filter once the keys queued so far are in: a fast typist does not pay
    // for every letter on a long list.
    filterTimer_.setSingleShot(true);
    filterTimer_.setInterval(0);
    connect(&filterTimer_, &QTimer::timeout, this, [this] { setFilterText(filterField_->text()); });
    connect(filterField_, &QLineEdit::textChanged, this, [this] { filterTimer_.start(); });
    // The count follows a capture a few times a second, not with every row.
    countTimer_.setSingleShot(true);
    countTimer_.setInterval(100);
    connect(&countTimer_, &QTimer::timeout, this, &ResourceListView::updateFilterCount);
}

QSize ResourceListView::minimumSizeHint() const {
    // Docked panes give way before the list shrinks below a handful of rows (with room for
    // the sideways bar the columns of a narrow window need).
    const int rows = 6;
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return QSize(200, filterBar_->sizeHint().height() + list_->header->sizeHint().height() +
                          rows * tree()->itemHeight() + bar + 2);
}

void ResourceListView::resizeEvent(QResizeEvent*) {
    const int barHeight = filterBar_->sizeHint().height();
    filterBar_->setGeometry(0, 0, width(), barHeight);
    list_->setGeometry(0, barHeight, width(), std::max(height() - barHeight, 0));
}

// ---- commands

bool ResourceListView::onCommand(int id) {
    switch (id) {
    case ID_RESOURCES_LIST_VIEW_BY_ORDER:
    case ID_RESOURCES_LIST_VIEW_MODE:
        setMode(ByOrder);
        return true;
    case ID_RESOURCES_LIST_VIEW_BY_DIRECTORY:
        setMode(ByDirectory);
        return true;
    case ID_RESOURCES_LIST_VIEW_BY_TYPE:
        setMode(ByType);
        return true;
    case ID_RESOURCES_LIST_VIEW_BY_REFERRER:
        setMode(ByReferrer);
        return true;
    case ID_RESOURCES_EXPORT:
    case ID_RESOURCES_MERGE_EXPORT:
    case ID_RESOURCES_EXPORT_HAR:
        emit exportRequested(id, nullptr);
        return true;
    default:
        return false;
    }
}

bool ResourceListView::commandState(int id, bool* enabled, bool* checked) const {
    int modeOf = -1;
    switch (id) {
    case ID_RESOURCES_LIST_VIEW_BY_ORDER:
        modeOf = ByOrder;
        break;
    case ID_RESOURCES_LIST_VIEW_BY_DIRECTORY:
        modeOf = ByDirectory;
        break;
    case ID_RESOURCES_LIST_VIEW_BY_TYPE:
        modeOf = ByType;
        break;
    case ID_RESOURCES_LIST_VIEW_BY_REFERRER:
        modeOf = ByReferrer;
        break;
    case ID_RESOURCES_LIST_VIEW_MODE:
    case ID_RESOURCES_EXPORT:
    case ID_RESOURCES_MERGE_EXPORT:
    case ID_RESOURCES_EXPORT_HAR:
        break;
    default:
        return false;
    }
    if (enabled)
        *enabled = true;
    if (checked)
        *checked = modeOf == mode_;
    return true;
}

void ResourceListView::setMode(ViewMode mode) {
    if (mode == mode_)
        return;
    mode_ = mode;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RebuildList();
    QApplication::restoreOverrideCursor();
}

// ---- document events

void ResourceListView::documentEvent(const DocumentNotice& notice) {
    switch (notice.event) {
    case DocumentEvent::Initialised:
        RebuildList();
        break;
    case DocumentEvent::ResourceAdded:
    case DocumentEvent::ResourceChanged: {
        if (!document_)
            break;
        // Found under the capture lock, then shown without it: a listed
        // resource is freed only on this thread.
        HttpResource* resource = document_->findResource(notice.id);
        if (!resource)
            break; // cleared or freed since the notice was posted
        if (notice.event == DocumentEvent::ResourceChanged) {
            UpdateResourceRow(resource);
            // The panes hear of a resource only when it becomes current; one chosen while
            // loading would go on saying it is not ready.
            if (resource == document_->currentResource && rowSettled(resource))
                emit currentResourceCompleted(resource);
        } else if (!resource->listItem) { // a rebuild since the capture may have shown it
            InsertResource(resource);
        }
        noteForStreams(resource);
        break;
    }
    case DocumentEvent::Clearing:
        streamsTimer_.stop();
        streamRows_.clear();
        ClearList();
        break;
    default:
        break;
    }
}

void ResourceListView::caretMoved(ListTreeItem item) {
    if (quietCaret_ || !document_)
        return;
    const ResourceListItem* data = itemOf(item);
    HttpResource* resource =
        data && data->kind == ResourceListItem::ResourceItem ? data->resource : nullptr;
    HttpResource* current;
    {
        CaptureLocker lock(captureLock());
        current = document_->currentResource;
    }
    // The panes read the new resource as they hear of it, with no lock held:
    // reading and decoding a large body never holds up a connection.
    if (resource != current)
        document_->setCurrentResource(resource);
}

void ResourceListView::rowDeleting(ListTreeItem row, quintptr data) {
    ResourceListItem* item = ResourceListItem::of(data);
    if (!item)
        return;
    if (item->kind == ResourceListItem::ResourceItem) {
        --resourceRows_;
        if (!tree()->isItemHidden(row) && !tree()->isItemDimmed(row))
            --shownRows_;
        filterCountChanged();
    }
    if (item->resource && item->resource->listItem == row)
        item->resource->listItem = nullptr;
    if (item->kind == ResourceListItem::StreamItem) {
        const auto it = streamRowOf_.find(item->streamId);
        if (it != streamRowOf_.end() && it->second == row)
            streamRowOf_.erase(it);
    }
    delete item;
}

// ---- arrangement

void ResourceListView::rowsMoved() {
    children_.clear();
    keyIndexes_.clear();
    ++sortOrder_;
}

void ResourceListView::forgetIndexes() {
    children_.clear();
    keyIndexes_.clear();
    rowsByUrl_.clear();
    groupRows_.clear();
}

std::vector<ListTreeItem>& ResourceListView::childrenOf(ListTreeItem parent) {
    auto [it, fresh] = children_.try_emplace(parent);
    if (fresh)
        for (ListTreeItem c = tree()->childItem(parent); c; c = tree()->nextSibling(c))
            it->second.push_back(c);
    return it->second;
}

ListTreeItem ResourceListView::insertRow(ListTreeItem parent, ListTreeItem before,
                                         ResourceListItem* item, bool hidden) {
    ListTreeItem row = tree()->insertItem(parent, before, dataOf(item), {}, hidden);
    int image = ItemImage(*item);
    tree()->setItemImage(row, image, image);
    if (item->kind == ResourceListItem::ResourceItem) {
        item->resource->listItem = row;
        ++resourceRows_;
        if (!hidden)
            ++shownRows_;
        filterCountChanged();
    }
    return row;
}

ListTreeItem ResourceListView::appendRow(ListTreeItem parent, ResourceListItem* item) {
    keyIndexes_.erase(parent);
    auto known = children_.find(parent);
    ListTreeItem row = insertRow(parent, nullptr, item, false);
    if (known != children_.end())
        known->second.push_back(row);
    return row;
}

// ---- rows under a sort column whose values change while a capture runs

namespace {
constexpr std::size_t kKeyBlock = 256;
} // namespace

std::int64_t ResourceListView::rowKey(ListTreeItem row) const {
    const ResourceListItem* item = itemOf(row);
    // Groups sort before resources in ascending order and after them in descending order:
    // a key below every resource key says the same in both directions.
    if (item->kind != ResourceListItem::ResourceItem)
        return INT64_MIN;
    const HttpResource& r = *item->resource;
    if (adaptor_.sortKind() == StatusColumn)
        return resourceStatusKey(r);
    return resourceSizeValue(r);
}

bool ResourceListView::rowSettled(ListTreeItem row) {
    const ResourceListItem* item = itemOf(row);
    return item->kind != ResourceListItem::ResourceItem || rowSettled(item->resource);
}

bool ResourceListView::rowSettled(const HttpResource* resource) {
    // Size and state stay as they are once the exchange is over (a failed one keeps Loading).
    std::uint32_t flags = resource->flags;
    return !(flags & HttpResource::Loading) || (flags & HttpResource::Ended);
}

void ResourceListView::KeyBlock::settle(ResourceListView& view, ListTreeItem row) {
    std::int64_t key = view.rowKey(row);
    settledMax = std::max(settledMax, key);
    settledMin = std::min(settledMin, key);
}

void ResourceListView::KeyBlock::refill(ResourceListView& view) {
    settledMax = INT64_MIN;
    settledMin = INT64_MAX;
    open.clear();
    for (ListTreeItem row : rows) {
        if (view.rowSettled(row))
            settle(view, row);
        else
            open.push_back(row);
    }
}

ResourceListView::KeyIndex& ResourceListView::keyIndexOf(ListTreeItem parent) {
    KeyIndex& index = keyIndexes_[parent];
    int kind = adaptor_.sortKind();
    if (index.built && index.kind == kind && index.ascending == list_->sortAscending)
        return index;
    index = KeyIndex{};
    index.built = true;
    index.kind = kind;
    index.ascending = list_->sortAscending;
    for (ListTreeItem c : childrenOf(parent)) {
        if (index.blocks.empty() || index.blocks.back().rows.size() >= kKeyBlock)
            index.blocks.emplace_back();
        index.blocks.back().rows.push_back(c);
    }
    for (KeyBlock& block : index.blocks)
        block.refill(*this);
    return index;
}

std::size_t ResourceListView::firstAfter(KeyIndex& index, std::int64_t key) {
    // The first sibling that sorts after the new row, as a walk over every sibling finds it,
    // but whole blocks are passed by their largest and smallest key. Only rows still being
    // captured are read afresh.
    bool ascending = index.ascending;
    auto after = [&](std::int64_t k) { return ascending ? k > key : k < key; };
    std::size_t base = 0;
    for (KeyBlock& block : index.blocks) {
        std::int64_t high = block.settledMax, low = block.settledMin;
        for (std::size_t i = 0; i < block.open.size();) {
            ListTreeItem row = block.open[i];
            if (rowSettled(row)) {
                block.settle(*this, row);
                block.open[i] = block.open.back();
                block.open.pop_back();
                continue;
            }
            std::int64_t k = rowKey(row);
            high = std::max(high, k);
            low = std::min(low, k);
            ++i;
        }
        high = std::max(high, block.settledMax);
        low = std::min(low, block.settledMin);
        if (ascending ? high > key : low < key) {
            for (std::size_t i = 0; i < block.rows.size(); ++i)
                if (after(rowKey(block.rows[i])))
                    return base + i;
        }
        base += block.rows.size();
    }
    return base;
}

void ResourceListView::keyIndexInsert(KeyIndex& index, std::size_t at, ListTreeItem row) {
    if (index.blocks.empty())
        index.blocks.emplace_back();
    std::size_t b = 0;
    while (b + 1 < index.blocks.size() && at > index.blocks[b].rows.size()) {
        at -= index.blocks[b].rows.size();
        ++b;
    }
    KeyBlock& block = index.blocks[b];
    block.rows.insert(block.rows.begin() + static_cast<std::ptrdiff_t>(at), row);
    if (rowSettled(row))
        block.settle(*this, row);
    else
        block.open.push_back(row);
    if (block.rows.size() >= 2 * kKeyBlock) {
        KeyBlock upper;
        upper.rows.assign(block.rows.begin() + kKeyBlock, block.rows.end());
        block.rows.resize(kKeyBlock);
        block.refill(*this);
        upper.refill(*this);
        index.blocks.insert(index.blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1,
                            std::move(upper));
    }
}

ListTreeItem ResourceListView::orderedInsert(ListTreeItem parent, ResourceListItem* item,
                                             bool hidden) {
    // The new row goes before the first sibling that sorts after it. Siblings stay sorted
    // unless the sort column is one whose values change while a capture runs (size, state);
    // then the blocks of the key index stand in for a walk over every sibling.
    std::vector<ListTreeItem>& kids = childrenOf(parent);
    std::size_t at = kids.size();
    KeyIndex* index = nullptr;
    if (item->kind != ResourceListItem::ResourceItem || adaptor_.orderIsFixed()) {
        auto after = [&](ListTreeItem c) {
            return adaptor_.CompareItems(c->data, dataOf(item)) > 0;
        };
        at = static_cast<std::size_t>(
            std::partition_point(kids.begin(), kids.end(),
                                 [&](ListTreeItem c) { return !after(c); }) -
            kids.begin());
        keyIndexes_.erase(parent);
    } else {
        index = &keyIndexOf(parent);
        ResourceListItem probe = *item;
        at = firstAfter(*index, probeKey(probe));
    }
    ListTreeItem row = insertRow(parent, at < kids.size() ? kids[at] : nullptr, item, hidden);
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(at), row);
    if (index)
        keyIndexInsert(*index, at, row);
    return row;
}

std::int64_t ResourceListView::probeKey(const ResourceListItem& item) const {
    const HttpResource& r = *item.resource;
    if (adaptor_.sortKind() == StatusColumn)
        return resourceStatusKey(r);
    return resourceSizeValue(r);
}

std::string ResourceListView::groupKey(ListTreeItem parent, const ResourceListItem& item) {
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    key += static_cast<char>(item.kind);
    if (item.kind == ResourceListItem::TypeGroupItem)
        key.append(reinterpret_cast<const char*>(&item.category), sizeof item.category);
    else
        key += item.text;
    return key;
}

ListTreeItem ResourceListView::FindOrInsertGroup(ListTreeItem parent,
                                                 const ResourceListItem& item) {
    // A group never gets a sibling that compares equal to it, so a group of exactly this text
    // is the one the search would find.
    std::string key = groupKey(parent, item);
    if (auto known = groupRows_.find(key); known != groupRows_.end())
        return known->second;
    std::vector<ListTreeItem>& kids = childrenOf(parent);
    // Groups never change, so siblings are always in order around them.
    auto at = std::partition_point(kids.begin(), kids.end(), [&](ListTreeItem c) {
        return adaptor_.CompareItems(c->data, dataOf(&item)) < 0;
    });
    ListTreeItem row = nullptr;
    if (at != kids.end() && adaptor_.CompareItems((*at)->data, dataOf(&item)) == 0) {
        row = *at;
    } else {
        auto* copy = new ResourceListItem(item);
        // Under a filter a group shows once something in it does.
        row = insertRow(parent, at != kids.end() ? *at : nullptr, copy, filterActive());
        kids.insert(at, row);
        keyIndexes_.erase(parent);
    }
    groupRows_.emplace(std::move(key), row);
    return row;
}

std::size_t ResourceListView::siblingIndex(ListTreeItem row) {
    // Siblings in order: search the run of rows that compare equal to it, then look for it.
    std::vector<ListTreeItem>& kids = childrenOf(tree()->parentItem(row));
    auto at = std::partition_point(kids.begin(), kids.end(), [&](ListTreeItem c) {
        return adaptor_.CompareItems(c->data, row->data) < 0;
    });
    while (at != kids.end() && *at != row)
        ++at;
    return static_cast<std::size_t>(at - kids.begin());
}

bool ResourceListView::precedes(ListTreeItem a, ListTreeItem b) {
    auto chain = [this](ListTreeItem n) {
        std::vector<ListTreeItem> v;
        for (; n; n = tree()->parentItem(n))
            v.push_back(n);
        std::reverse(v.begin(), v.end());
        return v;
    };
    std::vector<ListTreeItem> ca = chain(a), cb = chain(b);
    std::size_t i = 0;
    while (i < ca.size() && i < cb.size() && ca[i] == cb[i])
        ++i;
    if (i == ca.size())
        return true; // a is b or an ancestor of b
    if (i == cb.size())
        return false;
    if (adaptor_.orderIsFixed())
        return siblingIndex(ca[i]) < siblingIndex(cb[i]);
    // Two siblings: look both ways from one for the other.
    for (ListTreeItem f = ca[i]->next, k = ca[i]->prev; f || k;) {
        if (f == cb[i])
            return true;
        if (k == cb[i])
            return false;
        if (f)
            f = f->next;
        if (k)
            k = k->prev;
    }
    return false;
}

ListTreeItem ResourceListView::referrerRow(const HttpResource& resource) {
    const Url& referrer = resource.referrer;
    if (referrer.flags == 0 && referrer.path.empty())
        return nullptr;
    auto it = rowsByUrl_.find(urlKey(referrer));
    if (it == rowsByUrl_.end())
        return nullptr;
    // The first such row of the tree as it is shown, top to bottom; kept while the order of
    // the rows stays, found again after a sort.
    UrlRows& rows = it->second;
    if (rows.order != sortOrder_) {
        rows.first = nullptr;
        for (ListTreeItem row : rows.rows)
            if (!rows.first || precedes(row, rows.first))
                rows.first = row;
        rows.order = sortOrder_;
    }
    return rows.first;
}

void ResourceListView::rowOfUrl(const Url& url, ListTreeItem row) {
    UrlRows& rows = rowsByUrl_[urlKey(url)];
    rows.rows.push_back(row);
    if (rows.rows.size() == 1) {
        rows.first = row;
        rows.order = sortOrder_;
    } else if (rows.order == sortOrder_ && precedes(row, rows.first)) {
        rows.first = row;
    }
}

void ResourceListView::InsertResource(HttpResource* resource) {
    ListTreeItem parent = nullptr;
    switch (mode_) {
    case ByType: {
        ResourceListItem group;
        group.kind = ResourceListItem::TypeGroupItem;
        group.category = resource->category;
        parent = FindOrInsertGroup(nullptr, group);
        break;
    }
    case ByDirectory: {
        // The host, then every path segment but the last (the file name); the segments are
        // those of splitList at "/", trimmed, and empty ones make no folder.
        ResourceListItem folder;
        folder.kind = ResourceListItem::FolderItem;
        auto enter = [&](std::string_view segment) {
            if (segment.empty())
                return;
            if (segment.find('%') == std::string_view::npos)
                folder.text.assign(segment);
            else
                folder.text = percentDecode(segment);
            parent = FindOrInsertGroup(parent, folder);
        };
        std::string_view path = resource->url.path;
        std::size_t slash = path.find('/');
        if (resource->url.flags & Url::HasAuthority)
            enter(resource->url.authority);
        for (std::size_t start = 0; slash != std::string_view::npos;
             start = slash + 1, slash = path.find('/', start))
            enter(trimView(path.substr(start, slash - start)));
        break;
    }
    case ByReferrer:
        parent = referrerRow(*resource);
        break;
    default:
        break;
    }
    auto* item = new ResourceListItem;
    item->resource = resource;
    const bool filtering = filterActive();
    const bool shown = !filtering || filter_.matches(*resource);
    ListTreeItem row = orderedInsert(parent, item, !shown);
    if (mode_ == ByReferrer)
        rowOfUrl(resource->url, row);
    if (filtering && shown)
        revealAncestors(row);
}

void ResourceListView::revealAncestors(ListTreeItem row) {
    // Folders and groups show with the first shown row in them; a page in the referrer tree
    // shows, faint, for the shown resources it led to. They stay closed, as new folders do
    // without a filter: an open one lays out its rows again with every row a capture adds.
    // From the top down, so that each one finds its parent on screen already.
    std::vector<ListTreeItem> hidden;
    for (ListTreeItem p = tree()->parentItem(row); p && tree()->isItemHidden(p);
         p = tree()->parentItem(p))
        hidden.push_back(p);
    for (auto it = hidden.rbegin(); it != hidden.rend(); ++it) {
        tree()->setItemHidden(*it, false);
        tree()->setItemDimmed(*it, itemOf(*it)->kind == ResourceListItem::ResourceItem);
    }
}

void ResourceListView::UpdateResourceRow(HttpResource* resource) {
    ListTreeItem row = rowOf(resource);
    if (!row)
        return;
    int image = ItemImage(*itemOf(row));
    // Setting the image repaints the rows on screen, the size and status cells with them.
    // Asking for this row's own rectangle would first recount every shown row whenever rows
    // went in above it, once per notice.
    tree()->setItemImage(row, image, image);
}

void ResourceListView::ClearList() {
    tree()->setCaret(nullptr);
    tree()->clearSelection();
    tree()->setAnchor(nullptr);
    tree()->deleteAllItems();
    forgetIndexes();
    streamRowOf_.clear();
    resourceRows_ = shownRows_ = 0;
    filterCountChanged();
}

// ---- filter

bool ResourceListView::filterActive() const {
    return !building_ && !filter_.matchesAll();
}

void ResourceListView::setFilterText(const QString& text) {
    filterTimer_.stop();
    if (filterField_->text() != text) {
        const QSignalBlocker quiet(filterField_);
        filterField_->setText(text);
    }
    const std::string typed = text.toStdString();
    if (typed == filterText_)
        return;
    filterText_ = typed;
    filter_ = ResourceFilter(filterText_);
    showFilterProblems();
    // No capture lock: the filter reads facts fixed once a resource is
    // listed, and a filter over a million rows must not hold up connections.
    runFilter();
}

void ResourceListView::runFilter() {
    ListTreeCtrl* t = tree();
    const bool filtering = !filter_.matchesAll();
    int shown = 0;
    // A group's box speaks for what it shows (applyFilter settles them with autoCheck on).
    t->applyFilter([&](ListTreeItem row) {
        const ResourceListItem* item = itemOf(row);
        if (item->kind != ResourceListItem::ResourceItem)
            return ListTreeCore::RowMatch::Group;
        if (filtering && !filter_.matches(*item->resource))
            return ListTreeCore::RowMatch::NoMatch;
        ++shown;
        return ListTreeCore::RowMatch::Match;
    });
    shownRows_ = shown;
    // Opening every folder that holds a match puts a few matches in sight; with thousands the
    // list would only grow long, and each row a capture adds would lay out all of it again.
    if (filtering && shown <= kOpenLimit)
        t->expandShown();
    t->updateRows();
    if (ListTreeItem caret = t->caret())
        t->ensureVisible(caret);
    filterCountChanged();
}

void ResourceListView::showFilterProblems() {
    QPalette palette = filterField_->palette();
    QString tip;
    if (filter_.badTerms().empty()) {
        palette.setColor(QPalette::Text, QApplication::palette(filterField_).color(QPalette::Text));
    } else {
        palette.setColor(QPalette::Text, QColor(0xc6, 0x28, 0x28));
        for (const std::string& term : filter_.badTerms()) {
            const std::string value = term.substr(term.find(':') + 1);
            if (!tip.isEmpty())
                tip += QLatin1Char('\n');
            tip += QString::asprintf(loadString(IDS_FILTER_BAD_STATUS), value.c_str());
        }
    }
    filterField_->setPalette(palette);
    filterField_->setToolTip(tip);
}

void ResourceListView::filterCountChanged() {
    if (!countTimer_.isActive())
        countTimer_.start();
}

void ResourceListView::updateFilterCount() {
    const bool filtering = !filter_.matchesAll();
    filterCount_->setVisible(filtering);
    if (filtering)
        filterCount_->setText(
            QString::asprintf(loadString(IDS_FILTER_COUNT), shownRows_, resourceRows_));
    const QString empty = filtering && shownRows_ == 0 && resourceRows_ > 0
                              ? QString::fromUtf8(loadString(IDS_FILTER_NO_MATCH))
                              : QString();
    if (tree()->emptyText != empty) {
        tree()->emptyText = empty;
        tree()->viewport()->update();
    }
}

void ResourceListView::focusFilter() {
    filterField_->setFocus(Qt::ShortcutFocusReason);
    filterField_->selectAll();
}

bool ResourceListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == filterField_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            // Out of the field: the filter goes, the list keeps the keys.
            filterField_->clear();
            setFilterText(QString());
            tree()->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
        if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
            setFilterText(filterField_->text());
            tree()->setFocus(Qt::ShortcutFocusReason);
            if (!tree()->caret())
                if (ListTreeItem first = tree()->itemAtRow(0))
                    tree()->SelectItem(first, false);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ResourceListView::applyModeStyles() {
    constexpr unsigned kTreeStyles =
        ListTreeCtrl::HasButtons | ListTreeCtrl::HasLines | ListTreeCtrl::LinesAtRoot;
    tree()->setTreeStyle(mode_ == ByOrder ? 0u : kTreeStyles);
    list_->setAutoCheck(mode_ == ByDirectory || mode_ == ByType);
}

void ResourceListView::RebuildList() {
    ListTreeCtrl* t = tree();
    // The resources as listed now; the rows are built without the capture
    // lock, so that connections go on meanwhile. Listed resources are freed
    // only on this thread, and one listed after this gets its row from its
    // own notice.
    std::vector<HttpResource*> listed;
    if (document_) {
        CaptureLocker lock(captureLock());
        listed.reserve(document_->resources.count);
        for (HttpResource* r = document_->resources.head; r; r = r->next)
            listed.push_back(r);
    }

    // What the user picked survives the new arrangement.
    std::vector<HttpResource*> selected, checked;
    HttpResource* caret = nullptr;
    for (ListTreeItem row : t->selection())
        if (const ResourceListItem* item = itemOf(row);
            item->kind == ResourceListItem::ResourceItem)
            selected.push_back(item->resource);
    for (ListTreeItem row = t->rootItem(); row; row = t->NextInPreorder(row))
        if (const ResourceListItem* item = itemOf(row);
            item->kind == ResourceListItem::ResourceItem && t->checkState(row) == Checked)
            checked.push_back(item->resource);
    if (const ResourceListItem* item = itemOf(t->caret());
        item && item->kind == ResourceListItem::ResourceItem)
        caret = item->resource;

    list_->setUpdatesEnabled(false);
    ClearList();
    applyModeStyles();
    // Without a sort column every row would compare equal and go last among its siblings; the
    // document lists resources by ascending ordinal, so sorting by ordinal from the start builds
    // the same tree, and lets rows be found by search while it is built.
    if (list_->sortColumn == -1)
        list_->sortColumn = resourceColumnOfKind(OrdinalColumn);
    building_ = true; // every row goes in shown; the filter then runs once over all of them
    {
        for (HttpResource* r : listed) {
            switch (mode_) {
            case ByOrder: {
                auto* item = new ResourceListItem;
                item->resource = r;
                appendRow(nullptr, item);
                break;
            }
            case ByType: {
                ResourceListItem group;
                group.kind = ResourceListItem::TypeGroupItem;
                group.category = r->category;
                ListTreeItem parent = FindOrInsertGroup(nullptr, group);
                auto* item = new ResourceListItem;
                item->resource = r;
                appendRow(parent, item);
                break;
            }
            default:
                InsertResource(r);
                break;
            }
        }
    }

    building_ = false;
    for (HttpResource* r : listed)
        streamRows_.note(*r);
    syncStreamRows();

    // Rows built in capture order under the ordinal column are in order already; a stable
    // sort would leave them as they are.
    if (!inOrder()) {
        list_->SortChildren(nullptr);
        rowsMoved();
    }
    if (filterActive())
        runFilter();
    list_->header->viewport()->update();
    t->viewport()->update();

    // Restoring selects row after row; the document hears of the caret once, at the end.
    quietCaret_ = true;
    for (HttpResource* r : selected)
        if (ListTreeItem row = rowOf(r); row && !t->isItemHidden(row))
            t->SelectItem(row, true);
    for (HttpResource* r : checked)
        if (ListTreeItem row = rowOf(r))
            t->SetCheckState(row, Checked);
    if (list_->autoCheck())
        t->RecalcChecks(nullptr);
    if (caret)
        if (ListTreeItem row = rowOf(caret); row && !t->isItemHidden(row))
            t->setCaret(row);
    quietCaret_ = false;
    caretMoved(t->caret());
    list_->setUpdatesEnabled(true);
}

bool ResourceListView::inOrder() {
    const ListTreeCtrl* t = tree();
    for (ListTreeItem row = t->rootItem(); row; row = t->NextInPreorder(row))
        if (ListTreeItem next = t->nextSibling(row);
            next && adaptor_.CompareItems(row->data, next->data) > 0)
            return false;
    return true;
}

// ---- context menu

int ResourceListView::contextMenuId() const {
    const std::vector<ListTreeItem>& selection = tree()->selection();
    if (selection.empty())
        return 0;
    if (selection.size() > 1)
        return kSelectionMenu;
    const ResourceListItem* item = itemOf(selection.front());
    if (item->isStreamRow())
        return kStreamMenu;
    return item->kind == ResourceListItem::ResourceItem ? kResourceMenu : kFolderMenu;
}

void ResourceListView::showContextMenu(const QPoint& globalPos) {
    int menuId = contextMenuId();
    if (!menuId)
        return;
    QMenu menu(this);
    for (const MenuEntry& e : menuEntries(menuId)) {
        if (!e.id) {
            menu.addSeparator();
            continue;
        }
        menu.addAction(QString::fromUtf8(e.text))->setData(e.id);
    }
    int chosen = trackPopup ? trackPopup(menu, globalPos) : 0;
    if (chosen)
        contextCommand(chosen);
}

void ResourceListView::contextCommand(int id) {
    const std::vector<ListTreeItem>& selection = tree()->selection();
    ListTreeItem row = selection.size() == 1 ? selection.front() : nullptr;
    const ResourceListItem* item = itemOf(row);
    switch (id) {
    case ID_COPY_ADDRESS:
        if (item && item->kind == ResourceListItem::ResourceItem) {
            std::string address;
            {
                CaptureLocker lock(captureLock());
                address = item->resource->url.toString();
            }
            copyToClipboard(QString::fromUtf8(address));
        }
        break;
    case ID_SAVE_STREAM:
        if (item && item->isStreamRow() && openStreamSave) {
            // A copy: the catalog may be worded anew while the dialog is open.
            if (const CapturedStream* stream = streamRows_.catalog().find(item->streamId)) {
                const CapturedStream copy = *stream;
                openStreamSave(copy,
                               item->kind == ResourceListItem::VariantItem ? item->variant : -1);
            }
        }
        break;
    case ID_EXPAND_ALL:
        if (row)
            tree()->ExpandAll(row);
        break;
    case ID_COLLAPSE_ALL:
        if (row)
            tree()->CollapseAll(row);
        break;
    case ID_EXPORT_RESOURCE:
    case ID_EXPORT_FOLDER:
    case ID_COPY_AS_CURL:
        if (row)
            emit exportRequested(id, row);
        break;
    case ID_EXPORT_SELECTED:
    case ID_MERGE_EXPORT_SELECTED:
    case ID_EXPORT_HAR_SELECTED:
        emit exportRequested(id, nullptr);
        break;
    default:
        break;
    }
}

void ResourceListView::noteForStreams(HttpResource* resource) {
    if (streamRows_.note(*resource) && !streamsTimer_.isActive())
        streamsTimer_.start();
}

void ResourceListView::syncStreamRows() {
    if (mode_ != ByType)
        return;
    const std::vector<CapturedStream>& streams = streamRows_.catalog().streams();
    if (streams.empty())
        return;
    ResourceListItem group;
    group.kind = ResourceListItem::StreamGroupItem;
    group.category = kStreamGroupCategory;
    ListTreeItem parent = FindOrInsertGroup(nullptr, group);
    ListTreeCtrl* t = tree();
    for (const CapturedStream& stream : streams) {
        const int chosen = stream.defaultVariant();
        const bool complete =
            chosen >= 0 && StreamRows::complete(stream.variants[std::size_t(chosen)]);
        auto cells =
            std::make_shared<const std::vector<std::string>>(StreamRows::streamCells(stream));
        ListTreeItem row = nullptr;
        if (auto known = streamRowOf_.find(stream.id); known != streamRowOf_.end()) {
            row = known->second;
            ResourceListItem* item = itemOf(row);
            item->cells = std::move(cells);
            item->complete = complete;
        } else {
            auto* item = new ResourceListItem;
            item->kind = ResourceListItem::StreamItem;
            item->streamId = stream.id;
            item->cells = std::move(cells);
            item->complete = complete;
            row = orderedInsert(parent, item, false);
            streamRowOf_[stream.id] = row;
        }
        const int image = ItemImage(*itemOf(row));
        t->setItemImage(row, image, image);
        // One row per variant under the stream's; anew when their number changed.
        std::vector<ListTreeItem> variants;
        for (ListTreeItem c = t->childItem(row); c; c = t->nextSibling(c))
            variants.push_back(c);
        if (variants.size() != stream.variants.size()) {
            for (ListTreeItem c : variants)
                t->deleteItem(c);
            children_.erase(row);
            keyIndexes_.erase(row);
            variants.clear();
            for (int v = 0; v < int(stream.variants.size()); ++v) {
                auto* item = new ResourceListItem;
                item->kind = ResourceListItem::VariantItem;
                item->streamId = stream.id;
                item->variant = v;
                variants.push_back(appendRow(row, item));
            }
        }
        for (int v = 0; v < int(variants.size()); ++v) {
            ResourceListItem* item = itemOf(variants[std::size_t(v)]);
            item->cells = std::make_shared<const std::vector<std::string>>(
                StreamRows::variantCells(stream, v));
            item->complete = StreamRows::complete(stream.variants[std::size_t(v)]);
            const int variantImage = ItemImage(*item);
            t->setItemImage(variants[std::size_t(v)], variantImage, variantImage);
        }
    }
    t->viewport()->update();
}

void ResourceListView::copyToClipboard(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}
