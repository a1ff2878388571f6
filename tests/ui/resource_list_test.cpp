// The resource list: texts and order of rows, the four arrangements, and the view following a
// document, driven offscreen.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "support/DocumentStandIns.h"
#include "ui/browser/ResourceListView.h"

#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <random>

namespace {

class Recorder : public DocumentListener {
public:
    void documentEvent(const DocumentNotice& notice) override {
        current.push_back(notice.resource);
    }
    std::vector<HttpResource*> current;
};

struct Fixture {
    Fixture() : document(ui, delivery, settings) { ui.yesNoAnswer = DocumentUi::Answer::Yes; }
    ~Fixture() { delete view; } // before the document frees the resources

    void open(int width = 900, int height = 400) {
        view = new ResourceListView;
        view->resize(width, height);
        view->attach(&document);
        document.notify(DocumentEvent::Initialised, nullptr, true);
        delivery.deliver();
    }

    // A captured resource the way the capture filter fills it in; announced as posted.
    HttpResource* add(const std::string& address, const std::string& type = "text/html",
                      std::int32_t category = 6, const std::string& referrer = {},
                      bool deliverNow = true) {
        auto* r = new HttpResource(&document);
        r->id = nextId++;
        r->url.parse(address);
        std::string path = r->url.path;
        std::size_t slash = path.rfind('/');
        r->name = percentDecode(slash == std::string::npos ? path : path.substr(slash + 1));
        r->directory =
            percentDecode("http://" + r->url.authority +
                          (slash == std::string::npos ? "/" : path.substr(0, slash + 1)));
        if (!referrer.empty())
            r->referrer.parse(referrer);
        r->contentType = type;
        r->category = category;
        r->flags = HttpResource::Loading;
        if (prepare)
            prepare(*r);
        {
            CaptureLocker lock(captureLock());
            document.addResource(r);
            document.notify(DocumentEvent::ResourceAdded, r, true);
        }
        if (deliverNow)
            delivery.deliver();
        return r;
    }

    ListTreeCtrl* tree() const { return view->tree(); }
    ListTreeItem row(const HttpResource* r) const { return static_cast<ListTreeItem>(r->listItem); }
    std::string text(ListTreeItem item, int column = 0) const {
        return view->adaptor().GetItemText(item->data, column);
    }
    // The tree as "name(child child) name", column 0 texts in display order.
    std::string shape(ListTreeItem parent = nullptr) const {
        std::string out;
        for (ListTreeItem c = tree()->childItem(parent); c; c = tree()->nextSibling(c)) {
            if (!out.empty())
                out += ' ';
            out += text(c);
            if (tree()->hasChildren(c))
                out += "(" + shape(c) + ")";
        }
        return out;
    }
    // The same for the rows a filter leaves: hidden ones left out, faint ones marked "~".
    std::string shown(ListTreeItem parent = nullptr) const {
        std::string out;
        for (ListTreeItem c = tree()->childItem(parent); c; c = tree()->nextSibling(c)) {
            if (tree()->isItemHidden(c))
                continue;
            if (!out.empty())
                out += ' ';
            out += (tree()->isItemDimmed(c) ? "~" : "") + text(c);
            if (const std::string inner = shown(c); !inner.empty())
                out += "(" + inner + ")";
        }
        return out;
    }
    void settle() {
        tree()->updateRows();
        QCoreApplication::processEvents();
    }
    QPoint at(ListTreeItem item, int x) const {
        return QPoint(x, tree()->itemRect(item, false).center().y());
    }

    ScriptedDocumentUi ui;
    MemorySettings settings;
    QueueDelivery delivery;
    Document document;
    ResourceListView* view = nullptr;
    std::uint32_t nextId = 1;
    std::function<void(HttpResource&)> prepare; // runs before the resource is announced
};

} // namespace

class ResourceListTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sizeAndStatusTexts();
    void unfinishedCapturesNeverSayDone();
    void tunnelTexts();
    void comparisonsAndIcons();
    void byDirectoryFolders();
    void byTypeGroups();
    void byReferrerParents();
    void insertionMatchesTheOrderedWalk();
    void staleAndRepeatedNotices();
    void caretSetsCurrentResource();
    void modeSwitchKeepsSelectionAndChecks();
    void clearingEmptiesTheList();
    void persistentState();
    void commands();
    void clicksAndChecks();
    void contextMenus();
    void screenshot();
    void hugeNamesPaint();
    void filterInEveryArrangement();
    void filterFieldKeys();
};

void ResourceListTest::initTestCase() {
    QFont f = QApplication::font();
    f.setFamilies({f.family(), QStringLiteral("Noto Sans CJK SC")});
    QApplication::setFont(f);
}

void ResourceListTest::sizeAndStatusTexts() {
    struct Case {
        std::int64_t length, received;
        bool loading;
        std::int32_t code;
        const char* size;
        const char* status;
    };
    const Case cases[] = {
        {0, 0, false, 200, "0 KB", "200 完成"},
        {1, 0, false, 404, "1 KB", "404 完成"},
        {1024, 0, false, 501, "1 KB", "501 完成"},
        {1025, 0, false, 0, "2 KB", "完成"}, // no usable code: no number
        {1048576, 10, true, 200, "1,024 KB", "0%"},
        {-1, 1234567890, true, 200, "1,205,633 KB", "加载中..."},
        {0, 0, true, 404, "0 KB", "加载中..."},
        {200, 50, true, 200, "1 KB", "25%"},
        {-1, 5000, false, 1000, "5 KB", "完成"},
    };
    CacheFolder folder;
    for (const Case& c : cases) {
        HttpResource r(&folder);
        r.contentLength = c.length;
        r.receivedSize = c.received;
        r.statusCode = c.code;
        r.flags = c.loading ? std::uint32_t(HttpResource::Loading) : 0u;
        QCOMPARE(sizeText(r), std::string(c.size));
        QCOMPARE(statusText(r), std::string(c.status));
    }
}

// A capture whose body did not arrive whole says what happened instead of "完成" and shows
// the bytes that arrived, whether it is live or loaded from its file after a restart.
void ResourceListTest::unfinishedCapturesNeverSayDone() {
    const std::string notStored = [] {
        char text[256];
        std::snprintf(text, sizeof text, loadString(IDS_NOT_STORED), errorText(ENOSPC).c_str());
        return std::string(text);
    }();
    struct Case {
        const char* label;
        std::int32_t code;
        bool answered;
        std::uint32_t result, storeError;
        bool loading, fromDisk;
        std::string status;
    };
    const Case cases[] = {
        {"killed, loaded again", 200, true, kErrorCaptureInterrupted, 0, false, true,
         "200 " + errorText(kErrorCaptureInterrupted)},
        {"cut short by the origin", 200, true, kErrorDataIncomplete, 0, false, false,
         "200 " + errorText(kErrorDataIncomplete)},
        {"disk full, still relaying", 200, true, 0, ENOSPC, true, false, "200 " + notStored},
        {"disk full, over", 200, true, ENOSPC, ENOSPC, false, false, "200 " + notStored},
        {"disk full, loaded again", 200, true, ENOSPC, 0, false, true, "200 " + notStored},
        {"killed before any answer", 0, false, kErrorCaptureInterrupted, 0, false, true,
         errorText(kErrorCaptureInterrupted)},
        {"no connection", 200, false, ECONNREFUSED, 0, false, false, errorText(ECONNREFUSED)},
    };
    CacheFolder folder;
    for (const Case& c : cases) {
        HttpResource r(&folder);
        r.contentLength = 64 << 20;
        r.receivedSize = 3 << 20;
        r.statusCode = c.code;
        r.responseBodyOffset = c.answered ? 100 : 0;
        r.result = c.result;
        r.storeError = c.storeError;
        r.fromDisk = c.fromDisk;
        r.flags = c.loading ? std::uint32_t(HttpResource::Loading) : 0u;
        QVERIFY2(statusText(r) == c.status, c.label);
        QVERIFY2(sizeText(r) == "3,072 KB", c.label);
        QVERIFY2(resourceSizeValue(r) == 3 << 20, c.label);
    }
}

// A tunnel shows what it carried each way and how it ended.
void ResourceListTest::tunnelTexts() {
    struct Case {
        std::int64_t up, down;
        bool loading;
        TunnelEnd end;
        std::uint32_t result;
        const char* size;
        std::string status;
    };
    const Case cases[] = {
        {0, 0, true, TunnelEnd::Open, 0, "\u21910 KB \u21930 KB", "已连接"},
        {2048, 1048577, false, TunnelEnd::ClientClosed, 0, "\u21912 KB \u21931,025 KB",
         "客户端关闭"},
        {1, 1, false, TunnelEnd::ServerClosed, 0, "\u21911 KB \u21931 KB", "服务器关闭"},
        {0, 0, false, TunnelEnd::Stopped, 0, "\u21910 KB \u21930 KB", "停止捕捉时断开"},
        {0, 5, false, TunnelEnd::Open, ECONNRESET, "\u21910 KB \u21931 KB", errorText(ECONNRESET)},
    };
    CacheFolder folder;
    for (const Case& c : cases) {
        HttpResource r(&folder);
        r.tunnel = std::make_unique<HttpResource::TunnelCounts>();
        r.tunnel->toServer = c.up;
        r.tunnel->toClient = c.down;
        r.tunnel->end = c.end;
        r.result = c.result;
        r.flags = c.loading ? std::uint32_t(HttpResource::Loading) : 0u;
        QCOMPARE(sizeText(r), std::string(c.size));
        QCOMPARE(statusText(r), c.status);
        QCOMPARE(resourceSizeValue(r), c.up + c.down);
    }
}

void ResourceListTest::comparisonsAndIcons() {
    QVERIFY(compareTextNoCase("Index.HTML", "index.html") == 0);
    QVERIFY(compareTextNoCase("a", "B") < 0);
    QVERIFY(compareTextNoCase("ab", "a") > 0);
    QVERIFY(compareTextNoCase("图像Ä", "图像ä") == 0);
    QVERIFY(compareTextNoCase("x图", "X图片") < 0);

    ListTreeView list;
    ResourceListAdaptor adaptor(list);
    CacheFolder folder;
    HttpResource one(&folder), kilo(&folder);
    one.contentLength = 1;
    kilo.contentLength = -1;
    kilo.receivedSize = 1024;
    ResourceListItem a{ResourceListItem::ResourceItem, &one, {}, 0};
    ResourceListItem b{ResourceListItem::ResourceItem, &kilo, {}, 0};
    ResourceListItem dir{ResourceListItem::FolderItem, nullptr, "dir", 0};
    ResourceListItem image{ResourceListItem::TypeGroupItem, nullptr, {}, 2};
    ResourceListItem other{ResourceListItem::TypeGroupItem, nullptr, {}, 8};
    auto cmp = [&](const ResourceListItem& x, const ResourceListItem& y) {
        int c = adaptor.CompareItems(reinterpret_cast<std::uintptr_t>(&x),
                                     reinterpret_cast<std::uintptr_t>(&y));
        return (c > 0) - (c < 0);
    };
    list.sortColumn = resourceColumnOfKind(SizeColumn);
    QCOMPARE(adaptor.GetItemText(reinterpret_cast<std::uintptr_t>(&a), 3), std::string("1 KB"));
    QCOMPARE(adaptor.GetItemText(reinterpret_cast<std::uintptr_t>(&b), 3), std::string("1 KB"));
    QCOMPARE(cmp(a, b), -1); // same text, sorted apart by bytes
    QCOMPARE(cmp(dir, a), -1);
    QCOMPARE(cmp(image, other), -1);
    QCOMPARE(adaptor.GetItemText(reinterpret_cast<std::uintptr_t>(&other), 0), std::string("其它"));
    QCOMPARE(adaptor.GetItemText(reinterpret_cast<std::uintptr_t>(&other), 1), std::string());
    list.sortAscending = false;
    QCOMPARE(cmp(a, b), 1);
    QCOMPARE(cmp(dir, a), 1); // resources before groups when descending

    QCOMPARE(ItemImage(dir), int(FolderImage));
    QCOMPARE(ItemImage(image), int(TypeGroupImage));
    one.flags = HttpResource::Loading;
    QCOMPARE(ItemImage(a), int(LoadingImage));
    one.flags = 0;
    one.result = 0xE0000069;
    QCOMPARE(ItemImage(a), int(FailedImage));
    one.result = 0;
    QCOMPARE(ItemImage(a), int(DoneImage));
    // Client and server errors get their own mark; a failed capture keeps the warning.
    for (std::int32_t code : {400, 404, 500, 501, 599}) {
        one.statusCode = code;
        QCOMPARE(ItemImage(a), int(ErrorStatusImage));
    }
    one.result = 0xE0000069;
    QCOMPARE(ItemImage(a), int(FailedImage));
    one.result = 0;
    one.statusCode = 304;
    QCOMPARE(ItemImage(a), int(DoneImage));

    // By status: finished ones by code, those still loading after all of them.
    list.sortColumn = resourceColumnOfKind(StatusColumn);
    list.sortAscending = true;
    one.statusCode = 404;
    kilo.statusCode = 200;
    kilo.flags = 0;
    QCOMPARE(cmp(b, a), -1);
    kilo.statusCode = 500;
    QCOMPARE(cmp(b, a), 1);
    kilo.statusCode = 200;
    kilo.flags = HttpResource::Loading;
    QCOMPARE(cmp(b, a), 1);
}

void ResourceListTest::byDirectoryFolders() {
    Fixture fx;
    fx.settings.values["Window State\\Resources List|View Mode"] = ByDirectory;
    fx.open();
    QCOMPARE(fx.view->mode(), ByDirectory);
    fx.add("http://h/a//b/c.js");
    fx.add("http://H/%41//b/d.js"); // same host and folders, decoded and case folded
    fx.add("http://h/top.html");
    fx.add("http://h/%E5%9B%BE/x.png");
    fx.add("/nohost");
    QCOMPARE(fx.shape(), std::string("h(a(b(c.js d.js)) 图(x.png) top.html) nohost"));
    // Descending puts the files of a folder before its sub-folders.
    fx.view->list()->header->sectionClicked(resourceColumnOfKind(OrdinalColumn));
    QVERIFY(!fx.view->list()->sortAscending);
    fx.add("http://h/z/new.js");
    QCOMPARE(fx.shape(), std::string("nohost h(top.html 图(x.png) z(new.js) a(b(d.js c.js)))"));
}

void ResourceListTest::byTypeGroups() {
    Fixture fx;
    fx.open();
    fx.add("http://h/1.bin", "application/x-thing", 8);
    fx.add("http://h/2.png", "image/png", 2);
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
    fx.add("http://h/3.js", "application/javascript", 0);
    fx.add("http://h/4.gif", "image/gif", 2);
    QCOMPARE(fx.shape(), std::string("应用(3.js) 图像(2.png 4.gif) 其它(1.bin)"));
    QVERIFY(fx.view->list()->autoCheck());
}

void ResourceListTest::byReferrerParents() {
    Fixture fx;
    fx.open();
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_REFERRER);
    fx.add("http://h/page.html");
    fx.add("http://h/late.js", "text/javascript", 6, "http://h/later.html");
    fx.add("http://h/style.css", "text/css", 6, "HTTP://H/page.html"); // folded compare
    fx.add("http://h/later.html", "text/html", 6, "http://h/page.html");
    fx.add("http://h/img.png", "image/png", 2, "http://h/style.css");
    fx.add("http://h/page.html"); // a second page.html: the first one shown stays the parent
    fx.add("http://h/x.js", "text/javascript", 6, "http://h/page.html");
    QCOMPARE(fx.shape(),
             std::string("page.html(style.css(img.png) later.html x.js) late.js page.html"));
    QVERIFY(!fx.view->list()->autoCheck());
    // Rebuilding walks the list in capture order: late.js still finds no referrer before it.
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_ORDER);
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_REFERRER);
    QCOMPARE(fx.shape(),
             std::string("page.html(style.css(img.png) later.html x.js) late.js page.html"));
    // With the rows reversed, the later page.html is the first one shown and gets new rows.
    fx.view->list()->header->sectionClicked(resourceColumnOfKind(OrdinalColumn));
    fx.add("http://h/y.js", "text/javascript", 6, "http://h/page.html");
    QCOMPARE(fx.shape(),
             std::string("page.html(y.js) late.js page.html(x.js later.html style.css(img.png))"));
}

// Positions found by search must be those of the walk over every sibling: before the first
// sibling that sorts after the new row.
void ResourceListTest::insertionMatchesTheOrderedWalk() {
    const char* names[] = {"a.js", "B.js", "c.css", "A.JS", "b.js", "图.png", "d", "C.CSS"};
    for (ViewMode mode : {ByOrder, ByDirectory, ByType, ByReferrer}) {
        for (int kind : {NameColumn, TypeColumn, SizeColumn, StatusColumn, ReferrerColumn}) {
            for (bool ascending : {true, false}) {
                Fixture fx;
                fx.open();
                fx.view->onCommand(int(ID_RESOURCES_LIST_VIEW_BY_ORDER) + int(mode));
                fx.view->list()->sortColumn = resourceColumnOfKind(kind);
                fx.view->list()->sortAscending = ascending;
                fx.view->list()->SortChildren(nullptr);
                std::mt19937 random(7);
                std::vector<HttpResource*> captured;
                const QString where = QString("mode %1 kind %2 ascending %3 row %4")
                                          .arg(mode)
                                          .arg(kind)
                                          .arg(ascending);
                // Enough rows under size and state for the siblings to fill several blocks.
                int rows = kind == SizeColumn || kind == StatusColumn ? 1300 : 300;
                for (int i = 0; i < rows; ++i) {
                    std::string dir = "d" + std::to_string(random() % 3);
                    std::string address = "http://h" + std::to_string(random() % 2) + "/" + dir +
                                          "/" + names[random() % 8];
                    std::string referrer =
                        random() % 2 ? "http://h0/" + dir + "/" + names[random() % 8] : "";
                    // Earlier captures go on: more bytes, then done or failed.
                    HttpResource* busy =
                        captured.empty() ? nullptr : captured[random() % captured.size()];
                    if (busy && (busy->flags & HttpResource::Loading) &&
                        !(busy->flags & HttpResource::Ended)) {
                        busy->receivedSize += static_cast<int>(random() % 3000);
                        if (random() % 4 == 0)
                            busy->flags = random() % 2 ? 0u : busy->flags | HttpResource::Ended;
                    }
                    fx.prepare = [&](HttpResource& r) {
                        r.contentLength = static_cast<int>(random() % 4) * 1000 - 1;
                        if (random() % 3 == 0)
                            r.flags = 0;
                    };
                    HttpResource* r = fx.add(address, names[random() % 8],
                                             static_cast<int>(random() % 9), referrer);
                    captured.push_back(r);
                    ListTreeItem row = fx.row(r);
                    auto cmp = [&](ListTreeItem s) {
                        return fx.view->adaptor().CompareItems(s->data, row->data);
                    };
                    for (ListTreeItem s = fx.tree()->prevSibling(row); s;
                         s = fx.tree()->prevSibling(s))
                        QVERIFY2(cmp(s) <= 0, qPrintable(where.arg(i)));
                    if (ListTreeItem s = fx.tree()->nextSibling(row))
                        QVERIFY2(cmp(s) > 0, qPrintable(where.arg(i)));
                    if (mode == ByReferrer) {
                        // The parent is the first row from the top whose address matches.
                        ListTreeItem parent = nullptr;
                        if (r->referrer.flags)
                            for (ListTreeItem n = fx.tree()->rootItem(); n;
                                 n = fx.tree()->NextInPreorder(n))
                                if (n != row && ResourceListView::itemOf(n)->resource->url.compare(
                                                    r->referrer) == 0) {
                                    parent = n;
                                    break;
                                }
                        QVERIFY2(fx.tree()->parentItem(row) == parent, qPrintable(where.arg(i)));
                    }
                }
            }
        }
    }
}

void ResourceListTest::staleAndRepeatedNotices() {
    Fixture fx;
    fx.open();
    HttpResource* kept = fx.add("http://h/kept.js");
    HttpResource* gone = fx.add("http://h/gone.js", "text/html", 6, {}, false);
    // Queued: added and changed. The resource is taken out and freed before they arrive.
    {
        CaptureLocker lock(captureLock());
        fx.document.notify(DocumentEvent::ResourceChanged, gone, true);
    }
    fx.document.clearAll();
    QCOMPARE(fx.tree()->itemCount(), 0);
    fx.delivery.deliver(); // must not touch the freed resource
    QCOMPARE(fx.tree()->itemCount(), 0);

    // A rebuild shows a resource whose added notice is still queued: it gets one row only.
    HttpResource* late = fx.add("http://h/late.js", "text/html", 6, {}, false);
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_DIRECTORY);
    fx.delivery.deliver();
    QCOMPARE(fx.shape(), std::string("h(late.js)"));
    Q_UNUSED(kept);

    // A change updates the icon in place.
    late->flags = 0;
    {
        CaptureLocker lock(captureLock());
        fx.document.notify(DocumentEvent::ResourceChanged, late, true);
    }
    fx.delivery.deliver();
    QCOMPARE(fx.tree()->itemImage(fx.row(late)), int(DoneImage));
    QCOMPARE(fx.text(fx.row(late), 4), std::string("200 完成"));
}

void ResourceListTest::caretSetsCurrentResource() {
    Fixture fx;
    Recorder panes;
    fx.document.addListener(DocumentEvent::CurrentChanged, &panes);
    fx.settings.values["Window State\\Resources List|View Mode"] = ByDirectory;
    fx.open();
    HttpResource* a = fx.add("http://h/a.js");
    fx.add("http://h/b.js");
    fx.tree()->SelectItem(fx.row(a), false);
    QCOMPARE(fx.document.currentResource, a);
    fx.tree()->SelectItem(fx.tree()->rootItem(), false); // the host folder
    QCOMPARE(fx.document.currentResource, static_cast<HttpResource*>(nullptr));
    QCOMPARE(panes.current, (std::vector<HttpResource*>{a, nullptr}));
    fx.document.removeListener(&panes);
}

void ResourceListTest::modeSwitchKeepsSelectionAndChecks() {
    Fixture fx;
    fx.open();
    HttpResource* a = fx.add("http://h/x/a.js");
    HttpResource* b = fx.add("http://h/x/b.js");
    HttpResource* c = fx.add("http://h/y/c.js");
    HttpResource* d = fx.add("http://g/d.js");
    ListTreeCtrl* t = fx.tree();
    t->SetCheckState(fx.row(a), Checked);
    t->SetCheckState(fx.row(b), Checked);
    t->SetCheckState(fx.row(d), Checked);
    t->SelectItem(fx.row(c), false);
    t->SelectItem(fx.row(a), true);
    Recorder panes;
    fx.document.addListener(DocumentEvent::CurrentChanged, &panes);

    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_DIRECTORY);
    QCOMPARE(fx.shape(), std::string("g(d.js) h(x(a.js b.js) y(c.js))"));
    QCOMPARE(t->selection(), (std::vector<ListTreeItem>{fx.row(c), fx.row(a)}));
    QCOMPARE(t->caret(), fx.row(a));
    ListTreeItem g = t->rootItem(), h = t->nextSibling(g);
    ListTreeItem x = t->childItem(h), y = t->nextSibling(x);
    QCOMPARE(t->checkState(g), int(Checked));
    QCOMPARE(t->checkState(x), int(Checked));
    QCOMPARE(t->checkState(y), int(Unchecked));
    QCOMPARE(t->checkState(h), int(Mixed));
    // The caret went away with the old rows and came back once.
    QCOMPARE(panes.current, (std::vector<HttpResource*>{nullptr, a}));

    // Checking a folder reaches every resource below it; the resource boxes count afterwards.
    t->leftButtonDown(y, ListTreeCore::HitZone::CheckBox, false, false);
    QCOMPARE(t->checkState(fx.row(c)), int(Checked));
    QCOMPARE(t->checkState(h), int(Checked));
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
    QCOMPARE(t->checkState(t->rootItem()), int(Checked));
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_REFERRER);
    for (HttpResource* r : {a, b, c, d})
        QCOMPARE(t->checkState(fx.row(r)), int(Checked));
    // By referrer every box stands alone.
    QVERIFY(!t->autoCheck);

    // Choosing the current mode again changes nothing.
    ListTreeItem before = fx.row(a);
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_REFERRER);
    QCOMPARE(fx.row(a), before);
    fx.document.removeListener(&panes);
}

void ResourceListTest::clearingEmptiesTheList() {
    Fixture fx;
    fx.open();
    HttpResource* a = fx.add("http://h/a.js");
    fx.tree()->SelectItem(fx.row(a), false);
    QCOMPARE(fx.document.currentResource, a);
    fx.document.clearAll();
    QCOMPARE(fx.tree()->itemCount(), 0);
    QVERIFY(fx.tree()->selection().empty());
    QVERIFY(!fx.tree()->caret());
    QCOMPARE(fx.document.currentResource, static_cast<HttpResource*>(nullptr));
    HttpResource* b = fx.add("http://h/b.js");
    QCOMPARE(fx.tree()->itemCount(), 1);
    QVERIFY(fx.row(b));
}

void ResourceListTest::persistentState() {
    const std::string widths = "Window State\\Resources List\\Column Widths|";
    const std::string modeKey = "Window State\\Resources List|View Mode";
    Fixture fx;
    fx.settings.values[widths + "Name"] = 0;
    fx.settings.values[widths + "Type"] = -5;
    fx.settings.values[widths + "URL"] = 420;
    fx.settings.values[modeKey] = 7;
    fx.open();
    ListTreeView* list = fx.view->list();
    QCOMPARE(list->columnWidth(0), 1);
    QCOMPARE(list->columnWidth(1), 1);
    QCOMPARE(list->columnWidth(2), 50);
    const int url = resourceColumnOfKind(UrlColumn);
    QCOMPARE(list->columnWidth(url), 420);
    QCOMPARE(list->header->sectionSize(url), 420);
    QCOMPARE(fx.view->mode(), ByOrder);
    list->setColumnWidth(resourceColumnOfKind(ReferrerColumn), 333);
    fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
    delete fx.view;
    fx.view = nullptr;
    QCOMPARE(fx.settings.values[modeKey], int(ByType));
    QCOMPARE(fx.settings.values[widths + "Referrer"], 333);
    QCOMPARE(fx.settings.values[widths + "Ordinal"], 50);
    // Titles come from the string table, in table order.
    ResourceListView fresh;
    QCOMPARE(fresh.list()->header->model()->headerData(2, Qt::Horizontal).toString(),
             QStringLiteral("序号"));
    QCOMPARE(fresh.list()->columns[3].alignment, unsigned(ColumnInfo::AlignRight));

    // Sizes, types and states (tunnels' too) fit what they usually show; a cell keeps 12
    // pixels of its column.
    const QFontMetrics fm = fresh.tree()->fontMetrics();
    const struct {
        int kind;
        QString text;
    } usual[] = {{SizeColumn, "20,480 KB"},
                 {TypeColumn, "application/octet-stream"},
                 {StatusColumn, "404 完成"},
                 {StatusColumn, "加载中..."},
                 {StatusColumn, "停止捕捉时断开"}};
    for (const auto& u : usual) {
        const int width = fresh.list()->columnWidth(resourceColumnOfKind(u.kind));
        QVERIFY2(fm.horizontalAdvance(u.text) + 12 <= width, qPrintable(u.text));
    }
    // A width on file wins, except the narrow default every earlier run wrote back.
    Fixture again;
    again.settings.values[widths + "Size"] = 50;
    again.settings.values[widths + "Type"] = 161;
    again.open();
    const int size = resourceColumnOfKind(SizeColumn);
    QCOMPARE(again.view->list()->columnWidth(size), fresh.list()->columnWidth(size));
    QCOMPARE(again.view->list()->columnWidth(resourceColumnOfKind(TypeColumn)), 161);
}

void ResourceListTest::commands() {
    Fixture fx;
    fx.open();
    QSignalSpy exports(fx.view, &ResourceListView::exportRequested);
    struct Case {
        int id;
        ViewMode mode;
    };
    for (Case c : {Case{32793, ByDirectory}, Case{32794, ByType}, Case{32795, ByReferrer},
                   Case{32796, ByOrder}, Case{32795, ByReferrer}, Case{32792, ByOrder}}) {
        QVERIFY(fx.view->onCommand(c.id));
        QCOMPARE(fx.view->mode(), c.mode);
        for (int id = 32792; id <= 32796; ++id) {
            bool enabled = false, checked = true;
            QVERIFY(fx.view->commandState(id, &enabled, &checked));
            QVERIFY(enabled);
            QCOMPARE(checked, id != 32796 && id - 32792 == int(c.mode));
        }
    }
    QVERIFY(fx.view->onCommand(ID_RESOURCES_EXPORT));
    QVERIFY(fx.view->onCommand(ID_RESOURCES_MERGE_EXPORT));
    QCOMPARE(exports.count(), 2);
    QCOMPARE(exports.at(1).at(0).toInt(), 32797);
    bool enabled = false;
    QVERIFY(fx.view->commandState(32781, &enabled, nullptr) && enabled);
    QVERIFY(!fx.view->onCommand(32799));
    QVERIFY(!fx.view->commandState(57664, &enabled, nullptr));
}

void ResourceListTest::clicksAndChecks() {
    Fixture fx;
    fx.settings.values["Window State\\Resources List|View Mode"] = ByDirectory;
    fx.open();
    fx.view->show();
    fx.add("http://h/a.js");
    fx.add("http://h/b.js");
    fx.settle();
    ListTreeCtrl* t = fx.tree();
    ListTreeItem host = t->rootItem();
    t->expand(host);
    fx.settle();
    ListTreeItem a = t->childItem(host);
    // The box of a root row with a button lies right of the button, inside column 0.
    QRect label = t->itemRect(host, true);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, fx.at(host, label.left() - 26));
    QCOMPARE(t->checkState(host), int(Checked));
    QCOMPARE(t->checkState(a), int(Checked));
    QVERIFY(t->selection().empty());
    // Right of column 0 a click selects the row, whatever lies under it.
    int right = fx.view->list()->columnWidth(0) + 40;
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, fx.at(a, right));
    QCOMPARE(t->selection(), std::vector<ListTreeItem>{a});
    QCOMPARE(t->checkState(a), int(Checked));
    QCOMPARE(fx.document.currentResource, ResourceListView::itemOf(a)->resource);
}

void ResourceListTest::contextMenus() {
    Fixture fx;
    fx.settings.values["Window State\\Resources List|View Mode"] = ByType;
    fx.open();
    fx.view->show();
    HttpResource* a = fx.add("http://h/%E5%9B%BE.png?q=%20", "image/png", 2);
    HttpResource* b = fx.add("http://h/b.png", "image/png", 2);
    ListTreeCtrl* t = fx.tree();
    ListTreeItem group = t->rootItem();
    t->expand(group);
    fx.settle();
    QSignalSpy exports(fx.view, &ResourceListView::exportRequested);
    int shownMenu = 0;
    QStringList items;
    int choose = 0;
    fx.view->trackPopup = [&](QMenu& menu, const QPoint&) {
        shownMenu = fx.view->contextMenuId();
        items.clear();
        for (QAction* action : menu.actions())
            items << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return choose;
    };
    auto rightClick = [&](ListTreeItem item, Qt::KeyboardModifiers mods = {}) {
        shownMenu = 0;
        QTest::mouseClick(t->viewport(), Qt::RightButton, mods, fx.at(item, 200));
    };

    choose = ID_COPY_ADDRESS;
    rightClick(fx.row(a));
    QCOMPARE(shownMenu, int(ResourceListView::kResourceMenu));
    QCOMPARE(items, QStringList({"复制地址", "导出", "复制为curl命令", "导出为HAR"}));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://h/%E5%9B%BE.png?q=%20"));

    choose = ID_COLLAPSE_ALL;
    rightClick(group);
    QCOMPARE(shownMenu, int(ResourceListView::kFolderMenu));
    QCOMPARE(items, QStringList({"导出目录", "-", "全部展开", "全部折叠"}));
    QVERIFY(!t->isExpanded(group));
    choose = ID_EXPORT_FOLDER;
    rightClick(group);
    QCOMPARE(exports.count(), 1);
    QCOMPARE(exports.at(0).at(1).value<ListTreeItem>(), group);

    // Ctrl keeps the selection; several rows get the selection menu.
    t->expand(group);
    fx.settle();
    t->SelectItem(fx.row(a), false);
    t->SelectItem(fx.row(b), true);
    choose = ID_MERGE_EXPORT_SELECTED;
    rightClick(group, Qt::ControlModifier);
    QCOMPARE(shownMenu, int(ResourceListView::kSelectionMenu));
    QCOMPARE(items, QStringList({"导出", "合并导出", "导出为HAR"}));
    QCOMPARE(exports.count(), 2);
    QCOMPARE(exports.at(1).at(0).toInt(), int(ID_MERGE_EXPORT_SELECTED));
    // Without Ctrl an unselected row is selected alone.
    choose = 0;
    t->SelectItem(fx.row(a), false);
    t->SelectItem(group, true);
    rightClick(fx.row(b));
    QCOMPARE(t->selection(), std::vector<ListTreeItem>{fx.row(b)});
    QCOMPARE(shownMenu, int(ResourceListView::kResourceMenu));
    QCOMPARE(exports.count(), 2);
}

// A few dozen exchanges recorded through the resource's own capture steps (heads parsed, body
// appended, finished), shown by directory.
void ResourceListTest::screenshot() {
    Fixture fx;
    fx.settings.values["Window State\\Resources List|View Mode"] = ByDirectory;
    fx.open(1200, 760);
    fx.view->show();
    struct Capture {
        const char* target;
        const char* referer;
        const char* type;
        int size;
        bool done;
        int code = 200;
    };
    const Capture captures[] = {
        {"http://www.example.cn/", nullptr, "text/html; charset=utf-8", 18231, true},
        {"http://www.example.cn/css/main.css", "http://www.example.cn/", "text/css", 5120, true},
        {"http://www.example.cn/css/Theme.CSS", "http://www.example.cn/", "text/css", 812, true},
        {"http://www.example.cn/js/jquery.min.js", "http://www.example.cn/",
         "application/javascript", 87533, true},
        {"http://www.example.cn/js/app.js?v=3", "http://www.example.cn/", "application/javascript",
         23110, true},
        {"http://www.example.cn/images/%E5%9B%BE%E7%89%87.png", "http://www.example.cn/",
         "image/png", 40960, true},
        {"http://www.example.cn/images/logo.gif", "http://www.example.cn/", "image/gif", 0, false},
        {"http://www.example.cn/%E6%96%B0%E9%97%BB/%E4%BB%8A%E6%97%A5%E8%A6%81%E9%97%BB.html",
         "http://www.example.cn/", "text/html", 30311, true},
        {"http://www.example.cn/%E6%96%B0%E9%97%BB/%E5%9B%BE%E7%89%87/a.jpg",
         "http://www.example.cn/%E6%96%B0%E9%97%BB/", "image/jpeg", 150000, true},
        {"http://img.example.cn/a/b/banner.jpg", "http://www.example.cn/", "image/jpeg", 301234,
         true},
        {"http://img.example.cn/a/b/thumb.webp", "http://www.example.cn/", "image/webp", 9876,
         true},
        {"http://img.example.cn/icons/favicon.ico", nullptr, "image/x-icon", 1150, true},
        {"http://api.example.cn/v1/items?page=1", "http://www.example.cn/", "application/json",
         2048, true},
        {"http://api.example.cn/v1/items?page=2", "http://www.example.cn/", "application/json",
         2050, true},
        {"http://api.example.cn/v1/user", "http://www.example.cn/", "application/json", 300, true},
        {"http://api.example.cn/v2/stream", "http://www.example.cn/", "text/event-stream", 700,
         false},
        {"http://cdn.example.cn/fonts/NotoSansSC.woff2", "http://www.example.cn/css/main.css",
         "font/woff2", 1200000, false},
        {"http://cdn.example.cn/media/clip.mp4", "http://www.example.cn/", "video/mp4", 2500000,
         true},
        {"http://cdn.example.cn/media/sound.mp3", "http://www.example.cn/", "audio/mpeg", 512000,
         true},
        {"http://stats.example.cn/collect?e=view", "http://www.example.cn/", "image/gif", 43, true},
        {"http://stats.example.cn/collect?e=click", "http://www.example.cn/", "image/gif", 43,
         true},
        {"http://blog.example.cn/2026/12/%E7%AC%94%E8%AE%B0.html", nullptr, "text/html", 14000,
         true},
        {"http://blog.example.cn/2026/12/style.css", "http://blog.example.cn/2026/12/", "text/css",
         3000, true},
        {"http://blog.example.cn/feed.xml", nullptr, "application/rss+xml", 8000, true},
        {"http://upload.example.cn/form", "http://www.example.cn/", "multipart/form-data", 100,
         true},
        {"http://www.example.cn/robots.txt", nullptr, "text/plain", 120, true},
        {"http://www.example.cn/js/missing.js", "http://www.example.cn/", "text/html", 310, true,
         404},
        {"http://api.example.cn/v1/order", "http://www.example.cn/", "application/json", 90, true,
         500},
    };
    const std::string body(64 * 1024, 'x');
    for (const Capture& c : captures) {
        auto* r = new HttpResource(&fx.document);
        std::string request = std::string("GET ") + c.target + " HTTP/1.1\r\nHost: x\r\n";
        if (c.referer)
            request += std::string("Referer: ") + c.referer + "\r\n";
        request += "\r\n";
        std::string response = "HTTP/1.1 " + std::to_string(c.code) +
                               " X\r\nContent-Type: " + c.type +
                               "\r\nContent-Length: " + std::to_string(c.size) + "\r\n\r\n";
        HttpRequestHeader requestHead;
        HttpResponseHeader responseHead;
        QVERIFY(parseRequestHeader(request.data(), int(request.size()), requestHead));
        QVERIFY(parseResponseHeader(response.data(), int(response.size()), responseHead));
        QVERIFY(r->begin(fx.nextId++));
        QVERIFY(r->writeRequestHeader(requestHead));
        QVERIFY(r->writeResponseHeader(responseHead));
        int sent = c.done ? c.size : c.size / 3;
        for (int at = 0; at < sent; at += int(body.size())) {
            // As the capture filter does: store the piece, then count it.
            auto piece = std::uint32_t(std::min<int>(sent - at, int(body.size())));
            QVERIFY(r->writeData(body.data(), piece));
            r->receivedSize += piece;
        }
        if (c.done)
            QVERIFY(r->finish());
        CaptureLocker lock(captureLock());
        fx.document.addResource(r);
        fx.document.notify(DocumentEvent::ResourceAdded, r, true);
        fx.document.notify(DocumentEvent::ResourceChanged, r, true);
    }
    fx.delivery.deliver();
    QCOMPARE(fx.tree()->itemCount() > int(std::size(captures)), true);
    ListTreeCtrl* t = fx.tree();
    t->ExpandAll(nullptr);
    HttpResource* second = fx.document.resources.head->next;
    t->SelectItem(fx.row(second), false);
    t->SetCheckState(fx.row(fx.document.resources.head), Checked);
    t->UpdateAncestorChecks(fx.row(fx.document.resources.head), true);
    fx.settle();
    QCOMPARE(fx.text(fx.row(second), 0), std::string("main.css"));
    QCOMPARE(fx.text(fx.row(second), resourceColumnOfKind(UrlColumn)),
             std::string("http://www.example.cn/css/"));
    QCOMPARE(fx.text(fx.row(fx.document.resources.tail->prev->prev), 4), std::string("200 完成"));
    QCOMPARE(fx.text(fx.row(fx.document.resources.tail->prev), 4), std::string("404 完成"));
    QCOMPARE(fx.tree()->itemImage(fx.row(fx.document.resources.tail)), int(ErrorStatusImage));
    // The state of a failed answer stands out in its own ink, the other cells do not.
    const int status = resourceColumnOfKind(StatusColumn);
    auto tone = [&](const HttpResource* r, int column) {
        return fx.view->adaptor().GetItemTone(fx.row(r)->data, column);
    };
    QCOMPARE(tone(fx.document.resources.tail->prev->prev, status), ListTreeAdaptor::Tone::Plain);
    QCOMPARE(tone(fx.document.resources.tail->prev, status), ListTreeAdaptor::Tone::ClientError);
    QCOMPARE(tone(fx.document.resources.tail, status), ListTreeAdaptor::Tone::ServerError);
    QCOMPARE(tone(fx.document.resources.tail, 0), ListTreeAdaptor::Tone::Plain);
    QImage shot = fx.view->grab().toImage();
    QVERIFY(!shot.isNull());
    // The 500 row's state is painted red where the row is not selected.
    const QRect line = fx.tree()->itemRect(fx.row(fx.document.resources.tail), false);
    const auto* header = fx.view->list()->header;
    const QRect cell(header->sectionViewportPosition(status), line.top(),
                     header->sectionSize(status), line.height());
    bool red = false;
    for (int x = cell.left(); x <= cell.right() && !red; ++x)
        for (int y = cell.top(); y <= cell.bottom() && !red; ++y) {
            const QColor c = shot.pixelColor(fx.tree()->mapTo(fx.view, QPoint(x, y)));
            red = c.red() > 150 && c.green() < 60 && c.blue() < 60;
        }
    QVERIFY(red);
    // Kept only when asked for, to look at by eye.
    if (const QByteArray dir = qgetenv("TIDEWELL_SHOT_DIR"); !dir.isEmpty())
        shot.save(QString::fromLocal8Bit(dir) + QStringLiteral("/listview-bydirectory.png"));
}

// Names and addresses near the largest head the proxy takes: rows are laid out
// and painted from a cut text (the whole of it made every paint take most of a
// second), the cut falls between characters, and the row keeps its whole name.
void ResourceListTest::hugeNamesPaint() {
    Fixture fx;
    fx.open(1200, 400);
    fx.view->show();
    HttpResource* ascii = fx.add("http://h.test/" + std::string(900000, 'a'));
    std::string wide;
    for (int i = 0; i < 300000; ++i)
        wide += "%E4%B8%AD";
    HttpResource* chinese = fx.add("http://h.test/x" + wide);
    fx.settle();
    QCOMPARE(fx.text(fx.row(ascii)).size(), std::size_t(900000));
    const int charWidth = fx.tree()->fontMetrics().horizontalAdvance(QChar(0x4E2D));
    for (HttpResource* r : {ascii, chinese}) {
        const QRect label = fx.tree()->itemRect(fx.row(r), true);
        QVERIFY2(label.width() < int(kShownTextBytes + 8) * std::max(charWidth, 16),
                 qPrintable(QString::number(label.width())));
    }
    const QString cut = shownText(fx.text(fx.row(chinese)));
    QVERIFY(cut.endsWith(QChar(0x2026)));
    QVERIFY(!cut.contains(QChar::ReplacementCharacter));
    QVERIFY(cut.startsWith(QString(u'x') + QChar(0x4E2D)));
    QVERIFY(!fx.view->grab().isNull());
}

// The same captures filtered in each arrangement: what stays, the folders and groups that
// carry it, live captures joining them, "check all" reaching only what is shown, and the list
// back whole afterwards.
void ResourceListTest::filterInEveryArrangement() {
    struct Expected {
        ViewMode mode;
        const char* filtered;
        const char* live;
    };
    const Expected cases[] = {
        {ByOrder, "logo.png", "logo.png none.js"},
        {ByDirectory, "h(p(img(logo.png)))", "h(p(img(logo.png))) k(z(none.js))"},
        {ByType, "图像(logo.png)", "应用(none.js) 图像(logo.png)"},
        {ByReferrer, "~page.html(logo.png)", "~page.html(~site.css(none.js) logo.png)"},
    };
    for (const Expected& c : cases) {
        const QByteArray where = QByteArray("mode ") + QByteArray::number(c.mode);
        Fixture fx;
        fx.settings.values["Window State\\Resources List|View Mode"] = c.mode;
        fx.open();
        std::int32_t code = 200;
        fx.prepare = [&](HttpResource& r) {
            r.statusCode = code;
            r.flags = 0;
        };
        auto add = [&](const char* address, const char* type, int category, const char* referrer,
                       std::int32_t status) {
            code = status;
            return fx.add(address, type, category, referrer);
        };
        HttpResource* page = add("http://h/p/page.html", "text/html", 6, "", 200);
        add("http://h/p/css/site.css", "text/css", 6, "http://h/p/page.html", 200);
        add("http://h/p/img/logo.png", "image/png", 2, "http://h/p/page.html", 404);
        add("http://g/api/echo", "application/json", 0, "http://h/p/page.html", 500);
        add("http://h/p/img/x.gif", "image/gif", 2, "http://h/p/css/site.css", 200);
        ListTreeCtrl* t = fx.tree();
        t->SelectItem(fx.row(page), false);
        QCOMPARE(fx.document.currentResource, page);

        fx.view->setFilterText("status:4xx");
        QVERIFY2(fx.shown() == c.filtered, (where + " " + fx.shown().c_str()).constData());
        QCOMPARE(fx.view->shownResourceCount(), 1);
        QCOMPARE(fx.view->resourceRowCount(), 5);
        // The row the panes showed went away with its resource.
        QVERIFY(!t->caret() || !t->isItemHidden(t->caret()));
        if (c.mode != ByReferrer)
            QCOMPARE(fx.document.currentResource, static_cast<HttpResource*>(nullptr));

        // Live captures join the arrangement shown or hidden as they arrive.
        add("http://k/z/none.js", "text/javascript", 0, "http://h/p/css/site.css", 404);
        add("http://h/p/fine.js", "text/javascript", 0, "http://h/p/css/site.css", 200);
        QVERIFY2(fx.shown() == c.live, (where + " " + fx.shown().c_str()).constData());
        QCOMPARE(fx.view->shownResourceCount(), 2);
        QCOMPARE(fx.view->resourceRowCount(), 7);

        // Rows that came in live under a new folder or page wait there closed.
        if (ListTreeItem parent = t->parentItem(fx.row(fx.document.resources.tail->prev)))
            QVERIFY(!t->isExpanded(parent));
        // Opened, a click on the first row, select all and Space: the matching resources are
        // checked, nothing hidden or faint.
        t->ExpandAll(nullptr);
        t->leftButtonDown(t->itemAtRow(0), ListTreeCore::HitZone::Label, false, false);
        t->SelectRange(t->itemAtRow(0), t->lastVisible(), false);
        t->keyDown(ListTreeCore::Key::Space, false, false, 10);
        std::vector<std::string> checked;
        for (HttpResource* r = fx.document.resources.head; r; r = r->next)
            if (t->checkState(fx.row(r)) == Checked)
                checked.push_back(r->name);
        QVERIFY2((checked == std::vector<std::string>{"logo.png", "none.js"}),
                 (where + " " + QByteArray::number(int(checked.size())) + " " +
                  (checked.empty() ? "" : checked.front().c_str()))
                     .constData());

        // Another arrangement keeps the filter; without it every row is back and the group
        // boxes count every row again.
        fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
        QCOMPARE(fx.shown(), std::string("应用(none.js) 图像(logo.png)"));
        QCOMPARE(t->checkState(t->rootItem()), int(Checked)); // 应用: none.js alone shown
        fx.view->setFilterText("");
        QCOMPARE(fx.shown(), fx.shape());
        QCOMPARE(t->checkState(t->rootItem()), int(Mixed));
        fx.view->onCommand(int(ID_RESOURCES_LIST_VIEW_BY_ORDER) + int(c.mode));
        QCOMPARE(fx.view->shownResourceCount(), 7);
        QCOMPARE(fx.shown(), fx.shape());
    }
}

// The field: typing filters once the keys are in, a bad status code is shown, Escape clears it
// and hands the keys to the list, and a filter that keeps nothing says so.
void ResourceListTest::filterFieldKeys() {
    Fixture fx;
    fx.open();
    fx.view->show();
    fx.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(fx.view));
    fx.add("http://h/a.js");
    fx.add("http://h/b.css");
    QLineEdit* field = fx.view->filterField();
    QVERIFY(field->geometry().bottom() < fx.view->list()->geometry().top());
    fx.view->focusFilter();
    QTest::keyClicks(field, "b.c");
    QTRY_COMPARE(fx.shown(), std::string("b.css"));
    QTest::keyClicks(field, " status:9z");
    QTRY_VERIFY(!field->toolTip().isEmpty());
    QVERIFY(field->toolTip().contains("9z"));
    QCOMPARE(fx.shown(), std::string("b.css"));
    fx.view->setFilterText("nothing-like-it");
    QTRY_VERIFY(!fx.tree()->emptyText.isEmpty());
    QTest::keyClick(field, Qt::Key_Escape);
    QCOMPARE(field->text(), QString());
    QCOMPARE(fx.shown(), std::string("a.js b.css"));
    QTRY_VERIFY(fx.tree()->hasFocus());
    QTRY_VERIFY(fx.tree()->emptyText.isEmpty());
}

QTEST_MAIN(ResourceListTest)
#include "resource_list_test.moc"
