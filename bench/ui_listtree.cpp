// List-tree control at scale: 10,000 and 100,000 rows, flat (capture order) and nested
// (100 rows per folder), through insert with periodic repaints as during a live capture,
// paint at top and bottom, select all, check all, sort, rebuild of checks and delete all.
// Prints milliseconds per step and the 100k/10k ratio (10 means linear growth).
// Goal: every ratio near 10, no step above a few hundred ms at 100k.
#include "ui/browser/ListTreeView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScrollBar>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string name;
    int ordinal;
};

class Adaptor : public ListTreeAdaptor {
public:
    explicit Adaptor(ListTreeView* view) : view_(view) {}
    std::string GetItemText(std::uintptr_t data, int column) override {
        const Row& r = *reinterpret_cast<const Row*>(data);
        return column == 0 ? r.name : std::to_string(r.ordinal);
    }
    int CompareItems(std::uintptr_t a, std::uintptr_t b) override {
        const Row& x = *reinterpret_cast<const Row*>(a);
        const Row& y = *reinterpret_cast<const Row*>(b);
        int c = view_->sortColumn == 0 ? x.name.compare(y.name) : x.ordinal - y.ordinal;
        return view_->sortAscending ? c : -c;
    }

private:
    ListTreeView* view_;
};

using Timings = std::map<std::string, double>;

Timings run(int count, bool nested) {
    Timings t;
    ListTreeView view;
    view.Create(nullptr, QRect(0, 0, 900, 600));
    view.InsertColumn(0, "Name", 0, 300);
    view.InsertColumn(1, "Ordinal", 1, 80);
    Adaptor adaptor(&view);
    view.adaptor = &adaptor;
    view.setAutoCheck(nested);
    ListTreeCtrl* tree = view.tree;
    tree->setTreeStyle(nested ? ListTreeCtrl::HasButtons | ListTreeCtrl::LinesAtRoot : 0);
    std::vector<Row> rows(count);
    std::vector<Row> folders(count / 100 + 1);
    QPixmap canvas(view.size());
    QElapsedTimer clock;

    clock.start();
    ListTreeItem folder = nullptr;
    for (int i = 0; i < count; ++i) {
        if (i % 100 == 0)
            folders[i / 100] = {"folder-" + std::to_string(i / 100), 0};
        rows[i] = {"resource-" + std::to_string((i * 7919) % count) + ".js", i + 1};
        if (nested && i % 100 == 0)
            folder = tree->insertItem(nullptr, nullptr, std::uintptr_t(&folders[i / 100]));
        tree->insertItem(nested ? folder : nullptr, nullptr, std::uintptr_t(&rows[i]));
        if (nested && i % 100 == 0)
            tree->expand(folder);
        if (i % 500 == 0) { // the screen follows a few times a second while capturing
            tree->updateRows();
            tree->viewport()->render(&canvas);
        }
    }
    tree->updateRows();
    t["insert"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    for (int i = 0; i < 20; ++i)
        view.render(&canvas);
    t["paint top x20"] = clock.nsecsElapsed() / 1e6;
    tree->verticalScrollBar()->setValue(tree->verticalScrollBar()->maximum());
    clock.restart();
    for (int i = 0; i < 20; ++i)
        view.render(&canvas);
    t["paint bottom x20"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    tree->leftButtonDown(tree->rootItem(), ListTreeCore::HitZone::Label, false, false);
    tree->keyDown(ListTreeCore::Key::End, false, true, tree->clientPageRows());
    t["select all"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    tree->keyDown(ListTreeCore::Key::Space, false, false, tree->clientPageRows());
    t["check all"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    view.sortColumn = 0;
    view.SortChildren(nullptr);
    tree->updateRows();
    view.render(&canvas);
    t["sort by name"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    tree->RecalcChecks(nullptr);
    t["recalc checks"] = clock.nsecsElapsed() / 1e6;

    clock.restart();
    tree->deleteAllItems();
    t["delete all"] = clock.nsecsElapsed() / 1e6;
    return t;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (bool nested : {false, true}) {
        Timings small = run(10000, nested), big = run(100000, nested);
        std::printf("%s\n", nested ? "nested, 100 rows per folder, AutoCheck" : "flat");
        for (const auto& [step, ms] : big)
            std::printf("  %-18s 10k %8.2f ms   100k %8.2f ms   ratio %5.1f\n", step.c_str(),
                        small[step], ms, small[step] > 0 ? ms / small[step] : 0.0);
    }
    return 0;
}
