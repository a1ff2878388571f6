#include "StoreTestKit.h"

#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "support/Compression.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <set>

namespace {

std::set<std::string> folderEntries(const std::string& path) {
    std::set<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' || (entry->d_name[1] && entry->d_name[1] != '.'))
                names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

struct BodyTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(folder.prepareCacheFolder()); }

    std::unique_ptr<HttpResource> withResponse(const std::string& fields, const std::string& body,
                                               bool finish = true) {
        return capture(folder, "GET /x HTTP/1.1\r\nHost: a\r\n", "", "HTTP/1.1 200 OK\r\n" + fields,
                       body, finish);
    }

    ScopedDataHome home;
    CacheFolder folder;
};

} // namespace

TEST_F(BodyTest, CopyBodyRawAndDecoded) {
    const std::string plain = [] {
        std::string text;
        for (int i = 0; text.size() < 40000; ++i)
            text += "row " + std::to_string(i) + "\n";
        return text;
    }();
    const std::string gz = gzipOf(plain);
    const std::string framed = chunked(gz, 1000);
    const std::string len = "Content-Length: ";
    struct Case {
        const char* label;
        std::string fields;
        std::string stored;
        bool decode;
        bool ok;
        std::uint32_t error;
        std::string output;
    };
    const Case cases[] = {
        {"plain, raw", len + "5\r\n", "hello", false, true, 0, "hello"},
        {"plain, decoded", len + "5\r\n", "hello", true, true, 0, "hello"},
        {"chunked gzip, raw keeps framing",
         "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", framed, false, true, 0,
         framed},
        {"chunked gzip, decoded", "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
         framed, true, true, 0, plain},
        {"chunked only", "Transfer-Encoding: Chunked\r\n", chunked("abcdef", 4), true, true, 0,
         "abcdef"},
        {"gzip by length",
         "Content-Encoding: x-gzip\r\n" + len + std::to_string(gz.size()) + "\r\n", gz, true, true,
         0, plain},
        {"br", "Content-Encoding: br\r\n" + len + std::to_string(brotliOf(plain).size()) + "\r\n",
         brotliOf(plain), true, true, 0, plain},
        {"zstd then chunked", "Content-Encoding: zstd\r\nTransfer-Encoding: chunked\r\n",
         chunked(zstdOf(plain), 333), true, true, 0, plain},
        {"parameters after the coding name",
         "Content-Encoding: gzip ; level=9\r\n" + len + std::to_string(gz.size()) + "\r\n", gz,
         true, true, 0, plain},
        {"identity is unknown when decoding", "Content-Encoding: identity\r\n" + len + "2\r\n",
         "ab", true, false, kErrorCodingUnsupported, ""},
        {"identity copied raw", "Content-Encoding: identity\r\n" + len + "2\r\n", "ab", false, true,
         0, "ab"},
        {"empty coding", "Content-Encoding: gzip,\r\n" + len + "2\r\n", "ab", true, false,
         kErrorCodingUnsupported, ""},
        {"compress cannot be decoded", "Content-Encoding: compress\r\n" + len + "2\r\n", "ab", true,
         false, 0, ""},
        {"length 0 has no body", len + "0\r\n", "", false, false, kErrorNoResponseData, ""},
        {"no length, not chunked, nothing stored", "", "", false, false, kErrorNoResponseData, ""},
        // Framed neither way, the body ended when the origin closed.
        {"until the origin closed", "Content-Type: text/plain\r\n", "to the end", true, true, 0,
         "to the end"},
        {"until the origin closed, gzip", "Content-Encoding: gzip\r\n", gz, true, true, 0, plain},
        {"cut short", len + "10\r\n", "12345", false, false, kErrorDataIncomplete, "12345"},
        {"corrupt gzip", "Content-Encoding: gzip\r\n" + len + "9\r\n", "not gzip!", true, false,
         kErrorInvalidData, ""},
    };
    for (const Case& c : cases) {
        auto resource = withResponse(c.fields, c.stored);
        CollectingOutputStream out;
        setLastError(0);
        EXPECT_EQ(resource->copyBody(out, c.decode), c.ok) << c.label;
        EXPECT_EQ(lastError(), c.error) << c.label;
        EXPECT_EQ(out.text, c.output) << c.label;
        if (c.ok) {
            // Once at the end, however many chunks: a flush of a file is
            // a trip to the disk.
            EXPECT_EQ(out.flushes, 1) << c.label;
        }
    }
}

TEST_F(BodyTest, CopyBodyFailsForABodyCutInsideItsCoding) {
    // The stored length is complete but the compressed data stops early: the
    // decoders see no error, yet the body is not whole and must not pass as such.
    std::string plain;
    for (int i = 0; plain.size() < 40000; ++i)
        plain += "line " + std::to_string(i * 7919 % 10007) + "\n";
    for (const std::string coding : {"gzip", "br", "zstd"}) {
        const std::string coded = coding == "gzip" ? gzipOf(plain)
                                  : coding == "br" ? brotliOf(plain)
                                                   : zstdOf(plain);
        const std::string cut = coded.substr(0, coded.size() * 2 / 3);
        auto resource = withResponse("Content-Encoding: " + coding + "\r\nContent-Length: " +
                                         std::to_string(cut.size()) + "\r\n",
                                     cut);
        CollectingOutputStream out;
        setLastError(0);
        EXPECT_FALSE(resource->copyBody(out, true)) << coding;
        EXPECT_EQ(lastError(), kErrorDataIncomplete) << coding;
        EXPECT_LT(out.text.size(), plain.size()) << coding;
        EXPECT_EQ(out.text, plain.substr(0, out.text.size())) << coding;
    }
}

TEST_F(BodyTest, CopyBodyRefusesALoadingResource) {
    auto resource = withResponse("Content-Length: 4\r\n", "body", false);
    CollectingOutputStream out;
    EXPECT_FALSE(resource->copyBody(out, false));
    EXPECT_EQ(lastError(), kErrorResourceNotReady);
    ASSERT_TRUE(resource->finish());
    EXPECT_TRUE(resource->copyBody(out, false));
    EXPECT_EQ(out.text, "body");
}

TEST_F(BodyTest, ExportWritesTheFileOrLeavesEverythingAsItWas) {
    TempFolder target;
    const std::string path = target.path() + "/out.bin";
    auto good = withResponse("Content-Length: 30000\r\n", std::string(30000, 'z'));
    ASSERT_FALSE(good->inMemory);
    ASSERT_TRUE(good->exportBody(path, true));
    EXPECT_EQ(readFile(path), std::string(30000, 'z'));

    // A failed export over an existing file keeps that file and leaves no
    // partial one behind.
    auto broken = withResponse("Content-Length: 10\r\n", "short");
    EXPECT_FALSE(broken->exportBody(path, false));
    EXPECT_EQ(lastError(), kErrorDataIncomplete);
    EXPECT_EQ(readFile(path), std::string(30000, 'z'));
    EXPECT_EQ(folderEntries(target.path()), std::set<std::string>{"out.bin"});

    EXPECT_FALSE(broken->exportBody(target.path() + "/missing/x", false));
    EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
}

TEST_F(BodyTest, ExportNames) {
    struct Case {
        const char* name;
        const char* contentType;
        const char* suggested;
    };
    const Case cases[] = {
        {"a:b?.php", "text/html", "a_b_.html"},
        {"photo", "application/x-unknown", "photo"},
        {"x.jpg", "IMAGE/PNG", "x.png"},
        {"x.jpg", "image/webp", "x.jpg"},
        {"q\"*<>|\\.txt", "text/css", "q______.css"},
        {"archive.tar.gz", "application/gzip", "archive.tar.gzip"},
        {"noext", "", "noext"},
        // Characters nobody sees, or that turn the text around them, go.
        {"\xE2\x80\xAEtxt.html", "text/html", "txt.html"},
        {"a\xE2\x81\xA6"
         "b\xE2\x81\xA9"
         "c\xE2\x80\xAA"
         "d.js",
         "", "abcd.js"},
        {"tab\there\x1B[31m\x7F\xC2\x85.css", "text/css", "tabhere[31m.css"},
        {"\xE2\x80\xAE", "", "_"},
        // Other characters outside ASCII stay, and so do bytes that are not UTF-8.
        {"\xE4\xB8\xAD\xE2\x80\x8B\xC2\xA0\xE9.txt", "",
         "\xE4\xB8\xAD\xE2\x80\x8B\xC2\xA0\xE9.txt"},
    };
    for (const Case& c : cases) {
        HttpResource resource(&folder);
        resource.name = c.name;
        resource.contentType = c.contentType;
        EXPECT_EQ(resource.suggestedFileName(), c.suggested) << c.name;
    }
}

TEST_F(BodyTest, LongNamesAreCutToAFileNameThatCanBeWritten) {
    TempFolder target;
    auto resource =
        capture(folder, "GET /x HTTP/1.1\r\nHost: a\r\n", "",
                "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\nContent-Length: 3\r\n", "css");
    std::string longStem;
    while (longStem.size() < 400)
        longStem += "中文"; // three bytes a character: a cut may fall inside one
    for (const std::string& name :
         {longStem + ".php", std::string(300, 'a'), "a." + std::string(300, 'b')}) {
        resource->name = name;
        resource->contentType = "application/x-unknown"; // the name's own extension stays
        const std::string suggested = resource->suggestedFileName();
        EXPECT_LE(suggested.size(), 200u) << name.size();
        EXPECT_GT(suggested.size(), 150u) << name.size();
        EXPECT_EQ(name.compare(0, 3, suggested, 0, 3), 0);
        if (name == longStem + ".php") {
            EXPECT_EQ(suggested.substr(suggested.size() - 4), ".php");
            EXPECT_EQ((suggested.size() - 4) % 3, 0u); // whole characters only
        }
        const std::string path = resource->uniqueExportPath(target.path());
        EXPECT_TRUE(resource->exportBody(path, false)) << errorText(lastError());
        EXPECT_EQ(readFile(path), "css");
    }
}

TEST_F(BodyTest, ExportPathsStayUnique) {
    TempFolder target;
    auto resource =
        capture(folder, "GET /img/x.jpg HTTP/1.1\r\nHost: a\r\n", "",
                "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 3\r\n", "png");
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(resource->uniqueExportPath(target.path()));
        ASSERT_TRUE(resource->exportBody(paths.back(), false));
    }
    const std::string base = target.path() + "/";
    EXPECT_EQ(paths,
              (std::vector<std::string>{base + "x.png", base + "x(1).png", base + "x(2).png"}));
    // A trailing slash on the folder is not doubled; a name without
    // extension counts before nothing.
    resource->name = "plain";
    resource->contentType = "text/plain";
    writeFile(base + "plain", "taken");
    EXPECT_EQ(resource->uniqueExportPath(base), base + "plain(1)");
}

TEST_F(BodyTest, ResourceDataRegions) {
    auto resource = capture(folder, "POST /u HTTP/1.1\r\nHost: a\r\n", "0123456789",
                            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "", false);
    auto request = HttpResourceData::requestBody(*resource);
    ASSERT_TRUE(request);
    // More captured bytes do not change the snapshot.
    ASSERT_TRUE(resource->writeData("abcde", 5));
    resource->receivedSize = 5;

    char bytes[64];
    EXPECT_EQ(request->size(), 10);
    EXPECT_EQ(request->read(bytes, 64), 10);
    EXPECT_EQ(std::string(bytes, 10), "0123456789");
    EXPECT_EQ(request->read(bytes, 64), 0);
    EXPECT_TRUE(request->seek(10));
    EXPECT_EQ(request->read(bytes, 1), 0);
    EXPECT_FALSE(request->seek(11));
    EXPECT_FALSE(request->seek(-1));
    ASSERT_TRUE(request->seek(3));
    EXPECT_EQ(request->skip(100), 7);
    EXPECT_EQ(request->available(), 0);

    auto response = HttpResourceData::responseBody(*resource);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->read(bytes, 64), 5);
    EXPECT_EQ(std::string(bytes, 5), "abcde");

    // The same regions from the cache file.
    const std::string big(20000, 'q');
    ASSERT_TRUE(resource->writeData(big.data(), std::uint32_t(big.size())));
    resource->receivedSize += std::int64_t(big.size());
    ASSERT_FALSE(resource->inMemory);
    ASSERT_TRUE(resource->finish());
    auto fileRequest = HttpResourceData::requestBody(*resource);
    ASSERT_TRUE(fileRequest);
    EXPECT_EQ(fileRequest->read(bytes, 64), 10);
    EXPECT_EQ(std::string(bytes, 10), "0123456789");
    auto fileResponse = HttpResourceData::responseBody(*resource);
    ASSERT_TRUE(fileResponse);
    EXPECT_EQ(fileResponse->size(), 20005);
    ASSERT_TRUE(fileResponse->seek(20000));
    EXPECT_EQ(fileResponse->read(bytes, 64), 5);
    EXPECT_EQ(std::string(bytes, 5), "qqqqq");

    ASSERT_EQ(::unlink(resource->storedPath().c_str()), 0);
    EXPECT_FALSE(HttpResourceData::responseBody(*resource));
}
