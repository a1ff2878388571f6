// Export of captured bodies: names and "(n)" suffixes in one folder, merged files in id order,
// folder trees mirroring the list, the questions about undecodable bodies and failures, and the
// real dialogs driven as a user would.
#include "engine/HttpMessageHeader.h"
#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/CurlCommand.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "support/Compression.h"
#include "support/DocumentStandIns.h"
#include "support/RunProgram.h"
#include "tests/ui/FixtureStep.h"
#include "ui/browser/Export.h"
#include "ui/browser/ExportCommands.h"
#include "ui/browser/ExportDialogs.h"
#include "ui/browser/ListTreeAdaptor.h"
#include "ui/browser/ResourceListView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

#include <sys/stat.h>

// Byte strings compared as QByteArray, which a failure prints.
#define QCOMPARE_BYTES(actual, expected)                                                           \
    QCOMPARE(QByteArray::fromStdString(actual), QByteArray::fromStdString(std::string(expected)))

namespace {

QStringList list(const std::vector<std::string>& strings) {
    QStringList out;
    for (const std::string& s : strings)
        out << QString::fromStdString(s);
    return out;
}

// Bytes gzip cannot shrink, so a compressed body still goes to its cache file.
std::string noise(std::size_t length) {
    std::mt19937 random(7);
    std::string out(length, '\0');
    for (char& c : out)
        c = char(random());
    return out;
}

std::string readFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
}

// Relative paths of every file below `root`, sorted.
QStringList filesBelow(const QString& root) {
    QStringList files;
    QDir base(root);
    std::function<void(const QString&)> walk = [&](const QString& dir) {
        for (const QFileInfo& info :
             QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (info.isDir())
                walk(info.filePath());
            else
                files << base.relativeFilePath(info.filePath());
        }
    };
    walk(root);
    files.sort();
    return files;
}

std::string text(unsigned id) {
    return loadString(id);
}

// A list row: a resource, or a folder or group with its column-0 text.
struct Row {
    HttpResource* resource = nullptr;
    std::string text;
};

class RowAdaptor : public ListTreeAdaptor {
public:
    std::string GetItemText(std::uintptr_t data, int column) override {
        const Row* row = reinterpret_cast<const Row*>(data);
        return column == 0 && !row->resource ? row->text : std::string();
    }
    int CompareItems(std::uintptr_t, std::uintptr_t) override { return 0; }
};

// Answers dialogs and questions from queues and records what was asked.
class ScriptedUi : public ExportUi {
public:
    bool chooseFolder(std::string& folder) override {
        ++folderPickers;
        return take(folders, folder);
    }
    bool chooseSaveFile(const std::string& defaultName, std::string& path) override {
        saveDefaults.push_back(defaultName);
        return take(files, path);
    }
    Answer ask(const std::string& text, Icon icon, bool withCancel) override {
        asked.push_back({text, icon, withCancel});
        if (answers.empty()) {
            unexpected = true;
            return Answer::No;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    Answer choose(const std::string& text, const std::string& first,
                  const std::string& second) override {
        choices.push_back(text + " [" + first + "] [" + second + "]");
        return ask(text, Icon::Question, true);
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }

    struct Asked {
        std::string text;
        Icon icon;
        bool withCancel;
    };
    std::deque<std::optional<std::string>> folders, files; // nullopt cancels
    std::deque<Answer> answers;
    std::vector<Asked> asked;
    std::vector<std::string> messages;
    std::vector<std::string> choices;
    std::vector<std::string> statuses;
    std::vector<std::string> saveDefaults;
    int folderPickers = 0;
    int busyDepth = 0;
    bool unexpected = false;

private:
    static bool take(std::deque<std::optional<std::string>>& queue, std::string& out) {
        if (queue.empty() || !queue.front()) {
            if (!queue.empty())
                queue.pop_front();
            return false;
        }
        out = *queue.front();
        queue.pop_front();
        return true;
    }
};

// Acts on each modal dialog as it is shown, one scripted step per dialog.
class DialogDriver : public QObject {
public:
    using Step = std::function<void(QWidget*)>;
    DialogDriver() { qApp->installEventFilter(this); }
    ~DialogDriver() override { qApp->removeEventFilter(this); }
    std::deque<Step> steps;
    int shown = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(object);
        if (event->type() == QEvent::Show && dialog && dialog->isModal() && !steps.empty()) {
            ++shown;
            QPointer<QDialog> target(dialog);
            Step step = std::move(steps.front());
            steps.pop_front();
            // Once the dialog runs its own loop.
            QTimer::singleShot(0, dialog, [target, step] {
                if (target)
                    step(target);
            });
        }
        return false;
    }
};

} // namespace

class ExportTest : public QObject {
    Q_OBJECT

    QTemporaryDir cacheDir;
    CacheFolder folder;
    std::vector<std::unique_ptr<HttpResource>> resources;
    std::deque<Row> rows;
    std::unique_ptr<QTemporaryDir> outDir;
    ListTreeCore tree;
    RowAdaptor adaptor;

    std::string out(const std::string& relative = std::string()) const {
        const std::string root = outDir->path().toStdString();
        return relative.empty() ? root : root + "/" + relative;
    }

    // A captured exchange for `target` (a path on host h, or an absolute address): `fields`
    // complete the response head (a Content-Length is added unless the body is chunked); `body`
    // is stored as it travelled.
    static std::unique_ptr<HttpResource> record(CacheFolder& cache, const std::string& target,
                                                const std::string& contentType,
                                                const std::string& body, const std::string& fields,
                                                bool finish) {
        auto resource = std::make_unique<HttpResource>(&cache);
        const std::string requestText = "GET " + target + " HTTP/1.1\r\nHost: h\r\n";
        std::string responseText = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n";
        responseText += fields;
        if (fields.find("Transfer-Encoding") == std::string::npos)
            responseText += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        HttpRequestHeader request;
        HttpResponseHeader response;
        FIXTURE_STEP(
            parseRequestHeader(requestText.data(), std::int32_t(requestText.size()), request));
        FIXTURE_STEP(
            parseResponseHeader(responseText.data(), std::int32_t(responseText.size()), response));
        FIXTURE_STEP(resource->begin(cache.takeSequenceNumber()));
        FIXTURE_STEP(resource->writeRequestHeader(request));
        FIXTURE_STEP(resource->writeResponseHeader(response));
        if (!body.empty())
            FIXTURE_STEP(resource->writeData(body.data(), std::uint32_t(body.size())));
        resource->receivedSize = std::int64_t(body.size());
        if (finish)
            FIXTURE_STEP(resource->finish());
        return resource;
    }

    HttpResource* capture(const std::string& target, const std::string& contentType,
                          const std::string& body, const std::string& fields = std::string(),
                          bool finish = true) {
        resources.push_back(record(folder, target, contentType, body, fields, finish));
        return resources.back().get();
    }

    ListTreeItem add(ListTreeItem parent, HttpResource* resource, int check = Unchecked) {
        rows.push_back({resource, {}});
        ListTreeItem item = tree.insertItem(parent, nullptr, std::uintptr_t(&rows.back()));
        tree.SetCheckState(item, check);
        return item;
    }
    ListTreeItem group(ListTreeItem parent, const std::string& name, int check = Unchecked) {
        rows.push_back({nullptr, name});
        ListTreeItem item = tree.insertItem(parent, nullptr, std::uintptr_t(&rows.back()));
        tree.SetCheckState(item, check);
        return item;
    }

    ResourceExport exporter(ExportUi& ui) {
        return ResourceExport(
            tree, adaptor,
            [](std::uintptr_t data) { return reinterpret_cast<Row*>(data)->resource; }, ui);
    }

private slots:
    void initTestCase() {
        folder.cacheFolder = cacheDir.path().toStdString() + "/";
        ::umask(027); // not the usual one: the files must follow the actual mask
    }

    void init() {
        tree.deleteAllItems();
        rows.clear();
        resources.clear();
        outDir = std::make_unique<QTemporaryDir>();
    }

    void checkedRowsIntoOneFolder() {
        const std::string big = noise(40000);
        const std::string css = "body { color: red }\n";
        HttpResource* first = capture("/x/a.js", "text/javascript", "one();");
        HttpResource* zipped =
            capture("/y/a.js", "text/javascript", gzipOf(big), "Content-Encoding: gzip\r\n");
        HttpResource* pieces =
            capture("/s/b.css", "text/css", chunked(css, 7), "Transfer-Encoding: chunked\r\n");
        HttpResource* inGroup = capture("/a%20b.php", "text/html", "<p>");
        HttpResource* unchecked = capture("/c.txt", "text/plain", "no");
        // Pre-order decides who gets the plain name: the gzip body comes first.
        add(nullptr, zipped, Checked);
        add(nullptr, first, Checked);
        ListTreeItem g = group(nullptr, "g", Mixed);
        add(g, inGroup, Checked);
        add(g, unchecked, Unchecked);
        add(nullptr, pieces, Checked);

        ScriptedUi ui;
        ui.folders.push_back(out());
        exporter(ui).exportChecked();

        QCOMPARE(filesBelow(outDir->path()), QStringList({"a b.html", "a(1).js", "a.js", "b.css"}));
        QCOMPARE_BYTES(readFile(out("a.js")), big);
        QCOMPARE_BYTES(readFile(out("a(1).js")), std::string("one();"));
        QCOMPARE_BYTES(readFile(out("b.css")), css);
        QCOMPARE_BYTES(readFile(out("a b.html")), std::string("<p>"));
        QVERIFY(ui.asked.empty() && ui.messages.empty());
        QCOMPARE(list(ui.statuses),
                 QStringList({"已导出 4 项到“" + QString::fromStdString(out()) + "”。"}));
        // The user's own documents: the usual permissions, not the cache's owner-only ones.
        struct stat st {};
        QCOMPARE(::stat(out("a.js").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));

        // Nothing checked and nothing filtered out: every resource, without a question; a
        // cancelled picker writes nothing.
        for (ListTreeItem item = tree.rootItem(); item; item = tree.NextInPreorder(item))
            tree.SetCheckState(item, Unchecked);
        auto every = std::make_unique<QTemporaryDir>();
        ScriptedUi none;
        none.folders = {every->path().toStdString()};
        none.files = {std::nullopt};
        exporter(none).exportChecked();
        exporter(none).mergeExportChecked();
        QCOMPARE(filesBelow(every->path()),
                 QStringList({"a b.html", "a(1).js", "a.js", "b.css", "c.txt"}));
        QVERIFY(none.asked.empty());
        QCOMPARE(none.statuses.size(), std::size_t(1));
    }

    // With nothing checked and a filter hiding rows, the ribbon's exports offer the rows the
    // filter shows or all of them, with their counts; dimmed rows (shown only for a match below
    // them) are not among those shown. Cancel writes nothing.
    void noneCheckedOffersTheShownRowsOrAll() {
        HttpResource* page = capture("/page.html", "text/html", "<p>");
        HttpResource* script = capture("/a.js", "text/javascript", "a();");
        HttpResource* image = capture("/i.png", "image/png", "png");
        HttpResource* style = capture("/s.css", "text/css", "s{}");
        ListTreeItem pageRow = add(nullptr, page);
        add(pageRow, script);
        add(pageRow, image);
        add(nullptr, style);
        tree.applyFilter([&](ListTreeItem row) {
            return reinterpret_cast<Row*>(tree.itemData(row))->resource == script
                       ? ListTreeCore::RowMatch::Match
                       : ListTreeCore::RowMatch::NoMatch;
        });
        ScriptedUi ui;
        ui.answers = {ExportUi::Answer::Yes, ExportUi::Answer::No, ExportUi::Answer::Cancel};
        ui.files = {out("shown.har"), out("all.har")};
        exporter(ui).exportHarChecked();
        exporter(ui).exportHarChecked();
        exporter(ui).exportHarChecked();
        QCOMPARE(list(ui.choices),
                 QStringList({"没有勾选的项。要导出哪些？ [导出显示的 1 项] [全部 4 项]",
                              "没有勾选的项。要导出哪些？ [导出显示的 1 项] [全部 4 项]",
                              "没有勾选的项。要导出哪些？ [导出显示的 1 项] [全部 4 项]"}));
        auto entries = [](const std::string& path) {
            const HarCheck check = checkHar(path);
            return check.problems.empty()
                       ? int(std::count_if(check.lines.begin(), check.lines.end(),
                                           [](const std::string& line) {
                                               return line.find(" url ") != std::string::npos;
                                           }))
                       : -1;
        };
        QCOMPARE(entries(out("shown.har")), 1);
        QCOMPARE(entries(out("all.har")), 4);
        QCOMPARE(filesBelow(outDir->path()), QStringList({"all.har", "shown.har"}));
        QCOMPARE(list(ui.statuses),
                 QStringList({"已导出 1 项到“" + QString::fromStdString(out("shown.har")) + "”。",
                              "已导出 4 项到“" + QString::fromStdString(out("all.har")) + "”。"}));
        QVERIFY(ui.files.empty() && !ui.unexpected);
    }

    void selectedRowsIntoFolder() {
        HttpResource* a = capture("/1/same.txt", "text/plain", "A");
        HttpResource* b = capture("/2/same.txt", "text/plain", "B");
        ListTreeItem ra = add(nullptr, a);
        ListTreeItem g = group(nullptr, "g");
        ListTreeItem rb = add(g, b);
        // Selection order, not list order; the group row adds nothing.
        tree.SelectItem(rb, true);
        tree.SelectItem(g, true);
        tree.SelectItem(ra, true);
        ScriptedUi ui;
        ui.folders.push_back(out());
        exporter(ui).exportSelected();
        QCOMPARE(filesBelow(outDir->path()), QStringList({"same(1).txt", "same.txt"}));
        QCOMPARE_BYTES(readFile(out("same.txt")), std::string("B"));
        QCOMPARE_BYTES(readFile(out("same(1).txt")), std::string("A"));

        // A folder that cannot take files is named once, before any resource is tried.
        QVERIFY(QFile(QString::fromStdString(out("same.txt"))).exists());
        ui.folders.push_back(out("same.txt/inner"));
        exporter(ui).exportSelected();
        QVERIFY(ui.asked.empty());
        QCOMPARE(list(ui.messages), QStringList({QString::fromStdString(pathErrorText(
                                        IDS_FOLDER_UNUSABLE, out("same.txt/inner"), ENOTDIR))}));
    }

    void mergeInIdOrder() {
        const std::string big = noise(30000);
        HttpResource* r1 = capture("/1", "text/plain", "first|");
        HttpResource* r2 = capture("/2", "text/plain", gzipOf(big), "Content-Encoding: gzip\r\n");
        HttpResource* r3 =
            capture("/3", "text/plain", chunked("third|", 2), "Transfer-Encoding: chunked\r\n");
        const std::string all = "first|" + big + "third|";
        // Checked rows listed as if sorted by size: the file still follows the ids.
        ListTreeItem i3 = add(nullptr, r3, Checked);
        ListTreeItem i1 = add(nullptr, r1, Checked);
        ListTreeItem i2 = add(nullptr, r2, Checked);
        ScriptedUi ui;
        ui.files.push_back(out("merged"));
        exporter(ui).mergeExportChecked();
        QCOMPARE(list(ui.saveDefaults), QStringList({""}));
        QCOMPARE_BYTES(readFile(out("merged")), all);
        struct stat st {};
        QCOMPARE(::stat(out("merged").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));

        // Selected rows the same; an existing file is replaced.
        tree.SelectItem(i2, true);
        tree.SelectItem(i3, true);
        tree.SelectItem(i1, true);
        ui.files.push_back(out("merged"));
        exporter(ui).mergeExportSelected();
        QCOMPARE_BYTES(readFile(out("merged")), all);

        // Nothing selected: no file. A file that cannot be created: its error, nothing read.
        tree.clearSelection();
        ui.files = {out("none"), out("missing/merged")};
        exporter(ui).mergeExportSelected();
        exporter(ui).mergeExportChecked();
        QVERIFY(!QFile::exists(QString::fromStdString(out("none"))));
        QCOMPARE(list(ui.messages), QStringList({QString::fromStdString(pathErrorText(
                                        IDS_FILE_NOT_WRITTEN, out("missing/merged"), ENOENT))}));
    }

    // A coding we cannot undo offers the raw body; Cancel stops, No goes on to the failure
    // question. The same answers give the same outcome in a folder and in a merged file.
    void undecodableBodyQuestions_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("merged");
        QTest::addColumn<int>("questions");
        using A = ExportUi::Answer;
        QTest::newRow("raw") << int(A::Yes) << -1 << QStringList({"b.txt", "odd.bin"}) << "RAW|B"
                             << 1;
        QTest::newRow("skip") << int(A::No) << int(A::Yes) << QStringList({"b.txt"}) << "B" << 2;
        QTest::newRow("stop") << int(A::No) << int(A::No) << QStringList() << "" << 2;
        QTest::newRow("cancel") << int(A::Cancel) << -1 << QStringList() << "" << 1;
    }
    void undecodableBodyQuestions() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QStringList, files);
        QFETCH(QString, merged);
        QFETCH(int, questions);
        HttpResource* odd =
            capture("/odd.bin", "application/x-odd", "RAW|", "Content-Encoding: x-odd\r\n");
        HttpResource* plain = capture("/b.txt", "text/plain", "B");
        for (bool merge : {false, true}) {
            ScriptedUi ui;
            ui.answers.push_back(ExportUi::Answer(first));
            if (second >= 0)
                ui.answers.push_back(ExportUi::Answer(second));
            ResourceExport exporter = this->exporter(ui);
            if (merge)
                exporter.mergeIntoFile({plain, odd}, out("merged"));
            else
                exporter.exportIntoFolder({odd, plain}, out());
            QCOMPARE(int(ui.asked.size()), questions);
            QCOMPARE_BYTES(ui.asked[0].text, "资源'odd.bin'编码方式不支持，是否不解码直接导出？");
            QCOMPARE(ui.asked[0].icon, ExportUi::Icon::Information);
            QVERIFY(ui.asked[0].withCancel);
            if (questions > 1) {
                QCOMPARE_BYTES(ui.asked[1].text,
                               "资源'odd.bin'导出失败：编码方式不支持是否继续导出其它资源？");
                QCOMPARE(ui.asked[1].icon, ExportUi::Icon::Question);
                QVERIFY(!ui.asked[1].withCancel);
            }
            if (merge)
                QCOMPARE(QString::fromStdString(readFile(out("merged"))), merged);
            else
                QCOMPARE(filesBelow(outDir->path()), files);
            QVERIFY(!ui.unexpected);
            outDir = std::make_unique<QTemporaryDir>();
        }
    }

    // A body that is still loading or cannot be decoded asks whether to go on, without the raw
    // offer. A merged file keeps whole bodies only: a half-decoded one is dropped.
    void failuresAskToContinue() {
        // Decodes whole, then fails the check at its end: every byte was written by then.
        std::string broken = gzipOf(noise(5000));
        broken[broken.size() - 8] = char(broken[broken.size() - 8] ^ 0xFF);
        HttpResource* good1 = capture("/g1", "text/plain", "one|");
        HttpResource* bad = capture("/bad.gz", "text/plain", broken, "Content-Encoding: gzip\r\n");
        HttpResource* loading = capture("/later", "text/plain", "not yet", "", false);
        HttpResource* good2 = capture("/g2", "text/plain", "two");

        ScriptedUi ui;
        ui.answers = {ExportUi::Answer::Yes, ExportUi::Answer::Yes};
        exporter(ui).mergeIntoFile({good1, bad, loading, good2}, out("merged"));
        QCOMPARE_BYTES(readFile(out("merged")), std::string("one|two"));
        QCOMPARE(ui.asked.size(), std::size_t(2));
        QVERIFY(ui.asked[0].text.rfind("资源'bad.gz'导出失败：", 0) == 0);
        QCOMPARE_BYTES(ui.asked[1].text,
                       "资源'later'导出失败：" + text(136) + "是否继续导出其它资源？");

        // No stops the batch; what was written stays.
        ScriptedUi stop;
        stop.answers = {ExportUi::Answer::No};
        exporter(stop).exportIntoFolder({good1, loading, good2}, out());
        QCOMPARE(filesBelow(outDir->path()), QStringList({"g1", "merged"}));
        QCOMPARE(stop.asked.size(), std::size_t(1));
    }

    void singleResource_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("message");
        using A = ExportUi::Answer;
        const std::string notReady = loadString(136);
        QTest::newRow("decoded") << "gzip" << -1 << "decoded body" << false << "";
        QTest::newRow("raw on yes") << "odd" << int(A::Yes) << "RAW" << true << "";
        QTest::newRow("nothing on no") << "odd" << int(A::No) << "<missing>" << true << "";
        QTest::newRow("loading") << "loading" << -1 << "<missing>" << false
                                 << QString::fromStdString(notReady);
        QTest::newRow("corrupt") << "corrupt" << -1 << "<missing>" << false << "*";
    }
    void singleResource() {
        QFETCH(QString, kind);
        QFETCH(int, answer);
        QFETCH(QString, written);
        QFETCH(bool, question);
        QFETCH(QString, message);
        HttpResource* resource =
            kind == "gzip"  ? capture("/f/page", "text/html", gzipOf("decoded body"),
                                      "Content-Encoding: gzip\r\n")
            : kind == "odd" ? capture("/f/page", "text/html", "RAW", "Content-Encoding: x-odd\r\n")
            : kind == "loading"
                ? capture("/f/page", "text/html", "part", "", false)
                : capture("/f/page", "text/html", "not gzip at all", "Content-Encoding: gzip\r\n");
        ScriptedUi ui;
        ui.files.push_back(out("chosen.html"));
        if (answer >= 0)
            ui.answers.push_back(ExportUi::Answer(answer));
        exporter(ui).exportResource(*resource);
        QCOMPARE(list(ui.saveDefaults), QStringList({"page.html"}));
        QCOMPARE(QString::fromStdString(readFile(out("chosen.html"))), written);
        QCOMPARE(ui.asked.size(), std::size_t(question));
        if (question) {
            QCOMPARE_BYTES(ui.asked[0].text, "资源'page'编码方式不支持，是否不解码直接导出？");
            QVERIFY(!ui.asked[0].withCancel);
        }
        if (message.isEmpty())
            QVERIFY(ui.messages.empty());
        else if (message == "*")
            QCOMPARE(ui.messages.size(), std::size_t(1));
        else
            QCOMPARE(list(ui.messages), QStringList({message}));
        // No temporary file is left beside the target.
        QCOMPARE(filesBelow(outDir->path()).size(), qsizetype(written == "<missing>" ? 0 : 1));
    }

    // The folder rows below a row become folders, each file lands in its parent row's folder,
    // and no row text reaches outside the chosen folder.
    void folderTreeMirrorsRows() {
        HttpResource* index = capture("/", "text/html", "<index>");
        HttpResource* x =
            capture("/a/x.js", "text/javascript", gzipOf("x();"), "Content-Encoding: gzip\r\n");
        HttpResource* y = capture("/a/b/y.css", "text/css", "y{}");
        HttpResource* sneaky = capture("/%2e%2e/z.txt", "text/plain", "z");
        HttpResource* later = capture("/a/x.js", "text/javascript", "again");
        ListTreeItem host = group(nullptr, "h:8080");
        ListTreeItem a = group(host, "a");
        add(a, x);
        ListTreeItem b = group(a, "b");
        add(b, y);
        add(a, later);
        ListTreeItem dots = group(host, "..");
        add(dots, sneaky);
        group(dots, "empty");
        add(host, index);

        ScriptedUi ui;
        ui.files.push_back(out("site"));
        exporter(ui).exportFolder(host);
        QCOMPARE(list(ui.saveDefaults), QStringList({"h_8080"}));
        QCOMPARE(filesBelow(outDir->path()),
                 QStringList({"site/__/z.txt", "site/a/b/y.css", "site/a/x(1).js", "site/a/x.js",
                              "site/h.html"}));
        QVERIFY(QDir(outDir->path() + "/site/__/empty").exists());
        QCOMPARE_BYTES(readFile(out("site/a/x.js")), std::string("x();"));
        QCOMPARE_BYTES(readFile(out("site/a/x(1).js")), std::string("again"));
        QCOMPARE_BYTES(readFile(out("site/h.html")), std::string("<index>"));
        QVERIFY(ui.messages.empty());
        QCOMPARE(ui.busyDepth, 0);
    }

    void folderTreeOfAGroup() {
        HttpResource* p1 = capture("/i/p.png", "image/png", "PNG1");
        HttpResource* p2 = capture("/j/p.png", "image/png", "PNG2");
        ListTreeItem images = group(nullptr, "图像");
        add(images, p1);
        add(images, p2);
        // An existing folder is used as it is; a file in the way is an error.
        QVERIFY(QDir(outDir->path()).mkdir("图像"));
        QFile blocker(outDir->path() + "/blocker");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ScriptedUi ui;
        ui.files = {out("图像"), out("blocker"), std::nullopt};
        exporter(ui).exportFolder(images);
        exporter(ui).exportFolder(images);
        exporter(ui).exportFolder(images);
        QCOMPARE(list(ui.saveDefaults), QStringList({"图像", "图像", "图像"}));
        QCOMPARE(filesBelow(outDir->path()),
                 QStringList({"blocker", "图像/p(1).png", "图像/p.png"}));
        QCOMPARE_BYTES(readFile(out("图像/p(1).png")), std::string("PNG2"));
        QCOMPARE(list(ui.messages), QStringList({QString::fromStdString(pathErrorText(
                                        IDS_FOLDER_NOT_CREATED, out("blocker"), ENOTDIR))}));
    }

    void folderNames_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "static"
                               << "static";
        QTest::newRow("nine") << "a\"*/:<>?\\|b"
                              << "a_________b";
        QTest::newRow("dot") << "."
                             << "_";
        QTest::newRow("dots") << ".."
                              << "__";
        QTest::newRow("three dots") << "..."
                                    << "...";
        QTest::newRow("empty") << ""
                               << "_";
        QTest::newRow("wide") << "图像"
                              << "图像";
        // A folder from "/%E2%80%AEgpj.exe/" would read "exe.jpg".
        QTest::newRow("bidirectional controls") << "\xE2\x80\xAEgpj.exe\xE2\x81\xA6"
                                                << "gpj.exe";
        QTest::newRow("controls") << "a\tb\x1B[1m\xC2\x85"
                                  << "ab[1m";
        QTest::newRow("nothing but controls") << "\xE2\x80\xAA\n"
                                              << "_";
    }
    void folderNames() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QCOMPARE(QString::fromStdString(exportFolderName(text.toStdString())), name);
        QCOMPARE(exportFolderName(std::string("..\0x", 4)), std::string("..x"));
        // What is left once controls are gone must not leave the folder either.
        QCOMPARE(exportFolderName(std::string(".\0.", 3)), std::string("__"));
    }

    // The commands of the real list view, arranged by directory, on resources the document
    // holds.
    void listViewCommands() {
        ScriptedDocumentUi quiet;
        QueueDelivery delivery;
        MemorySettings settings;
        settings.values[std::string(ResourceListView::kStateSection) + "|" +
                        ResourceListView::kViewModeValue] = ByDirectory;
        Document document(quiet, delivery, settings);
        document.cacheFolder = cacheDir.path().toStdString() + "/";
        auto view = std::make_unique<ResourceListView>();
        view->attach(&document);
        document.notify(DocumentEvent::Initialised, nullptr, true);
        delivery.deliver();
        auto add = [&](const std::string& target, const std::string& type, const std::string& body,
                       const std::string& fields = std::string()) {
            HttpResource* r = record(document, target, type, body, fields, true).release();
            CaptureLocker lock(captureLock());
            document.addResource(r);
            document.notify(DocumentEvent::ResourceAdded, r, true);
            return r;
        };
        const std::string big = noise(20000);
        HttpResource* x =
            add("/a/x.js", "text/javascript", gzipOf(big), "Content-Encoding: gzip\r\n");
        HttpResource* y =
            add("/a/b/y.css", "text/css", chunked("y{}", 2), "Transfer-Encoding: chunked\r\n");
        HttpResource* page = add("/i.html", "text/html", "<i>");
        HttpResource* z = add("http://g:81/z.txt", "text/plain", "z");
        delivery.deliver();
        ListTreeCtrl* tree = view->tree();
        auto row = [](HttpResource* r) { return static_cast<ListTreeItem>(r->listItem); };
        ListTreeItem host = tree->parentItem(tree->parentItem(row(x)));
        QCOMPARE(ExportCommands::resourceOf(host->data), static_cast<HttpResource*>(nullptr));
        QCOMPARE(ExportCommands::resourceOf(row(x)->data), x);

        ScriptedUi ui;
        ui.files = {out("h"), out("one.html"), out("merged")};
        ui.folders = {out("checked")};
        ExportCommands::run(*view, ID_EXPORT_FOLDER, host, ui);
        ExportCommands::run(*view, ID_EXPORT_FOLDER, row(x), ui); // not a folder
        ExportCommands::run(*view, ID_EXPORT_RESOURCE, row(page), ui);
        tree->SelectItem(row(y), true);
        tree->SelectItem(host, true);
        tree->SelectItem(row(x), true);
        ExportCommands::run(*view, ID_MERGE_EXPORT_SELECTED, nullptr, ui);
        QVERIFY(QDir(outDir->path()).mkdir("checked"));
        tree->SetCheckState(row(z), Checked);
        tree->SetCheckState(row(page), Checked);
        ExportCommands::run(*view, ID_RESOURCES_EXPORT, nullptr, ui);
        QCOMPARE(list(ui.saveDefaults), QStringList({"h", "i.html", ""}));
        QCOMPARE(filesBelow(outDir->path()),
                 QStringList({"checked/i.html", "checked/z.txt", "h/a/b/y.css", "h/a/x.js",
                              "h/i.html", "merged", "one.html"}));
        QCOMPARE_BYTES(readFile(out("h/a/x.js")), big);
        QCOMPARE_BYTES(readFile(out("h/a/b/y.css")), "y{}");
        QCOMPARE_BYTES(readFile(out("merged")), big + "y{}");
        QVERIFY(ui.asked.empty() && ui.messages.empty());

        // The view's own commands reach the real dialogs, once however often attached.
        QCOMPARE(ExportCommands::attach(*view), ExportCommands::attach(*view));
        DialogDriver driver;
        driver.steps.push_back([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
        QVERIFY(view->onCommand(ID_RESOURCES_MERGE_EXPORT));
        QCOMPARE(driver.shown, 1);
        view.reset(); // before the document frees its resources
    }

    // The real dialogs: the save dialog offers the suggested name, message 166 has only Yes and
    // No for one resource, and Yes writes the raw body.
    void realDialogsSingleExport() {
        HttpResource* odd =
            capture("/files/data.bin", "application/x-odd", "RAW", "Content-Encoding: x-odd\r\n");
        QWidget parent;
        ExportDialogs dialogs(&parent);
        DialogDriver driver;
        QString offered;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString question;
        driver.steps.push_back([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
            dialog->setDirectory(outDir->path());
            dialog->selectFile(outDir->path() + "/saved.bin");
            static_cast<QDialog*>(dialog)->accept(); // as the Save or Choose button does
        });
        driver.steps.push_back([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            buttons = box->standardButtons();
            icon = box->icon();
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        exporter(dialogs).exportResource(*odd);
        QCOMPARE(driver.shown, 2);
        QCOMPARE(offered, QString("data.bin"));
        QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(question, QString("资源'data.bin'编码方式不支持，是否不解码直接导出？"));
        QCOMPARE_BYTES(readFile(out("saved.bin")), std::string("RAW"));
    }

    // A batch through the real folder picker: message 166 offers Cancel, and Cancel stops
    // before anything is written; the failure question of a merge has Yes and No.
    void realDialogsBatch() {
        HttpResource* odd =
            capture("/o.bin", "application/x-odd", "R", "Content-Encoding: x-odd\r\n");
        HttpResource* plain = capture("/p.txt", "text/plain", "P");
        add(nullptr, odd, Checked);
        add(nullptr, plain, Checked);
        QWidget parent;
        ExportDialogs dialogs(&parent);
        DialogDriver driver;
        QMessageBox::StandardButtons batchButtons, failureButtons;
        QMessageBox::Icon failureIcon = QMessageBox::NoIcon;
        driver.steps.push_back([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
            dialog->setDirectory(outDir->path());
            dialog->selectFile(outDir->path());
            static_cast<QDialog*>(dialog)->accept(); // as the Save or Choose button does
        });
        driver.steps.push_back([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            batchButtons = box->standardButtons();
            box->button(QMessageBox::Cancel)->click();
        });
        exporter(dialogs).exportChecked();
        QCOMPARE(driver.shown, 2);
        QCOMPARE(batchButtons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QVERIFY(filesBelow(outDir->path()).isEmpty());

        driver.steps.push_back([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            // Opens where the user exported last, not in the working folder.
            QCOMPARE(dialog->directory().absolutePath(), QDir(outDir->path()).absolutePath());
            dialog->setDirectory(outDir->path());
            dialog->selectFile(outDir->path() + "/all");
            static_cast<QDialog*>(dialog)->accept(); // as the Save or Choose button does
        });
        driver.steps.push_back([&](QWidget* w) {
            static_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); // no raw body
        });
        driver.steps.push_back([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            failureButtons = box->standardButtons();
            failureIcon = box->icon();
            box->button(QMessageBox::Yes)->click(); // go on with the others
        });
        exporter(dialogs).mergeExportChecked();
        QCOMPARE(driver.shown, 5);
        QCOMPARE(failureButtons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(failureIcon, QMessageBox::Question);
        QCOMPARE_BYTES(readFile(out("all")), std::string("P"));
    }

    // HAR: the checked resources, all of them when none is checked, or the selected ones, each
    // time in ascending id; what cannot be written or read is told.
    void harFromChecksSelectionOrAll() {
        HttpResource* one = capture("/1.txt", "text/plain", "one");
        HttpResource* two = capture("/2.png", "image/png", noise(30000));
        HttpResource* three = capture("/3.txt", "text/plain", "three");
        add(nullptr, three, Checked);
        ListTreeItem rowTwo = add(nullptr, two);
        add(nullptr, one, Checked);
        auto urls = [](const std::string& path) {
            const HarCheck check = checkHar(path);
            QStringList found;
            if (!check.problems.empty())
                found << QString::fromStdString("not valid HAR: " + check.problems);
            for (const std::string& line : check.lines)
                if (line.find(" url ") != std::string::npos)
                    found << QString::fromStdString(line.substr(line.find(" url ") + 5));
            return found;
        };

        ScriptedUi ui;
        ui.files = {out("checked.har"), out("all.har"), out("selected.har"), std::nullopt};
        exporter(ui).exportHarChecked();
        QCOMPARE(urls(out("checked.har")), QStringList({"http://h/1.txt", "http://h/3.txt"}));
        QCOMPARE(list(ui.saveDefaults), QStringList({"捕捉记录.har"}));
        for (ListTreeItem item = tree.rootItem(); item; item = tree.NextInPreorder(item))
            tree.SetCheckState(item, Unchecked);
        exporter(ui).exportHarChecked();
        QCOMPARE(urls(out("all.har")),
                 QStringList({"http://h/1.txt", "http://h/2.png", "http://h/3.txt"}));
        tree.SelectItem(rowTwo, true);
        exporter(ui).exportHarSelected();
        QCOMPARE(urls(out("selected.har")), QStringList({"http://h/2.png"}));
        exporter(ui).exportHarSelected(); // cancelled
        QCOMPARE(filesBelow(outDir->path()),
                 QStringList({"all.har", "checked.har", "selected.har"}));
        struct stat st {};
        QCOMPARE(::stat(out("all.har").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600)); // it holds cookies and passwords
        QVERIFY(ui.messages.empty() && ui.asked.empty());

        // A folder that is not there; a capture whose cache file has gone.
        ui.files = {out("missing/x.har"), out("partial.har")};
        exporter(ui).exportHarSelected();
        const QString missing = QString::fromStdString(
            pathErrorText(IDS_FILE_NOT_WRITTEN, out("missing/x.har"), ENOENT));
        QCOMPARE(list(ui.messages), QStringList({missing}));
        QVERIFY(QFile::remove(QString::fromStdString(two->storedPath())));
        tree.clearSelection();
        for (ListTreeItem item = tree.rootItem(); item; item = tree.NextInPreorder(item))
            tree.SelectItem(item, true);
        exporter(ui).exportHarSelected();
        QCOMPARE(urls(out("partial.har")), QStringList({"http://h/1.txt", "http://h/3.txt"}));
        QCOMPARE(list(ui.messages),
                 QStringList({missing, "有1个资源的记录无法读取，没有写入HAR文件。"}));
    }

    // Copy as curl from the list's rows; the HAR commands on the real view.
    void curlAndHarFromTheList() {
        ScriptedDocumentUi quiet;
        QueueDelivery delivery;
        MemorySettings settings;
        Document document(quiet, delivery, settings);
        document.cacheFolder = cacheDir.path().toStdString() + "/";
        auto view = std::make_unique<ResourceListView>();
        view->attach(&document);
        document.notify(DocumentEvent::Initialised, nullptr, true);
        delivery.deliver();
        auto show = [&](std::unique_ptr<HttpResource> owned) {
            HttpResource* r = owned.release();
            CaptureLocker lock(captureLock());
            document.addResource(r);
            document.notify(DocumentEvent::ResourceAdded, r, true);
            return r;
        };
        HttpResource* page = show(record(document, "/q?a='1'", "text/html", "<p>", "", true));
        auto tunnel = std::make_unique<HttpResource>(&document);
        HttpRequestHeader connect;
        const std::string head = "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n";
        QVERIFY(parseRequestHeader(head.data(), std::int32_t(head.size()), connect));
        HttpResponseHeader established;
        const std::string answer = "HTTP/1.1 200 Connection established\r\n";
        QVERIFY(parseResponseHeader(answer.data(), std::int32_t(answer.size()), established));
        QVERIFY(tunnel->begin(document.takeSequenceNumber()));
        QVERIFY(tunnel->writeRequestHeader(connect));
        QVERIFY(tunnel->writeResponseHeader(established));
        QVERIFY(tunnel->finish());
        HttpResource* tunnelRow = show(std::move(tunnel));
        delivery.deliver();
        auto row = [](HttpResource* r) { return static_cast<ListTreeItem>(r->listItem); };

        ScriptedUi ui;
        QGuiApplication::clipboard()->setText("before");
        ExportCommands::run(*view, ID_COPY_AS_CURL, row(tunnelRow), ui);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
        QCOMPARE(list(ui.messages), QStringList({"隧道记录没有可以重新发送的请求。"}));
        ExportCommands::run(*view, ID_COPY_AS_CURL, row(page), ui);
        std::string bodies;
        QVERIFY(curlBodyFolder(bodies));
        CurlCommand expected;
        QVERIFY(buildCurlCommand(*page, bodies, expected));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(expected.text));
        QVERIFY2(expected.text.starts_with(R"(curl -g --path-as-is 'http://h/q?a='\''1'\''')"),
                 expected.text.c_str());

        // The menu and the ribbon ask for the commands.
        QSignalSpy requests(view.get(), &ResourceListView::exportRequested);
        view->tree()->SelectItem(row(page), false);
        view->contextCommand(ID_COPY_AS_CURL);
        QVERIFY(view->onCommand(ID_RESOURCES_EXPORT_HAR));
        bool enabled = false, checked = true;
        QVERIFY(view->commandState(ID_RESOURCES_EXPORT_HAR, &enabled, &checked));
        QVERIFY(enabled && !checked);
        QCOMPARE(requests.count(), 2);
        QCOMPARE(requests.at(0).at(0).toInt(), int(ID_COPY_AS_CURL));
        QCOMPARE(requests.at(0).at(1).value<ListTreeItem>(), row(page));
        QCOMPARE(requests.at(1).at(0).toInt(), int(ID_RESOURCES_EXPORT_HAR));
        ui.files = {out("list.har")};
        ExportCommands::run(*view, ID_RESOURCES_EXPORT_HAR, nullptr, ui);
        const HarCheck check = checkHar(out("list.har"));
        QCOMPARE(QString::fromStdString(check.problems), QString());
        QCOMPARE(check.facts(1, "method"), std::vector<std::string>{hexOf("CONNECT")});
        view.reset(); // before the document frees its resources
    }
};

QTEST_MAIN(ExportTest)
#include "export_test.moc"
