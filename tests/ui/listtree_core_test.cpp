// Selection, checks, input rules, ordering and layout arithmetic of the list-tree control.
#include "ui/browser/ListTreeCore.h"
#include "ui/browser/ListTreeLayout.h"

#include <QtTest>
#include <functional>
#include <map>
#include <random>
#include <sstream>

namespace {

// A tree written as "a(b,c(d,e)),f"; "+" after a name expands it: "a+(b,c)". Item data is the
// item's position in the text, so data order is the order written.
class Tree : public ListTreeCore {
public:
    explicit Tree(const std::string& shape) {
        std::size_t pos = 0;
        parse(shape, pos, nullptr);
    }
    ~Tree() override { deleteAllItems(); }

    ListTreeItem operator[](const std::string& name) const {
        auto it = byName.find(name);
        if (it == byName.end())
            qFatal("no item %s", name.c_str());
        return it->second;
    }
    ListTreeItem add(ListTreeItem parent, ListTreeItem before, const std::string& name) {
        return byName[name] = insertItem(parent, before, byName.size(), name);
    }
    std::string name(ListTreeItem item) const { return item ? itemText(item) : "-"; }
    std::string names(const std::vector<ListTreeItem>& items) const {
        std::string s;
        for (ListTreeItem n : items)
            s += (s.empty() ? "" : " ") + name(n);
        return s;
    }
    std::string rows() const {
        std::vector<ListTreeItem> v;
        for (int r = 0; r < visibleCount(); ++r)
            v.push_back(itemAtRow(r));
        return names(v);
    }
    std::string preorder() const {
        std::vector<ListTreeItem> v;
        for (ListTreeItem n = rootItem(); n; n = NextInPreorder(n))
            v.push_back(n);
        return names(v);
    }
    // Check boxes in pre-order: "a=M b=C c=U"; an item with state image 0 shows "?".
    std::string checks() const {
        std::string s;
        for (ListTreeItem n = rootItem(); n; n = NextInPreorder(n)) {
            int v = checkState(n);
            s += (s.empty() ? "" : " ") + name(n) + "=" + "?UCM"[v + 1];
        }
        return s;
    }

    // One script step: "L a" left click on a's row, "Lc"/"Ls"/"Lcs" with Ctrl/Shift, "B a" on
    // a's button, "X a" on a's check box, "R a"/"Rc a" right click, "D a" double click,
    // "K Down"/"Ks Down"/"Kc Down" keys, "auto" switches AutoCheck on, "C a" sets a Checked.
    void run(const std::string& script) {
        std::istringstream in(script);
        std::string op, arg;
        while (in >> op) {
            if (op == "auto") {
                autoCheck = true;
                continue;
            }
            in >> arg;
            bool ctrl = op.find('c') != std::string::npos;
            bool shift = op.find('s') != std::string::npos;
            switch (op[0]) {
            case 'L':
                leftButtonDown((*this)[arg], HitZone::Label, ctrl, shift);
                break;
            case 'B':
                leftButtonDown((*this)[arg], HitZone::Button, false, false);
                break;
            case 'X':
                leftButtonDown((*this)[arg], HitZone::CheckBox, false, false);
                break;
            case 'R':
                rightClicks += rightButtonDown((*this)[arg], ctrl);
                break;
            case 'D':
                doubleClick((*this)[arg]);
                break;
            case 'C':
                SetCheckState((*this)[arg], Checked);
                break;
            case 'K': {
                static const std::map<std::string, Key> keys = {
                    {"Up", Key::Up},       {"Down", Key::Down},     {"Home", Key::Home},
                    {"End", Key::End},     {"PageUp", Key::PageUp}, {"PageDown", Key::PageDown},
                    {"Space", Key::Space}, {"Left", Key::Other},    {"Right", Key::Other}};
                keyDown(keys.at(arg), ctrl, shift, pageRowsForKeys);
                break;
            }
            default:
                qFatal("bad step %s", op.c_str());
            }
        }
    }

    std::map<std::string, ListTreeItem> byName;
    std::vector<std::string> log;
    int rightClicks = 0;
    int pageRowsForKeys = 3;

protected:
    void caretChanged(ListTreeItem o, ListTreeItem n) override {
        log.push_back("caret " + name(o) + ">" + name(n));
    }
    void itemDeleting(ListTreeItem item) override { log.push_back("delete " + name(item)); }

private:
    void parse(const std::string& s, std::size_t& pos, ListTreeItem parent) {
        while (pos < s.size()) {
            std::size_t start = pos;
            while (pos < s.size() && std::isalnum(static_cast<unsigned char>(s[pos])))
                ++pos;
            std::string name = s.substr(start, pos - start);
            ListTreeItem item = insertItem(parent, nullptr, byName.size(), name);
            byName[name] = item;
            bool open = pos < s.size() && s[pos] == '+';
            if (open)
                ++pos;
            if (pos < s.size() && s[pos] == '(') {
                ++pos;
                parse(s, pos, item);
                ++pos; // ')'
            }
            if (open)
                expand(item);
            if (pos < s.size() && s[pos] == ',') {
                ++pos;
                continue;
            }
            return;
        }
    }
};

} // namespace

class ListTreeCoreTest : public QObject {
    Q_OBJECT
private slots:
    void rowsFollowExpansion_data();
    void rowsFollowExpansion();
    void insertAndDeleteKeepRowsAndSelectionSound();
    void randomEditsKeepRowsAndSelectionTrue();
    void mouseAndKeys_data();
    void mouseAndKeys();
    void keyTargets_data();
    void keyTargets();
    void checkPropagation_data();
    void checkPropagation();
    void recalcChecksSettlesEveryGroup();
    void sortingIsStableAndRecursive();
    void effectiveZone_data();
    void effectiveZone();
    void layout_data();
    void layout();
    void horizontalScroll_data();
    void horizontalScroll();
    void cellSpans();
};

void ListTreeCoreTest::rowsFollowExpansion_data() {
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QString>("script"); // items to toggle, in order
    QTest::addColumn<QString>("rows");
    QTest::newRow("collapsed") << "a(b,c(d)),e"
                               << ""
                               << "a e";
    QTest::newRow("expanded") << "a+(b,c+(d)),e"
                              << ""
                              << "a b c d e";
    QTest::newRow("inner stays open under a closed parent") << "a(b,c+(d)),e"
                                                            << ""
                                                            << "a e";
    QTest::newRow("reopening shows the open inner level") << "a(b,c+(d)),e"
                                                          << "a"
                                                          << "a b c d e";
    QTest::newRow("leaf never expands") << "a,b"
                                        << "a"
                                        << "a b";
    QTest::newRow("collapse") << "a+(b+(c)),d"
                              << "b"
                              << "a b d";
}

void ListTreeCoreTest::rowsFollowExpansion() {
    QFETCH(QString, tree);
    QFETCH(QString, script);
    QFETCH(QString, rows);
    Tree t(tree.toStdString());
    for (const QString& name : script.split(' ', Qt::SkipEmptyParts))
        t.toggle(t[name.toStdString()]);
    QCOMPARE(QString::fromStdString(t.rows()), rows);
    // Pre-order visits every item once, parents first, whatever is expanded.
    std::string all = t.preorder();
    QCOMPARE(std::count(all.begin(), all.end(), ' ') + 1, std::ptrdiff_t(t.itemCount()));
}

void ListTreeCoreTest::insertAndDeleteKeepRowsAndSelectionSound() {
    Tree t("a+(b,c),d");
    QCOMPARE(t.rows(), std::string("a b c d"));
    // Appends at the root end, inserts before a sibling and under an open parent.
    ListTreeItem e = t.add(nullptr, nullptr, "e");
    QCOMPARE(t.rowOf(e), 4);
    t.add(nullptr, t["d"], "x");
    t.add(t["a"], t["b"], "y");
    t.add(t["d"], nullptr, "hidden");
    QCOMPARE(t.rows(), std::string("a y b c x d e"));
    QCOMPARE(t.preorder(), std::string("a y b c x d hidden e"));

    t.run("L b Lc c Lc e");
    QCOMPARE(t.names(t.selection()), std::string("b c e"));
    t.log.clear();
    t.deleteItem(t["a"]);
    QCOMPARE(t.names(t.selection()), std::string("e"));
    QCOMPARE(t.rows(), std::string("x d e"));
    QCOMPARE(t.log, (std::vector<std::string>{"delete c", "delete b", "delete y", "delete a"}));
    // The caret leaves before its row goes, with its handle still valid for the notice.
    t.log.clear();
    t.deleteItem(t["e"]);
    QCOMPARE(t.log, (std::vector<std::string>{"caret e>-", "delete e"}));
    QVERIFY(t.selection().empty());
    QCOMPARE(t.itemCount(), 3);
    t.run("L d");
    t.log.clear();
    t.deleteAllItems();
    QCOMPARE(t.log,
             (std::vector<std::string>{"caret d>-", "delete hidden", "delete d", "delete x"}));
    QCOMPARE(t.visibleCount(), 0);
    QVERIFY(t.selection().empty() && !t.anchor() && !t.caret());
}

void ListTreeCoreTest::randomEditsKeepRowsAndSelectionTrue() {
    // The row table is kept lazily and extended in place; after any mix of edits it must equal
    // the rows found by walking the tree, and the selection must agree with the row flags.
    // Hidden items (a filter) take no rows and leave the selection, and the counts of shown
    // children that the check propagation relies on stay true.
    Tree t("");
    std::vector<ListTreeItem> all;
    std::mt19937 rng(7);
    auto pick = [&]() { return all.empty() ? nullptr : all[rng() % all.size()]; };
    auto walk = [&]() {
        std::vector<ListTreeItem> shown;
        std::function<void(ListTreeItem)> visit = [&](ListTreeItem n) {
            if (t.isItemHidden(n))
                return;
            shown.push_back(n);
            if (t.isExpanded(n))
                for (ListTreeItem c = t.childItem(n); c; c = t.nextSibling(c))
                    visit(c);
        };
        for (ListTreeItem c = t.childItem(nullptr); c; c = t.nextSibling(c))
            visit(c);
        return shown;
    };
    for (int step = 0; step < 3000; ++step) {
        ListTreeItem n = pick();
        switch (rng() % 12) {
        case 0:
        case 1:
        case 2: {
            ListTreeItem parent = rng() % 3 ? n : nullptr;
            ListTreeItem before = parent && rng() % 2 ? t.childItem(parent) : nullptr;
            all.push_back(t.insertItem(parent, before, step, std::to_string(step), rng() % 4 == 0));
            break;
        }
        case 3:
            if (n && rng() % 4 == 0) {
                t.deleteItem(n);
                all.clear();
                for (ListTreeItem m = t.rootItem(); m; m = t.NextInPreorder(m))
                    all.push_back(m);
            }
            break;
        case 4:
            if (n)
                t.toggle(n);
            break;
        case 5:
            if (n)
                t.leftButtonDown(n, ListTreeCore::HitZone::Label, rng() % 2, rng() % 2);
            break;
        case 6:
            t.keyDown(rng() % 2 ? ListTreeCore::Key::Down : ListTreeCore::Key::Up, false, rng() % 2,
                      3);
            break;
        case 7:
            if (n)
                t.leftButtonDown(n, ListTreeCore::HitZone::Button, false, false);
            break;
        case 8:
            t.sortChildren(rng() % 2 ? n : nullptr, [](std::uintptr_t a, std::uintptr_t b) {
                return int(b % 5) - int(a % 5);
            });
            break;
        case 9:
            if (n)
                t.setItemHidden(n, !t.isItemHidden(n));
            break;
        case 10:
            if (n)
                t.SetCheckState(n, int(rng() % 3));
            break;
        default:
            (void)t.visibleCount(); // settle the table now and then, as a paint would
        }
        std::vector<ListTreeItem> shown = walk();
        QCOMPARE(t.visibleCount(), int(shown.size()));
        for (int r = 0; r < int(shown.size()); ++r) {
            QCOMPARE(t.itemAtRow(r), shown[r]);
            QCOMPARE(t.rowOf(shown[r]), r);
        }
        QCOMPARE(t.itemCount(), int(all.size()));
        int flagged = 0;
        for (ListTreeItem m : all)
            flagged += t.isSelected(m);
        QCOMPARE(flagged, int(t.selection().size()));
        if (t.caret())
            QVERIFY(t.rowOf(t.caret()) >= 0);
        auto underHidden = [&](ListTreeItem m) {
            for (; m; m = t.parentItem(m))
                if (t.isItemHidden(m))
                    return true;
            return false;
        };
        for (ListTreeItem m : t.selection())
            QVERIFY(!underHidden(m));
        for (ListTreeItem m : all) {
            int shownKids = 0, checked = 0, unchecked = 0;
            for (ListTreeItem c = t.childItem(m); c; c = t.nextSibling(c)) {
                if (t.isItemHidden(c))
                    continue;
                ++shownKids;
                checked += t.checkState(c) == Checked;
                unchecked += t.checkState(c) == Unchecked;
            }
            QCOMPARE(m->shownChildren, shownKids);
            QCOMPARE(m->childChecked, checked);
            QCOMPARE(m->childUnchecked, unchecked);
        }
    }
}

void ListTreeCoreTest::mouseAndKeys_data() {
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("caret");
    QTest::addColumn<QString>("anchor");
    const QString flat = "a,b,c,d,e,f";
    const QString nested = "a+(b,c+(d,e)),f";
    QTest::newRow("click selects alone") << flat << "L b L d"
                                         << "d"
                                         << "d"
                                         << "d";
    QTest::newRow("ctrl adds in click order") << flat << "L d Lc b Lc f"
                                              << "d b f"
                                              << "f"
                                              << "f";
    QTest::newRow("ctrl on the caret removes it and clears the caret") << flat << "L d Lc b Lc b"
                                                                       << "d"
                                                                       << "-"
                                                                       << "b";
    QTest::newRow("shift range upwards, anchor stays") << flat << "L e Ls b"
                                                       << "b c d e"
                                                       << "b"
                                                       << "e";
    QTest::newRow("ctrl shift adds a range") << flat << "L a Lc d Lcs f"
                                             << "a d e f"
                                             << "f"
                                             << "d";
    QTest::newRow("shift without anchor selects alone") << flat << "Ls c"
                                                        << "c"
                                                        << "c"
                                                        << "c";
    QTest::newRow("button collapses and drops hidden rows from the selection")
        << nested << "L d Lc e Lc f B c"
        << "f"
        << "f"
        << "f";
    QTest::newRow("collapse clears a caret inside") << nested << "L f Lc d B c"
                                                    << "f"
                                                    << "-"
                                                    << "-";
    QTest::newRow("double click collapses like the button") << nested << "L e D a"
                                                            << ""
                                                            << "-"
                                                            << "-";
    QTest::newRow("check box leaves selection alone") << flat << "L b X d"
                                                      << "b"
                                                      << "b"
                                                      << "b";
    QTest::newRow("right click selects an unselected row alone") << flat << "L a Lc b R d"
                                                                 << "d"
                                                                 << "d"
                                                                 << "b";
    QTest::newRow("right click keeps a selection it falls in") << flat << "L a Lc b R a"
                                                               << "a b"
                                                               << "b"
                                                               << "b";
    QTest::newRow("ctrl right click keeps the selection") << flat << "L a Lc b Rc d"
                                                          << "a b"
                                                          << "b"
                                                          << "b";
    QTest::newRow("down moves caret and anchor") << flat << "L b K Down K Down"
                                                 << "d"
                                                 << "d"
                                                 << "d";
    QTest::newRow("shift down extends from the anchor") << flat << "L b Ks Down Ks Down"
                                                        << "b c d"
                                                        << "d"
                                                        << "b";
    QTest::newRow("shift up past the anchor flips the range") << flat << "L c Ks Down Ks Up Ks Up"
                                                              << "b c"
                                                              << "b"
                                                              << "c";
    QTest::newRow("left and right do nothing") << nested << "L c K Left K Right"
                                               << "c"
                                               << "c"
                                               << "c";
    QTest::newRow("ctrl keys scroll only") << flat << "L b Kc Down Kc End"
                                           << "b"
                                           << "b"
                                           << "b";
    QTest::newRow("end and home") << nested << "L b K End Ks Home"
                                  << "a b c d e f"
                                  << "a"
                                  << "f";
    QTest::newRow("keys skip collapsed rows") << "a(b),c"
                                              << "L a K Down"
                                              << "c"
                                              << "c"
                                              << "c";
}

void ListTreeCoreTest::mouseAndKeys() {
    QFETCH(QString, tree);
    QFETCH(QString, script);
    QFETCH(QString, selection);
    QFETCH(QString, caret);
    QFETCH(QString, anchor);
    Tree t(tree.toStdString());
    t.run(script.toStdString());
    QCOMPARE(QString::fromStdString(t.names(t.selection())), selection);
    QCOMPARE(QString::fromStdString(t.name(t.caret())), caret);
    QCOMPARE(QString::fromStdString(t.name(t.anchor())), anchor);
    for (ListTreeItem n = t.rootItem(); n; n = t.NextInPreorder(n)) {
        bool listed =
            std::find(t.selection().begin(), t.selection().end(), n) != t.selection().end();
        QCOMPARE(t.isSelected(n), listed);
    }
}

void ListTreeCoreTest::keyTargets_data() {
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("caret");
    QTest::addColumn<int>("pageRows");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("target");
    using K = ListTreeCore::Key;
    QTest::newRow("page down from caret") << 0 << "b" << 4 << int(K::PageDown) << "e";
    QTest::newRow("page down stops at the last row") << 0 << "h" << 4 << int(K::PageDown) << "j";
    QTest::newRow("page down without caret starts at the top row")
        << 5 << "" << 3 << int(K::PageDown) << "h";
    QTest::newRow("page up from caret") << 0 << "f" << 4 << int(K::PageUp) << "c";
    QTest::newRow("page up stops at the first row") << 0 << "b" << 4 << int(K::PageUp) << "a";
    QTest::newRow("page up without caret is the top row") << 6 << "" << 4 << int(K::PageUp) << "g";
    QTest::newRow("one-row page stays") << 0 << "d" << 1 << int(K::PageDown) << "d";
    QTest::newRow("no room, no target") << 0 << "d" << 0 << int(K::PageDown) << "-";
    QTest::newRow("up from the first row") << 0 << "a" << 4 << int(K::Up) << "-";
    QTest::newRow("down without caret") << 0 << "" << 4 << int(K::Down) << "-";
    QTest::newRow("home") << 4 << "" << 4 << int(K::Home) << "a";
    QTest::newRow("end") << 0 << "c" << 4 << int(K::End) << "j";
}

void ListTreeCoreTest::keyTargets() {
    QFETCH(int, top);
    QFETCH(QString, caret);
    QFETCH(int, pageRows);
    QFETCH(int, key);
    QFETCH(QString, target);
    Tree t("a,b,c,d,e,f,g,h,i,j");
    t.setTopRow(top);
    if (!caret.isEmpty())
        t.setCaret(t[caret.toStdString()]);
    ListTreeItem got = t.keyTarget(static_cast<ListTreeCore::Key>(key), pageRows);
    QCOMPARE(QString::fromStdString(t.name(got)), target);
}

void ListTreeCoreTest::checkPropagation_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("checks");
    // r(p(a,b,c),q(d)): two groups under one root group.
    QTest::newRow("independent without AutoCheck") << "X a X p"
                                                   << "r=U p=C a=C b=U c=U q=U d=U";
    QTest::newRow("first child makes the ancestors mixed") << "auto X a"
                                                           << "r=M p=M a=C b=U c=U q=U d=U";
    QTest::newRow("last unchecked child completes the parent") << "auto X a X b X c"
                                                               << "r=M p=C a=C b=C c=C q=U d=U";
    QTest::newRow("checking a group checks below and settles above")
        << "auto X p X q"
        << "r=C p=C a=C b=C c=C q=C d=C";
    QTest::newRow("one unchecked of a full group mixes every ancestor")
        << "auto X r X b"
        << "r=M p=M a=C b=U c=C q=C d=C";
    QTest::newRow("unchecking the last checked child clears the parent")
        << "auto X a X a"
        << "r=U p=U a=U b=U c=U q=U d=U";
    QTest::newRow("a mixed group unchecks on a click") << "auto X a X p"
                                                       << "r=U p=U a=U b=U c=U q=U d=U";
    QTest::newRow("click on a selected box sets the whole selection")
        << "L a Lc d X d"
        << "r=U p=U a=C b=U c=U q=U d=C";
    QTest::newRow("selection follows the clicked box's state") << "C a L a Lc b X a"
                                                               << "r=U p=U a=U b=U c=U q=U d=U";
    QTest::newRow("space follows the caret with AutoCheck") << "auto L b Lc d K Space"
                                                            << "r=M p=M a=U b=C c=U q=C d=C";
    QTest::newRow("space on a checked caret unchecks the selection")
        << "C b L a Lc b K Space"
        << "r=U p=U a=U b=U c=U q=U d=U";
}

void ListTreeCoreTest::checkPropagation() {
    QFETCH(QString, script);
    QFETCH(QString, checks);
    Tree t("r+(p+(a,b,c),q+(d))");
    t.run(script.toStdString());
    QCOMPARE(QString::fromStdString(t.checks()), checks);
}

void ListTreeCoreTest::recalcChecksSettlesEveryGroup() {
    // Groups after the first differing sibling are settled too, so a rebuilt tree shows every
    // group's real state; mixed-in image 0 counts as different from everything.
    Tree t("g1(a,b),g2(c,d),g3(e,f),g4(h(i,j)),g5(k)");
    for (const char* n : {"c", "e", "f", "i", "j"})
        t.SetCheckState(t[n], Checked);
    t.setStateImage(t["k"], 0);
    QCOMPARE(t.RecalcChecks(nullptr), int(Mixed));
    QCOMPARE(t.checks(),
             std::string("g1=U a=U b=U g2=M c=C d=U g3=C e=C f=C g4=C h=C i=C j=C g5=? k=?"));
    QCOMPARE(t.RecalcChecks(t["g3"]), int(Checked));
    QCOMPARE(t.RecalcChecks(t["a"]), int(Unchecked));
    Tree uniform("x(y),z");
    QCOMPARE(uniform.RecalcChecks(nullptr), int(Unchecked));
}

void ListTreeCoreTest::sortingIsStableAndRecursive() {
    Tree t("a+(a3,a1,a2),c(c2,c1),b");
    // Descending by data, except that a1 and a3 compare equal to each other.
    auto desc = [&](std::uintptr_t x, std::uintptr_t y) {
        auto key = [&](std::uintptr_t d) { return d == t["a1"]->data ? t["a3"]->data : d; };
        return key(x) < key(y) ? 1 : key(x) > key(y) ? -1 : 0;
    };
    t.sortChildren(nullptr, desc);
    QCOMPARE(t.preorder(), std::string("b c c1 c2 a a2 a3 a1"));
    QCOMPARE(t.rows(), std::string("b c a a2 a3 a1"));
    // A leaf asks for nothing; a group sorts only below itself.
    t.sortChildren(t["b"], [](std::uintptr_t, std::uintptr_t) -> int { qFatal("compared"); });
    t.sortChildren(t["a"], [](std::uintptr_t x, std::uintptr_t y) { return int(x) - int(y); });
    QCOMPARE(t.preorder(), std::string("b c c1 c2 a a3 a1 a2"));
    // A comparison that is no order at all still leaves every row in place exactly once.
    Tree big("r+(a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,s,t,u,v,w,x,y,z)");
    big.sortChildren(nullptr,
                     [](std::uintptr_t x, std::uintptr_t y) { return int((x * 7 + y) % 3) - 1; });
    QCOMPARE(big.childCount(big["r"]), 25);
    QCOMPARE(big.visibleCount(), 26);
}

void ListTreeCoreTest::effectiveZone_data() {
    QTest::addColumn<int>("zone");
    QTest::addColumn<int>("x");
    QTest::addColumn<bool>("columns");
    QTest::addColumn<int>("expected");
    using Z = ListTreeCore::HitZone;
    QTest::newRow("box in column 0") << int(Z::CheckBox) << 29 << true << int(Z::CheckBox);
    QTest::newRow("box at the boundary") << int(Z::CheckBox) << 30 << true << int(Z::Right);
    QTest::newRow("button right of column 0") << int(Z::Button) << 40 << true << int(Z::Right);
    QTest::newRow("icon right of column 0") << int(Z::Icon) << 40 << true << int(Z::Right);
    QTest::newRow("label unchanged") << int(Z::Label) << 40 << true << int(Z::Label);
    QTest::newRow("no columns") << int(Z::CheckBox) << 40 << false << int(Z::CheckBox);
}

void ListTreeCoreTest::effectiveZone() {
    QFETCH(int, zone);
    QFETCH(int, x);
    QFETCH(bool, columns);
    QFETCH(int, expected);
    auto got =
        ListTreeCore::effectiveZone(static_cast<ListTreeCore::HitZone>(zone), x, 30, columns);
    QCOMPARE(int(got), expected);
}

void ListTreeCoreTest::layout_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("totalWidth");
    QTest::addColumn<int>("scrollPos");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("expected"); // offset needH needV | tree | header | bar | scroll
    // Control 400 x 300, header 24, bars 16, rows 20 high.
    QTest::newRow("fits") << 400 << 300 << 0 << 5
                          << "0 0 0 | 0 24 400 276 | 0 0 400 24 | 0 284 400 16 | 0 0 0";
    QTest::newRow("tall") << 400 << 300 << 0 << 14
                          << "0 0 1 | 0 24 400 276 | 0 0 384 24 | 0 284 384 16 | 0 0 0";
    QTest::newRow("wide, scrolled")
        << 400 << 1000 << 150 << 5
        << "150 1 0 | -150 24 550 260 | -150 0 550 24 | 0 284 400 16 | 1000 400 150";
    QTest::newRow("wide and tall")
        << 400 << 1000 << 0 << 14
        << "0 1 1 | 0 24 400 260 | 0 0 384 24 | 0 284 384 16 | 1000 400 0";
    QTest::newRow("position beyond the end after a widening")
        << 900 << 1000 << 500 << 0
        << "100 1 0 | -100 24 1000 260 | -100 0 1000 24 | 0 284 900 16 | 1000 900 100";
    QTest::newRow("wider than the columns")
        << 1200 << 1000 << 300 << 0
        << "0 0 0 | 0 24 1200 276 | 0 0 1200 24 | 0 284 1200 16 | 0 0 0";
}

void ListTreeCoreTest::layout() {
    QFETCH(int, width);
    QFETCH(int, totalWidth);
    QFETCH(int, scrollPos);
    QFETCH(int, rows);
    QFETCH(QString, expected);
    ListTreeLayoutInput in;
    in.width = width;
    in.height = 300;
    in.totalWidth = totalWidth;
    in.scrollPos = scrollPos;
    in.headerHeight = 24;
    in.scrollBarWidth = 16;
    in.scrollBarHeight = 16;
    in.rowCount = rows;
    in.itemHeight = 20;
    ListTreeLayout o = computeListTreeLayout(in);
    auto r = [](const LayoutRect& x) {
        return QString("%1 %2 %3 %4").arg(x.x).arg(x.y).arg(x.width).arg(x.height);
    };
    QString got = QString("%1 %2 %3 | %4 | %5 | %6 | %7 %8 %9")
                      .arg(o.offset)
                      .arg(int(o.needH))
                      .arg(int(o.needV))
                      .arg(r(o.tree), r(o.header), r(o.scrollBar))
                      .arg(o.scrollMax)
                      .arg(o.scrollPage)
                      .arg(o.scrollPos);
    QCOMPARE(got, expected);
    QCOMPARE(o.filler, (LayoutRect{width - 16, 0, 16, 24}));
    // Header and rows always move together, so column boundaries line up.
    QCOMPARE(o.tree.x, o.header.x);
}

void ListTreeCoreTest::horizontalScroll_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expected");
    using R = ScrollRequest;
    // Range 0..600 with page 400: largest position 200.
    QTest::newRow("line right") << int(R::LineRight) << 100 << 115;
    QTest::newRow("line right clamps") << int(R::LineRight) << 190 << 200;
    QTest::newRow("line left clamps") << int(R::LineLeft) << 10 << 0;
    QTest::newRow("page right") << int(R::PageRight) << 0 << 200;
    QTest::newRow("page left") << int(R::PageLeft) << 150 << 0;
    QTest::newRow("track") << int(R::Track) << 20 << 77;
    QTest::newRow("left end") << int(R::LeftEnd) << 120 << 0;
    QTest::newRow("right end") << int(R::RightEnd) << 12 << 200;
    QTest::newRow("thumb release changes nothing") << int(R::Other) << 42 << 42;
}

void ListTreeCoreTest::horizontalScroll() {
    QFETCH(int, request);
    QFETCH(int, position);
    QFETCH(int, expected);
    QCOMPARE(horizontalScrollTarget(static_cast<ScrollRequest>(request), 0, 200, 400, position, 77),
             expected);
}

void ListTreeCoreTest::cellSpans() {
    // Column 0 from the label to 6 short of its edge, the others 6 off each header boundary.
    std::vector<CellSpan> s = ::cellSpans(40, {200, 150, 50});
    QCOMPARE(s, (std::vector<CellSpan>{{42, 194}, {206, 344}, {356, 394}}));
    QCOMPARE(cellPaintLeft(40, {200}), 40);
    QCOMPARE(cellPaintLeft(80, {30}), 30); // a deep row never paints past column 0's edge
    QCOMPARE(cellPaintLeft(80, {}), 80);
}

QTEST_APPLESS_MAIN(ListTreeCoreTest)
#include "listtree_core_test.moc"
