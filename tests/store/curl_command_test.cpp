// Copy as curl: words that no byte can break out of in a POSIX shell, and
// commands that, run by the shell, make the origin receive the request it
// received through the proxy.
#include "StoreTestKit.h"

#include "engine/HttpPushDecoder.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/CurlCommand.h"
#include "store/Document.h"
#include "store/JsonWriter.h"
#include "store/QueuedEventDelivery.h"
#include "support/Compression.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>

namespace {

std::string noise(std::size_t length) {
    std::mt19937 random(5);
    std::string out(length, '\0');
    for (char& c : out)
        c = char(random());
    return out;
}

// The environment of a command run as the user would, without any proxy.
// A terminal's shell, in the UTF-8 locale desktops give it ($'\u202e'
// escapes are characters of the locale), reaching the origin directly.
const std::vector<std::string> kNoProxy = {
    "http_proxy=",  "https_proxy=", "all_proxy=",    "HTTP_PROXY=",
    "HTTPS_PROXY=", "ALL_PROXY=",   "LC_ALL=C.UTF-8"};

// A request as the origin saw it: line, fields in any order, body unframed.
struct Received {
    std::string method, target, body;
    std::vector<std::pair<std::string, std::string>> fields;
    bool operator==(const Received&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Received& r) {
    out << r.method << " " << testing::PrintToString(r.target) << "\n";
    for (const auto& [name, value] : r.fields)
        out << "  " << testing::PrintToString(name) << ": " << testing::PrintToString(value)
            << "\n";
    return out << "  body of " << r.body.size() << " bytes";
}

Received received(const OriginRequest& request) {
    HttpRequestHeader head;
    EXPECT_TRUE(
        parseRequestHeader(request.head.data(), std::int32_t(request.head.size() - 2), head));
    Received r{head.method, head.target, request.body, {}};
    // The proxy names itself in a Via field of its own (to see loops); a
    // command sent again goes straight to the origin.
    for (const HttpHeaderField& f : head.fields)
        if (!(f.name == "Via" && f.value.starts_with("1.1 tidewell-")))
            r.fields.emplace_back(f.name, f.value);
    std::sort(r.fields.begin(), r.fields.end());
    if (head.isChunked()) {
        MemoryStream plain;
        ChunkedPushDecoder decoder(&plain);
        EXPECT_TRUE(decoder.write(request.body.data(), std::int32_t(request.body.size())));
        r.body.assign(plain.data(), std::size_t(plain.length()));
    }
    return r;
}

} // namespace

TEST(CurlCommandTest, NoByteBreaksOutOfAWord) {
    const std::string words[] = {
        "plain-word_1.2/x@y:z",
        "",
        "it's",
        "\"$HOME\" `id` $(id) ${PATH}",
        "back\\slash\\",
        "semi;colon & amp | pipe > out < in",
        "-n",
        "!history *glob?[x] ~tilde #comment %s %%",
        "line1\nline2\n",
        "cr\rlf\r\n",
        "tab\there",
        "\x01\x1b[31mred\x7f",
        "caf\xE9 \xFF\xFE",
        "中文 ‘’",
        "\xC2\x9B"
        "31m",
        "'\"'\"''",
        "\xE2\x80\xAE"
        "lmth.exe",
        "a\xE2\x81\xA6"
        "b\xE2\x81\xA9"
        "c\xE2\x80\xAA",
    };
    // One script prints every word, each ended by a NUL (no word holds one).
    std::string script;
    for (const std::string& word : words) {
        const std::string quoted = shellWord(word);
        EXPECT_TRUE(isValidUtf8(quoted)) << quoted;
        for (char c : quoted)
            EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << quoted;
        // Nothing the terminal would act on or that would turn the text.
        for (const char* hidden : {"\xC2\x9B", "\xE2\x80\xAE", "\xE2\x81\xA6", "\x1B"})
            EXPECT_EQ(quoted.find(hidden), std::string::npos) << quoted;
        script += "printf '%s\\000' " + quoted + "\n";
    }
    EXPECT_EQ(shellWord("plain-word_1.2/x@y:z"), "plain-word_1.2/x@y:z");
    EXPECT_EQ(shellWord(std::string("a\0b", 3)), "ab");
    // What the user reads is what runs.
    EXPECT_EQ(shellWord("\xE2\x80\xAE"
                        "lmth.exe"),
              "$'\\u202e''lmth.exe'");
    EXPECT_EQ(shellWord("caf\xE9\t\x1B"), "'caf'$'\\xe9\\t\\x1b'");
    for (const char* shell : {"bash", "zsh", "ksh"}) {
        if (!std::filesystem::exists(std::string("/usr/bin/") + shell) &&
            !std::filesystem::exists(std::string("/bin/") + shell))
            continue;
        const ProgramResult run =
            runProgram({shell, "-c", script}, {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"});
        ASSERT_EQ(run.exitCode, 0) << shell << ": " << run.errors;
        std::vector<std::string> printed;
        std::size_t start = 0;
        for (std::size_t end; (end = run.output.find('\0', start)) != std::string::npos;
             start = end + 1)
            printed.push_back(run.output.substr(start, end - start));
        ASSERT_EQ(printed.size(), std::size(words)) << shell;
        for (std::size_t i = 0; i < printed.size(); ++i)
            EXPECT_EQ(printed[i], words[i]) << shell << " word " << i;
    }
}

struct CurlReplay : ::testing::Test {
    void SetUp() override {
        document = std::make_unique<Document>(ui, delivery, settings);
        ASSERT_TRUE(document->newDocument());
        document->proxy.manageSystemSettings = false;
        document->proxy.configuredPort = 0;
        ASSERT_TRUE(document->startCapture()) << errorText(lastError());
        ASSERT_TRUE(curlBodyFolder(bodies));
    }
    void TearDown() override {
        document->stopCapture();
        document->closeCaptures(false);
    }

    std::vector<HttpResource*> listed() {
        CaptureLocker lock(captureLock());
        std::vector<HttpResource*> out;
        for (HttpResource* r = document->resources.head; r; r = r->next)
            out.push_back(r);
        return out;
    }

    ScopedDataHome home;
    TempFolder cache;
    ScopedEnv cacheHome{"XDG_CACHE_HOME", cache.path().c_str()};
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    ScopedEnv gsettings{"GSETTINGS_BACKEND", "keyfile"};
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    std::unique_ptr<Document> document;
    std::string bodies;
};

TEST_F(CurlReplay, TheOriginReceivesTheSameRequestAgain) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        sendAllBytes(socket, request.method == "HEAD"
                                 ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"
                                 : OriginServer::okResponse("ok"));
        return true;
    });
    const std::string host = "Host: " + origin.authority() + "\r\n";
    const std::string text = "héllo 'world' $x\n`y` \\ \"q\"\r\nend";
    const std::string binary = noise(40000);
    const std::string sent[] = {
        // Hostile field values, no User-Agent or Accept of its own, a text body.
        "POST " + origin.url("/form?q=1&r=%20") + " HTTP/1.1\r\n" + host +
            "X-Quote: it's \"q\" $HOME `id` $(id) \\\r\nX-Nl: a\nb\r\nX-Cr: a\rb\r\n"
            "X-Tab: a\tb\r\nX-Latin: caf\xE9\r\nX-Empty:\r\nX-Dup: 1\r\nX-Dup: 2\r\n"
            "Content-Type: text/plain\r\nContent-Length: " +
            std::to_string(text.size()) + "\r\n\r\n" + text,
        // A chunked binary body, from a file.
        "PUT " + origin.url("/bin") + " HTTP/1.1\r\n" + host +
            "Transfer-Encoding: chunked\r\nUser-Agent: tw-test\r\nAccept: */*\r\n\r\n" +
            chunked(binary, 7000),
        // Address bytes that are not UTF-8; an HTTP/1.0 request.
        "GET " + origin.url("/p%41th/\xE4\xB8\xAD/\xE9?x=\xE9\xE4") + " HTTP/1.0\r\n" + host +
            "Accept: text/html\r\n\r\n",
        "HEAD " + origin.url("/h") + " HTTP/1.1\r\n" + host + "\r\n",
        // A NUL no command line can carry: that field is left out.
        "GET " + origin.url("/nul") + " HTTP/1.1\r\n" + host + std::string("X-Nul: a\0b\r\n", 12) +
            "X-After: yes\r\n\r\n",
        // Characters that would turn the text shown around them.
        "GET " + origin.url("/\xE2\x80\xAE") + "gnp.exe HTTP/1.1\r\n" + host +
            "X-Title: \xE2\x81\xA6" + "a\xE2\x80\xAE" + "b\r\n\r\n",
    };
    for (const std::string& request : sent)
        rawExchange(document->proxy.port(), request);
    document->stopCapture(); // every exchange has ended
    const std::vector<HttpResource*> captured = listed();
    ASSERT_EQ(captured.size(), std::size(sent));
    origin.waitForRequests(std::size(sent));

    for (std::size_t i = 0; i < captured.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        CurlCommand command;
        ASSERT_TRUE(buildCurlCommand(*captured[i], bodies, command)) << errorText(lastError());
        EXPECT_EQ(command.leftOut, i == 4 ? 1u : 0u);
        for (const char* hidden : {"\xE2\x80\xAE", "\xE2\x81\xA6"})
            EXPECT_EQ(command.text.find(hidden), std::string::npos) << command.text;
        const ProgramResult run = runProgram({"bash", "-c", command.text}, kNoProxy);
        ASSERT_EQ(run.exitCode, 0) << command.text << "\n" << run.errors;
        origin.waitForRequests(std::size(sent) + i + 1);
        Received original = received(origin.requests()[i]);
        const Received again = received(origin.requests()[std::size(sent) + i]);
        if (i == 4) {
            std::erase_if(original.fields, [](const auto& f) { return f.first == "X-Nul"; });
            char note[256];
            std::snprintf(note, sizeof note, loadString(IDS_CURL_FIELDS_LEFT_OUT), 1);
            EXPECT_TRUE(command.text.starts_with(std::string("# ") + note + "\ncurl "))
                << command.text;
        }
        EXPECT_EQ(again, original) << command.text;
    }
    // The text body went into the command, the binary one into a file.
    CurlCommand command;
    ASSERT_TRUE(buildCurlCommand(*captured[0], bodies, command));
    EXPECT_NE(command.text.find("--data-raw"), std::string::npos);
    ASSERT_TRUE(buildCurlCommand(*captured[1], bodies, command));
    EXPECT_NE(command.text.find("--data-binary @" + bodies + "R"), std::string::npos)
        << command.text;
}

TEST_F(CurlReplay, BodyFilesAreTheUsersAlone) {
    const std::string binary = noise(20000);
    auto resource =
        capture(*document, "POST /up HTTP/1.1\r\nHost:h\r\nTransfer-Encoding:chunked\r\n",
                chunked(binary, 3000), "HTTP/1.1 200 OK\r\nContent-Length:0\r\n", "");
    CurlCommand first, second;
    ASSERT_TRUE(buildCurlCommand(*resource, bodies, first));
    ASSERT_TRUE(buildCurlCommand(*resource, bodies, second));
    EXPECT_EQ(first.text, second.text);
    std::vector<std::string> files;
    if (DIR* dir = opendir(bodies.c_str())) {
        while (const dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                files.push_back(e->d_name);
            else
                EXPECT_TRUE(e->d_name == std::string(".") || e->d_name == std::string(".."))
                    << e->d_name;
        closedir(dir);
    }
    ASSERT_EQ(files.size(), 1u);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "R%010u-", unsigned(resource->id));
    EXPECT_TRUE(files[0].starts_with(prefix)) << files[0];
    EXPECT_EQ(readFile(bodies + files[0]), binary);
    struct stat st {};
    ASSERT_EQ(::stat((bodies + files[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode_t(0600));
    ASSERT_EQ(::stat(bodies.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode_t(0700));
    EXPECT_EQ(bodies, cache.path() + "/Merovex/Tidewell/curl/");

    // A tunnel has nothing to send again.
    auto tunnel = capture(*document, "CONNECT example.com:443 HTTP/1.1\r\nHost:example.com:443\r\n",
                          "", "HTTP/1.1 200 Connection established\r\n", "");
    EXPECT_FALSE(buildCurlCommand(*tunnel, bodies, first));
    EXPECT_EQ(lastError(), kErrorTunnelNotRepeatable);
    EXPECT_EQ(errorText(lastError()), loadString(IDS_TUNNEL_NOT_REPEATABLE));
}
