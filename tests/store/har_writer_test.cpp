// HAR export of captured exchanges: every file passes the HAR 1.2 structure
// check, every body decodes back to the captured bytes, head bytes that are
// not UTF-8 come back exactly, and failures leave nothing behind.
#include "StoreTestKit.h"

#include "engine/HttpConnection.h"
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/HarWriter.h"
#include "store/HttpResource.h"
#include "support/Compression.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"

#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>

namespace {

std::string noise(std::size_t length, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::string out(length, '\0');
    for (char& c : out)
        c = char(random());
    return out;
}

std::string lines(std::size_t length) {
    std::string text;
    for (int i = 0; text.size() < length; ++i)
        text += "{\"row\": " + std::to_string(i) + ", \"名\": \"值\"}\n";
    return text;
}

struct HarTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(folder.prepareCacheFolder()); }

    HttpResource* add(const std::string& request, const std::string& requestBody,
                      const std::string& response, const std::string& responseBody,
                      bool finish = true) {
        kept.push_back(capture(folder, request, requestBody, response, responseBody, finish));
        return kept.back().get();
    }

    HarCheck exported(std::size_t* skipped = nullptr) {
        std::vector<HttpResource*> all;
        for (auto& r : kept)
            all.push_back(r.get());
        const std::string path = out.path() + "/capture.har";
        EXPECT_TRUE(writeHarFile(path, all, "9.8.7", skipped)) << errorText(lastError());
        HarCheck check = checkHar(path);
        EXPECT_TRUE(check.ran);
        EXPECT_EQ(check.problems, "");
        return check;
    }

    ScopedDataHome home;
    CacheFolder folder;
    TempFolder out;
    std::vector<std::unique_ptr<HttpResource>> kept;
};

} // namespace

TEST_F(HarTest, ResponseBodiesDecodeBackToTheCapturedBytes) {
    const std::string json = lines(30000);
    const std::string image = noise(40000);
    const std::string text = "<p>中文 \"quoted\" \\ \x01</p>\n";
    struct Case {
        const char* label;
        std::string fields;
        std::string stored;
        bool finish;
        std::uint32_t result;
        bool hasText;
        std::string content;
        const char* encoding;
        std::string comment;
    };
    auto length = [](const std::string& body) {
        return "Content-Length:" + std::to_string(body.size()) + "\r\n";
    };
    const Case cases[] = {
        {"utf-8 html", "Content-Type:text/html; charset=UTF-8\r\n" + length(text), text, true, 0,
         true, text, "text", ""},
        {"gzip in chunks",
         "Content-Type:application/json\r\nContent-Encoding:gzip\r\n"
         "Transfer-Encoding:chunked\r\n",
         chunked(gzipOf(json), 1000), true, 0, true, json, "text", ""},
        {"brotli", "Content-Type:text/css\r\nContent-Encoding:br\r\n" + length(brotliOf(json)),
         brotliOf(json), true, 0, true, json, "text", ""},
        {"binary", "Content-Type:image/png\r\n" + length(image), image, true, 0, true, image,
         "base64", ""},
        {"latin-1 text", "Content-Type:text/plain; charset=iso-8859-1\r\nContent-Length:4\r\n",
         "caf\xE9", true, 0, true, "caf\xE9", "base64", ""},
        {"not the utf-8 it claims", "Content-Type:text/plain\r\nContent-Length:4\r\n", "caf\xE9",
         true, 0, true, "caf\xE9", "base64", ""},
        {"unknown coding",
         "Content-Type:text/plain\r\nContent-Encoding:x-odd\r\nContent-Length:3\r\n", "RAW", true,
         0, true, "RAW", "base64", "编码方式不支持"},
        {"no body", "Content-Length:0\r\n", "", true, 0, false, "", "text", ""},
        {"cut short", "Content-Type:text/plain\r\nContent-Length:100\r\n",
         "forty bytes and no more", true, kErrorDataIncomplete, true, "forty bytes and no more",
         "base64", "数据不完整。"},
        {"still loading", "Content-Type:text/plain\r\nContent-Length:10\r\n", "12345", false, 0,
         true, "12345", "base64", "资源没有准备好。"},
    };
    for (const Case& c : cases) {
        HttpResource* r = add("GET /x HTTP/1.1\r\nHost:h\r\n", "", "HTTP/1.1 200 OK\r\n" + c.fields,
                              c.stored, false);
        r->result = c.result;
        if (c.finish) {
            ASSERT_TRUE(r->finish());
        }
    }
    const HarCheck check = exported();
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.label);
        const auto content = check.facts(i, "content");
        ASSERT_EQ(content.size(), 1u);
        EXPECT_TRUE(content[0].starts_with(std::string(c.encoding) +
                                           " size=" + std::to_string(c.content.size())))
            << content[0];
        EXPECT_EQ(check.contents.count(i), c.hasText ? 1u : 0u);
        if (c.hasText) {
            EXPECT_EQ(check.contents.at(i), c.content);
        }
        const auto comment = check.facts(i, "content-comment");
        EXPECT_EQ(comment.empty() ? std::string() : comment[0], c.comment);
        const auto entryComment = check.facts(i, "comment");
        if (c.result || !c.finish) {
            ASSERT_EQ(entryComment.size(), 1u);
            EXPECT_EQ(entryComment[0], c.comment);
        } else {
            EXPECT_TRUE(entryComment.empty());
        }
    }
    // Content codings undone count as bytes saved.
    EXPECT_NE(
        check.facts(1, "content")[0].find(
            "compression=" + std::to_string(json.size() - chunked(gzipOf(json), 1000).size())),
        std::string::npos);
}

TEST_F(HarTest, RequestsAndHeadsCarryTheirBytes) {
    const std::string form = "k=v+w&n=%E4%B8%AD&empty=";
    const std::string formHead = "POST /form?a=1&b=x%20y&c=+p&&flag HTTP/1.1\r\nHost:h:8080\r\n"
                                 "Cookie:s=1; t=two\r\nX-Latin:caf\xE9\r\n"
                                 "X-Ctl:a\x01"
                                 "b\"c\\d\nnl\r\n"
                                 "Content-Type:application/x-www-form-urlencoded\r\n"
                                 "Content-Length:" +
                                 std::to_string(form.size()) + "\r\n";
    add(formHead, form,
        "HTTP/1.1 302 Trouv\xE9\r\nLocation:/next\r\nSet-Cookie:id=42; Path=/; Domain=h; "
        "Expires=Sun, 06 Nov 2044 08:49:37 GMT; HttpOnly; Secure\r\nSet-Cookie:bare\r\n"
        "Content-Length:0\r\n",
        "");
    const std::string upload = noise(20000, 3);
    const std::string framed = chunked(upload, 3000);
    add("PUT /up HTTP/1.1\r\nHost:h\r\nTransfer-Encoding:chunked\r\n"
        "Content-Type:application/octet-stream\r\n",
        framed, "HTTP/1.1 201 Created\r\nContent-Length:0\r\n", "");
    add("GET /a\x01"
        "b/\xE4\xB8\xAD\xE9{x}?q=\"x\"#frag HTTP/1.0\r\nHost:h\r\n",
        "", "HTTP/1.0 200 OK\r\nContent-Length:0\r\n", "");
    HttpResource* tunnel = add("CONNECT example.com:443 HTTP/1.1\r\nHost:example.com:443\r\n", "",
                               "HTTP/1.1 200 Connection established\r\n", "", false);
    ASSERT_TRUE(tunnel->tunnel);
    tunnel->tunnel->toServer = 5120;
    tunnel->tunnel->toClient = 70000;
    tunnel->tunnel->end = TunnelEnd::ServerClosed;
    ASSERT_TRUE(tunnel->finish());

    const HarCheck check = exported();
    using Facts = std::vector<std::string>;
    // The form post.
    EXPECT_EQ(check.facts(0, "method"), Facts{hexOf("POST")});
    EXPECT_EQ(check.facts(0, "url"), Facts{"http://h:8080/form?a=1&b=x%20y&c=+p&&flag"});
    EXPECT_EQ(check.facts(0, "query"), (Facts{"a=1", "b=x y", "c= p", "flag="}));
    EXPECT_EQ(check.facts(0, "request-cookie"), (Facts{"s=1", "t=two"}));
    const Facts headers = check.facts(0, "request-header");
    ASSERT_EQ(headers.size(), 6u);
    EXPECT_EQ(headers[2], hexOf("X-Latin") + " " + hexOf("caf\xE9"));
    EXPECT_EQ(headers[3], hexOf("X-Ctl") + " " +
                              hexOf("a\x01"
                                    "b\"c\\d\nnl"));
    EXPECT_EQ(check.facts(0, "post"), Facts{"text application/x-www-form-urlencoded"});
    EXPECT_EQ(check.posts.at(0), form);
    EXPECT_EQ(check.facts(0, "param"), (Facts{"k=v w", "n=中", "empty="}));
    EXPECT_EQ(check.facts(0, "request-sizes"),
              Facts{std::to_string(formHead.size() + 2) + " " + std::to_string(form.size())});
    EXPECT_EQ(check.facts(0, "status"), Facts{"302 " + hexOf("Trouv\xE9")});
    EXPECT_EQ(check.facts(0, "response-cookie"),
              (Facts{"id=42 path=/ domain=h expires=2044-11-06T08:49:37.000Z httpOnly=True "
                     "secure=True",
                     "bare= httpOnly=False secure=False"}));
    EXPECT_EQ(check.facts(0, "redirect"), Facts{"/next"});

    // A chunked binary upload: the bytes without the framing, in base64.
    EXPECT_EQ(check.facts(1, "post"), Facts{"base64 application/octet-stream"});
    EXPECT_EQ(check.posts.at(1), upload);
    EXPECT_EQ(
        check.facts(1, "request-sizes")[0].substr(check.facts(1, "request-sizes")[0].find(' ') + 1),
        std::to_string(framed.size()));

    // Bytes no address may hold are escaped; the fragment never went out.
    EXPECT_EQ(check.facts(2, "url"), Facts{"http://h/a%01b/%E4%B8%AD%E9%7Bx%7D?q=%22x%22"});
    EXPECT_EQ(check.facts(2, "version"), Facts{hexOf("HTTP/1.0")});
    EXPECT_TRUE(check.facts(2, "post").empty());

    // A tunnel: host and port only, no body either way.
    EXPECT_EQ(check.facts(3, "method"), Facts{hexOf("CONNECT")});
    EXPECT_EQ(check.facts(3, "url"), Facts{"https://example.com:443"});
    EXPECT_EQ(check.facts(3, "content"), Facts{"text size=0 mime="});
    EXPECT_EQ(check.facts(3, "tunnel"), Facts{"5120 70000 serverClosed"});
    EXPECT_TRUE(check.facts(0, "tunnel").empty());
}

TEST_F(HarTest, TimingsFromTheRecordAlsoAfterAReload) {
    // A new connection with TLS: start, 1.5 ms looking the name up, 4 ms
    // connecting (3 of them the handshake), then sending, waiting, receiving.
    ExchangeTimings timings;
    timings.start = 1700000000123456;
    timings.dns = 1500;
    timings.connect = 4000;
    timings.tls = 3000;
    timings.connected = 5600;
    timings.sent = 6000;
    timings.firstByte = 56000;
    timings.end = 81500;
    HttpResource* live = add("GET /t HTTP/1.1\r\nHost:h\r\n", "",
                             "HTTP/1.1 200 OK\r\nContent-Length:2\r\n", "ok", false);
    live->timings = timings;
    live->duration = timings.end;
    ASSERT_TRUE(live->finish());
    // A reused connection: no name, no connect.
    HttpResource* reused = add("GET /r HTTP/1.1\r\nHost:h\r\n", "",
                               "HTTP/1.1 200 OK\r\nContent-Length:2\r\n", "ok", false);
    reused->timings = ExchangeTimings{1700000001000000, -1, -1, -1, 100, 300, 2300, 2400};
    ASSERT_TRUE(reused->finish());
    // Kept by a build that noted no times: only the file's.
    HttpResource* earlier =
        add("GET /k HTTP/1.1\r\nHost:h\r\n", "", "HTTP/1.1 200 OK\r\nContent-Length:2\r\n", "ok");
    const std::string file = folder.fileName(earlier->id);
    // As that build left it: nothing after the body.
    writeFile(file, storedImage(*earlier).substr(
                        0, std::size_t(earlier->responseBodyOffset + earlier->receivedSize)));
    const timespec times[2] = {{1600000000, 250000000}, {1600000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    kept.back() = std::make_unique<HttpResource>(&folder);
    ASSERT_TRUE(kept.back()->load(file));

    using Facts = std::vector<std::string>;
    const Facts expected[] = {
        {"2023-11-14T22:13:20.123Z 81.5 50 25.5", "0.1 1.5 4 3 0.4 50 25.5"},
        {"2023-11-14T22:13:21.000Z 2.4 2 0.1", "0.1 -1 -1 -1 0.2 2 0.1"},
        {"2020-09-13T12:26:40.250Z 0 0 0", "-1 -1 -1 -1 0 0 0"},
    };
    const HarCheck check = exported();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(check.facts(i, "timing"), Facts{expected[i][0]}) << i;
        EXPECT_EQ(check.facts(i, "phases"), Facts{expected[i][1]}) << i;
    }
    // The same from the stored images, as the next run reads them.
    for (int i = 0; i < 2; ++i) {
        const std::uint32_t id = kept[std::size_t(i)]->id;
        writeFile(folder.fileName(id), storedImage(*kept[std::size_t(i)]));
        kept[std::size_t(i)] = std::make_unique<HttpResource>(&folder);
        ASSERT_TRUE(kept[std::size_t(i)]->load(folder.fileName(id)));
    }
    const HarCheck reloaded = exported();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reloaded.facts(i, "timing"), Facts{expected[i][0]}) << i;
        EXPECT_EQ(reloaded.facts(i, "phases"), Facts{expected[i][1]}) << i;
    }
}

// An exchange the origin never answered, listed with the proxy's own page:
// written as browsers write a failed request, status 0 and the reason. An
// origin's answer cut short keeps its status.
TEST_F(HarTest, ExchangesTheOriginNeverAnsweredHaveStatusZeroAndTheReason) {
    HttpResource* refused =
        add("GET /r HTTP/1.1\r\nHost:h\r\n", "",
            "HTTP/1.1 502 Bad Gateway\r\nServer:Tidewell\r\nContent-Type:text/html; "
            "charset=utf-8\r\nContent-Length:15\r\nConnection:close\r\n",
            "<p>our page</p>", false);
    refused->result = kErrorConnectionRefused;
    ASSERT_TRUE(refused->finish());
    HttpResource* cut = add("GET /c HTTP/1.1\r\nHost:h\r\n", "",
                            "HTTP/1.1 200 OK\r\nContent-Length:9\r\n", "part", false);
    cut->result = kErrorDataIncomplete;
    ASSERT_TRUE(cut->finish());
    const HarCheck check = exported();
    EXPECT_EQ(check.facts(0, "status"), std::vector<std::string>{"0 "});
    EXPECT_EQ(check.facts(1, "status"), std::vector<std::string>{"200 " + hexOf("OK")});
    const std::string har = readFile(out.path() + "/capture.har");
    const std::string error = "\"_error\":\"" + errorText(kErrorConnectionRefused) + "\"";
    EXPECT_NE(har.find(error), std::string::npos) << har;
    EXPECT_EQ(har.find("\"_error\"", har.find(error) + 1), std::string::npos);
    EXPECT_EQ(har.find("our page"), std::string::npos);
}

TEST_F(HarTest, FailuresLeaveNothingBehind) {
    add("GET /a HTTP/1.1\r\nHost:h\r\n", "", "HTTP/1.1 200 OK\r\nContent-Length:2\r\n", "ok");
    // A capture whose cache file has gone: left out, the others written.
    HttpResource* gone =
        add("GET /b HTTP/1.1\r\nHost:h\r\n", "",
            "HTTP/1.1 200 OK\r\nContent-Type:image/png\r\nContent-Length:20000\r\n", noise(20000));
    ASSERT_FALSE(gone->inMemory);
    ASSERT_EQ(::unlink(gone->storedPath().c_str()), 0);
    std::size_t skipped = 0;
    const HarCheck check = exported(&skipped);
    EXPECT_EQ(skipped, 1u);
    EXPECT_EQ(check.facts(0, "url"), std::vector<std::string>{"http://h/a"});
    EXPECT_TRUE(check.facts(1, "url").empty());
    struct stat st {};
    ASSERT_EQ(::stat((out.path() + "/capture.har").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode_t(0600)); // cookies and passwords

    // A target that cannot be replaced, and one in a missing folder.
    ASSERT_EQ(::mkdir((out.path() + "/taken").c_str(), 0700), 0);
    std::vector<HttpResource*> all{kept[0].get()};
    EXPECT_FALSE(writeHarFile(out.path() + "/taken", all, "1"));
    EXPECT_EQ(lastError(), std::uint32_t(EISDIR));
    EXPECT_FALSE(writeHarFile(out.path() + "/missing/x.har", all, "1"));
    EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
    std::vector<std::string> names;
    if (DIR* dir = opendir(out.path().c_str())) {
        while (const dirent* e = readdir(dir))
            names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "capture.har", "taken"}));

    // The output failing half way: the writer says so.
    struct Full : OutputStream {
        bool write(const void*, std::int32_t) override {
            setLastError(ENOSPC);
            return false;
        }
    } full;
    HarWriter writer(full, "1");
    writer.begin();
    writer.add(*kept[0]);
    EXPECT_FALSE(writer.end());
    EXPECT_EQ(lastError(), std::uint32_t(ENOSPC));
}
