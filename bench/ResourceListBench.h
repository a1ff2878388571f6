// Shared by the resource list benchmarks: a document filled with resources the way hours of
// browsing leave it, the list view over it offscreen, live insertion as while capturing, and
// the processor time of the calling thread.
#pragma once

#include "engine/Url.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "tests/support/DocumentStandIns.h"
#include "ui/browser/ResourceListView.h"

#include <QElapsedTimer>
#include <QPixmap>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

const char* const kTypes[][2] = {
    {"text/html", "6"},        {"text/css", "6"},   {"application/javascript", "0"},
    {"image/png", "2"},        {"image/jpeg", "2"}, {"image/gif", "2"},
    {"application/json", "0"}, {"font/woff2", "8"}, {"video/mp4", "7"},
};

// Sites of a few hundred hosts, paths one to four folders deep from a shared pool of names
// (mixed case and some CJK), one page loaded over and over, and referrers that are earlier
// pages, later pages or unknown.
inline void fill(Document& document, int count) {
    std::mt19937 random(2861);
    const char* folders[] = {"static", "Static", "js", "css",  "img",
                             "api",    "v1",     "v2", "news", "%E6%96%B0%E9%97%BB",
                             "user",   "cdn"};
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i) {
        auto* r = new HttpResource(&document);
        r->id = static_cast<std::uint32_t>(i + 1);
        std::string host = "host" + std::to_string(random() % 300) + ".example.cn";
        std::string path = "/";
        int depth = static_cast<int>(random() % 5);
        for (int d = 0; d < depth; ++d) {
            path += folders[random() % 12];
            path += '/';
        }
        const char* const* type = kTypes[random() % 9];
        std::string name = "file" + std::to_string(random() % 5000) + "." +
                           std::string(type[0]).substr(std::string(type[0]).find('/') + 1);
        if (i % 20 == 0) { // a page loaded again and again, with resources that refer to it
            host = "www.example.cn";
            path = "/";
            name = "index.html";
            type = kTypes[0];
        }
        r->url.parse("http://" + host + path + name);
        r->name = name;
        r->directory = percentDecode("http://" + host + path);
        r->contentType = type[0];
        r->category = std::atoi(type[1]);
        r->contentLength = static_cast<std::int64_t>(random() % 2000000) - 1;
        r->receivedSize = r->contentLength > 0 ? r->contentLength : 12345;
        r->flags = HttpResource::Loading;
        // Mostly answered, some not modified, some missing or failing; a form now and then.
        r->statusCode = i % 17 == 0 ? 404 : i % 53 == 0 ? 500 : i % 7 == 0 ? 304 : 200;
        r->method = i % 11 == 0 ? RequestMethod::Post : RequestMethod::Get;
        if (r->category == 6 && r->contentType == "text/html")
            pages.push_back(r->url.toString());
        unsigned pick = random() % 10;
        if (pick == 0)
            r->referrer.parse("http://www.example.cn/index.html");
        else if (pick < 6 && !pages.empty())
            r->referrer.parse(pages[random() % pages.size()]);
        else if (pick < 8)
            r->referrer.parse("http://elsewhere.example.cn/page" + std::to_string(random() % 100));
        CaptureLocker lock(captureLock());
        document.addResource(r);
    }
}

// Processor time of this thread: the machine is shared, so wall time alone says little.
inline double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline const char* modeName(ViewMode mode) {
    static const char* const names[] = {"ByOrder", "ByDirectory", "ByType", "ByReferrer"};
    return names[mode];
}

// `count` resources in a document, the view attached and initialised (its list still empty),
// and a canvas to paint the rows on.
struct ListBench {
    explicit ListBench(int count) : document(ui, delivery, settings) {
        view.resize(1200, 700);
        view.show();
        view.attach(&document);
        document.notify(DocumentEvent::Initialised, nullptr, true);
        delivery.deliver();
        delivery.enabled = false;
        fill(document, count);
        delivery.enabled = true;
        canvas = QPixmap(view.size());
    }
    ~ListBench() { view.attach(nullptr); }

    ScriptedDocumentUi ui;
    NoSettings settings;
    QueueDelivery delivery;
    Document document;
    ResourceListView view;
    QPixmap canvas;
};

struct InsertionRate {
    double wall = 0; // resources per second
    double cpu = 0;  // resources per second of processor time
};

// The list starts empty and every resource arrives as during a capture: added, then changed
// once complete; notices delivered a hundred at a time and, with `paint`, the screen following
// every 500 rows.
inline InsertionRate liveInsertion(ListBench& bench, bool paint = true) {
    Document& document = bench.document;
    ResourceListView& view = bench.view;
    for (HttpResource* r = document.resources.head; r; r = r->next)
        r->flags = HttpResource::Loading;
    view.ClearList();
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuSeconds();
    int i = 0;
    for (HttpResource* r = document.resources.head; r; r = r->next, ++i) {
        {
            CaptureLocker lock(captureLock());
            document.notify(DocumentEvent::ResourceAdded, r, true);
            r->flags = 0;
            document.notify(DocumentEvent::ResourceChanged, r, true);
        }
        if (i % 100 == 99)
            bench.delivery.deliver();
        if (paint && i % 500 == 0) {
            view.tree()->updateRows();
            view.tree()->viewport()->render(&bench.canvas);
        }
    }
    bench.delivery.deliver();
    if (paint) {
        view.tree()->updateRows();
        view.tree()->viewport()->render(&bench.canvas);
    }
    return {i / (clock.nsecsElapsed() / 1e9), i / (cpuSeconds() - cpu)};
}

} // namespace
