// The filter typed above the resource list: one table of filter texts against a handful of
// captured resources, naming the ones each text keeps.
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "ui/browser/ResourceFilter.h"

#include <QtTest>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Sample {
    const char* key; // how the table names it
    const char* address;
    const char* method;
    int status;
    const char* type;
};

const Sample kSamples[] = {
    {"page", "http://www.Example.com/index.html?lang=zh", "GET", 200, "text/html"},
    {"logo", "http://img.example.com:8080/a/logo.PNG", "GET", 200, "image/png"},
    {"missing", "http://www.example.com/js/missing.js", "GET", 404, "text/html"},
    {"order", "http://user@api.example.org/v1/order", "POST", 500, "application/json"},
    {"cjk", "http://example.net/%E5%9B%BE%E7%89%87/a%20b.gif", "HEAD", 304, "image/gif"},
    {"dav", "http://[::1]:81/files/", "PROPFIND", 207, "application/xml"},
    {"gone", "http://example.net/old", "DELETE", 410, ""},
};

} // namespace

class ResourceFilterTest : public QObject {
    Q_OBJECT

    CacheFolder folder;
    std::vector<std::unique_ptr<HttpResource>> resources;

private slots:
    void initTestCase() {
        for (const Sample& s : kSamples) {
            auto r = std::make_unique<HttpResource>(&folder);
            r->url.parse(s.address);
            r->method = requestMethodOf(s.method);
            r->statusCode = s.status;
            r->contentType = s.type;
            resources.push_back(std::move(r));
        }
    }

    void keepsMatchingResources_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("bad");
        const QString all = "page logo missing order cjk dav gone";
        QTest::newRow("empty") << "" << all << "";
        QTest::newRow("only spaces") << "  \t " << all << "";
        QTest::newRow("address word, folded") << "EXAMPLE.COM"
                                              << "page logo missing"
                                              << "";
        QTest::newRow("words all match") << "example .js"
                                         << "missing"
                                         << "";
        QTest::newRow("word across parts") << "com/index.html?lang"
                                           << "page"
                                           << "";
        QTest::newRow("decoded address") << "图片"
                                         << "cjk"
                                         << "";
        QTest::newRow("decoded space") << "a b.gif"
                                       << "cjk"
                                       << "";
        QTest::newRow("as sent") << "%E5%9B%BE"
                                 << "cjk"
                                 << "";
        QTest::newRow("type") << "type:image"
                              << "logo cjk"
                              << "";
        QTest::newRow("type folded") << "Type:IMAGE/PNG"
                                     << "logo"
                                     << "";
        QTest::newRow("types are alternatives") << "type:json type:gif"
                                                << "order cjk"
                                                << "";
        QTest::newRow("status class") << "status:4xx"
                                      << "missing gone"
                                      << "";
        QTest::newRow("status short class") << "status:5"
                                            << "order"
                                            << "";
        QTest::newRow("status exact") << "status:304"
                                      << "cjk"
                                      << "";
        QTest::newRow("status pattern") << "status:4X4"
                                        << "missing"
                                        << "";
        QTest::newRow("statuses are alternatives") << "status:4xx status:5xx"
                                                   << "missing order gone"
                                                   << "";
        QTest::newRow("bad status does not narrow") << "status:abc" << all << "status:abc";
        QTest::newRow("status too long") << "status:4040 type:gif"
                                         << "cjk"
                                         << "status:4040";
        QTest::newRow("status from zero") << "status:0xx" << all << "status:0xx";
        QTest::newRow("method") << "method:POST"
                                << "order"
                                << "";
        QTest::newRow("method folded") << "method:head"
                                       << "cjk"
                                       << "";
        QTest::newRow("other methods") << "method:PROPFIND"
                                       << "dav"
                                       << "";
        QTest::newRow("methods are alternatives") << "method:post method:delete"
                                                  << "order gone"
                                                  << "";
        QTest::newRow("host part") << "host:example.com"
                                   << "page logo missing"
                                   << "";
        QTest::newRow("host without port") << "host:8080"
                                           << ""
                                           << "";
        QTest::newRow("host without user") << "host:user"
                                           << ""
                                           << "";
        QTest::newRow("host v6") << "host:[::1]"
                                 << "dav"
                                 << "";
        QTest::newRow("combined") << "host:example.com status:2xx type:image logo"
                                  << "logo"
                                  << "";
        QTest::newRow("combined, nothing") << "method:POST status:2xx"
                                           << ""
                                           << "";
        QTest::newRow("prefix still being typed") << "status: type:" << all << "";
        QTest::newRow("unknown prefix is a word") << "http://img"
                                                  << "logo"
                                                  << "";
    }
    void keepsMatchingResources() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QFETCH(QString, bad);
        const ResourceFilter filter(text.toStdString());
        QStringList names;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            if (filter.matches(*resources[i]))
                names << kSamples[i].key;
        }
        QCOMPARE(names.join(' '), kept);
        QStringList badTerms;
        for (const std::string& term : filter.badTerms())
            badTerms << QString::fromStdString(term);
        QCOMPARE(badTerms.join(' '), bad);
        QCOMPARE(filter.matchesAll(), kept == keepsAll());
    }

private:
    static QString keepsAll() { return "page logo missing order cjk dav gone"; }
};

QTEST_MAIN(ResourceFilterTest)
#include "resource_filter_test.moc"
