// The real desktop program under a private X display, driven by mouse and
// keyboard events like a user, with headless Chromium browsing a small local
// site through the redirected desktop proxy settings.
#include "e2e/DesktopSession.h"
#include "engine/SocketStream.h"
#include "resources/Language.h"
#include "resources/StringTable.h"
#include "support/Compression.h"
#include "support/RunProgram.h"
#include "support/SmallDisk.h"
#include "support/StoredCaptures.h"
#include "support/WebSocketPeer.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kProgram = TIDEWELL_BINARY_DIR "/ui/tidewell";
// Each test leaves its screenshots and logs in a folder of its own below this.
const std::string kArtifactsRoot = TIDEWELL_BINARY_DIR "/e2e";

// The answer of one resource of the site: its fields and body as sent.
struct Page {
    std::string type;
    std::string body;
    bool gzip = false;
    bool chunked = false;
};

std::string chunkedFraming(const std::string& body) {
    std::string out;
    // Pieces of unequal size, so that chunk boundaries fall anywhere.
    for (std::size_t at = 0, piece = 7; at < body.size(); at += piece, piece = piece * 3 + 1) {
        const std::string part = body.substr(at, piece);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// Four copies of one small site, /s1/ to /s4/: a page (gzip, chunked), a
// style sheet (gzip), a script (chunked) that posts a form to /sN/api/echo
// before the page has loaded, and a picture.
Page sitePage(const std::string& target, const std::string& body) {
    std::string path = target;
    if (path.compare(0, 7, "http://") == 0)
        path = path.substr(path.find('/', 7));
    const std::string query =
        path.find('?') == std::string::npos ? "" : path.substr(path.find('?'));
    path = path.substr(0, path.find('?'));
    if (path.size() < 4 || path[0] != '/' || path[1] != 's' || path[3] != '/' || path[2] < '1' ||
        path[2] > '4')
        return {"text/plain; charset=utf-8", "not here\n"};
    const std::string n(1, path[2]);
    const std::string file = path.substr(4);
    if (file == "index.html") {
        return {"text/html; charset=utf-8",
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tidewell site " + n +
                    "</title>\n<link rel=\"stylesheet\" href=\"css/site.css\">\n"
                    "<script src=\"js/app.js\"></script></head>\n<body><h1>潮汐 " +
                    n +
                    "</h1>\n<img src=\"img/logo.png\" width=\"64\" height=\"64\">\n"
                    "<p id=\"js\">waiting</p></body></html>\n",
                true, true};
    }
    if (file == "css/site.css")
        return {"text/css",
                "body { font-family: sans-serif; color: #223; }\nh1 { color: #1e88e5; }\n", true,
                false};
    if (file == "js/app.js") {
        return {"application/javascript",
                "var x = new XMLHttpRequest();\nx.open('POST', 'api/echo?q=tide&n=" + n +
                    "', false);\nx.setRequestHeader('Content-Type', "
                    "'application/x-www-form-urlencoded');\nx.send('name=tidewell&set=" +
                    n +
                    "');\ndocument.addEventListener('DOMContentLoaded', function () {\n"
                    "  document.getElementById('js').textContent = 'script ran: ' + "
                    "x.responseText;\n});\n",
                false, true};
    }
    if (file == "img/logo.png")
        return {"image/png", pngPicture(64, 64), false, false};
    if (file == "api/echo")
        return {"text/plain; charset=utf-8", "echo " + body + " " + query, false, true};
    return {"text/plain; charset=utf-8", "not here\n"};
}

bool serveSite(int socket, const OriginRequest& request) {
    const Page page = sitePage(request.target, request.body);
    const bool found = page.body != "not here\n";
    const std::string body = page.gzip ? gzipOf(page.body) : page.body;
    std::string head = std::string("HTTP/1.1 ") + (found ? "200 OK" : "404 Not Found") +
                       "\r\nContent-Type: " + page.type + "\r\nCache-Control: no-store\r\n";
    if (page.gzip)
        head += "Content-Encoding: gzip\r\n";
    head += page.chunked ? "Transfer-Encoding: chunked\r\n"
                         : "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "\r\n";
    return sendAllBytes(socket, head + (page.chunked ? chunkedFraming(body) : body));
}

std::string trimQuotes(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        text = text.substr(1, text.size() - 2);
    return text;
}

// Everything a pane shows as text, in one string.
std::string paneText(const ProbePane& pane) {
    std::string text;
    for (const auto& line : pane.lines)
        text += line + "\n";
    for (const auto& row : pane.rows) {
        for (const auto& cell : row.cells)
            text += cell + "\t";
        text += "\n";
    }
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* const kPaneTitles[] = {"地址参数", "请求头", "请求数据", "响应头", "响应数据", "预览"};

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "gsettings", "import"}) {
            if (findProgram(tool).empty())
                GTEST_SKIP() << tool << " is not installed";
        }
        chromium = findProgram("chromium");
        if (chromium.empty())
            GTEST_SKIP() << "chromium is not installed";
        ASSERT_EQ(::access(kProgram.c_str(), X_OK), 0) << kProgram;

        char pattern[] = "/tmp/tidewell-e2e.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        artifacts =
            kArtifactsRoot + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(artifacts);
        fs::create_directories(artifacts);
        for (const char* dir :
             {"home", "config", "data", "cache", "runtime", "probe", "chromium/home",
              "chromium/config", "chromium/cache", "chromium/profile"})
            fs::create_directories(root / dir);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);

        display = std::make_unique<VirtualDisplay>(artifacts + "/xvfb.log", 1280, 800);
        ASSERT_TRUE(display->ok()) << "Xvfb did not start; see " << artifacts << "/xvfb.log";

        env["PATH"] = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        env["LANG"] = "C.UTF-8";
        // The program's original texts, which the checks below read.
        env["LANGUAGE"] = "zh_CN";
        env["HOME"] = (root / "home").string();
        env["XDG_CONFIG_HOME"] = (root / "config").string();
        env["XDG_DATA_HOME"] = (root / "data").string();
        env["XDG_CACHE_HOME"] = (root / "cache").string();
        env["XDG_RUNTIME_DIR"] = (root / "runtime").string();
        env["GSETTINGS_BACKEND"] = "keyfile";
        env["DISPLAY"] = display->name();
        env["QT_QPA_PLATFORM"] = "xcb";
        env["TIDEWELL_UPDATE_SERVER"] = ""; // no update check
        env["TIDEWELL_TEST_TRACE"] = "1";
        env["TIDEWELL_TEST_PROBE"] = (root / "probe").string();
        probeSocket = (root / "probe" / "probe").string();
    }

    void TearDown() override {
        program.reset();
        display.reset();
        if (!root.empty())
            fs::remove_all(root);
    }

    std::string gsettings(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"gsettings"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        bool ok = false;
        std::string out = runProgram(argv, env, &ok);
        EXPECT_TRUE(ok) << "gsettings failed";
        return out;
    }
    std::string proxySettings() {
        return gsettings({"list-recursively", "org.gnome.system.proxy"});
    }

    void startProgram() {
        program = std::make_unique<ChildProcess>(std::vector<std::string>{kProgram}, env,
                                                 artifacts + "/tidewell.log", true);
        ASSERT_FALSE(program->waitForLine("tidewell-ready", 30s).empty())
            << "the program did not start; see " << artifacts << "/tidewell.log";
        state = waitForState(probeSocket, [](const ProbeState& s) {
            return !s.windows.empty() && s.listCount >= 0;
        });
        ASSERT_TRUE(state.valid) << "the test probe does not answer";
    }

    void xdotool(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        bool ok = false;
        runProgram(argv, env, &ok);
        EXPECT_TRUE(ok) << "xdotool " << arguments.front();
    }
    void click(int x, int y) {
        xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    ProbeState waitFor(const std::string& what, const std::function<bool(const ProbeState&)>& cond,
                       std::chrono::milliseconds patience = 20s) {
        state = waitForState(probeSocket, cond, patience);
        const bool held = state.valid && cond(state);
        EXPECT_TRUE(held) << "waited in vain for: " << what << "\nlast probe answer:\n"
                          << state.raw;
        return state;
    }

    // Clicks a ribbon button, and then an item of the menu it opened.
    bool command(const std::string& button, const std::string& item = {}) {
        state = waitFor("button " + button, [&](const ProbeState& s) {
            const ProbeButton* b = s.button(button);
            return b && b->enabled;
        });
        const ProbeButton* b = state.button(button);
        if (!b || !b->enabled)
            return false;
        click(b->x, b->y);
        if (item.empty())
            return true;
        state = waitFor("menu item " + item,
                        [&](const ProbeState& s) { return s.menuItem(item) != nullptr; });
        const ProbeTarget* m = state.menuItem(item);
        if (!m)
            return false;
        click(m->x, m->y);
        return true;
    }

    void screenshot(const std::string& name) {
        bool ok = false;
        runProgram({"import", "-window", "root", artifacts + "/e2e-" + name + ".png"}, env, &ok);
        EXPECT_TRUE(ok) << "screenshot " << name;
    }

    // Chromium loads a page of the site through the proxy the desktop
    // settings point at, and returns the page as its scripts left it.
    std::string browse(const std::string& url) {
        const std::string host =
            trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "host"}));
        const std::string port =
            trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "port"}));
        Environment browserEnv{{"PATH", env["PATH"]},
                               {"LANG", "C.UTF-8"},
                               {"HOME", (root / "chromium/home").string()},
                               {"XDG_CONFIG_HOME", (root / "chromium/config").string()},
                               {"XDG_CACHE_HOME", (root / "chromium/cache").string()},
                               {"XDG_RUNTIME_DIR", (root / "runtime").string()}};
        bool ok = false;
        std::vector<std::string> argv = quietChromiumArguments(chromium);
        argv.insert(argv.end(),
                    {"--proxy-server=http://" + host + ":" + port,
                     "--proxy-bypass-list=<-loopback>",
                     "--user-data-dir=" + (root / "chromium/profile").string(), "--dump-dom", url});
        const std::string dom = runProgram(argv, browserEnv, &ok, 60s);
        EXPECT_TRUE(ok) << "chromium failed on " << url;
        return dom;
    }

    // Scrolls with the mouse wheel until the row `find` picks is on screen.
    bool bringIntoSight(const std::function<int(const ProbeState&)>& find) {
        for (int turn = 0; turn < 40 && find(state) >= 0 && state.rows[find(state)].x < 0; ++turn) {
            const auto shown = std::find_if(state.rows.begin(), state.rows.end(),
                                            [](const ProbeRow& r) { return r.x >= 0; });
            if (shown == state.rows.end())
                break;
            const bool below = find(state) > int(shown - state.rows.begin());
            xdotool({"mousemove", std::to_string(shown->x), std::to_string(shown->y), "click",
                     below ? "5" : "4"});
            state = askProbe(probeSocket);
        }
        const int i = find(state);
        return i >= 0 && state.rows[i].x >= 0;
    }

    // Opens the row's collapsed ancestors (double click), brings it into
    // sight, clicks it and waits until it is the selected one.
    void selectRow(const std::string& name, const std::string& set) {
        auto find = [&](const ProbeState& s) {
            for (int i = 0; i < int(s.rows.size()); ++i) {
                const auto& c = s.rows[i].cells;
                if (c.size() > 6 && c[0] == name && contains(c[6], "/" + set + "/"))
                    return i;
            }
            return -1;
        };
        state = waitFor(name + " listed", [&](const ProbeState& s) { return find(s) >= 0; });
        if (find(state) < 0)
            return;
        std::vector<int> path;
        for (int p = state.rows[find(state)].parent; p >= 0; p = state.rows[p].parent)
            path.insert(path.begin(), p);
        for (int ancestor : path) {
            if (state.rows[ancestor].expanded)
                continue;
            auto at = [ancestor](const ProbeState&) { return ancestor; };
            ASSERT_TRUE(bringIntoSight(at)) << "row " << ancestor << "\n" << state.raw;
            xdotool({"mousemove", std::to_string(state.rows[ancestor].x),
                     std::to_string(state.rows[ancestor].y), "click", "--repeat", "2", "1"});
            waitFor("row opened", [&](const ProbeState& s) {
                return int(s.rows.size()) > ancestor && s.rows[ancestor].expanded;
            });
        }
        EXPECT_TRUE(bringIntoSight(find)) << name << " is not on screen\n" << state.raw;
        const int i = find(state);
        if (i < 0 || state.rows[i].x < 0)
            return;
        click(state.rows[i].x, state.rows[i].y);
        waitFor(name + " selected", [&](const ProbeState& s) {
            const int j = find(s);
            return j >= 0 && s.rows[j].selected;
        });
    }

    // Answers the save dialog an export opened with `path`, typed into its
    // file name field, and waits until it has gone.
    void saveAs(const std::string& path, const std::string& shot) {
        waitFor("the save dialog", [](const ProbeState& s) {
            return std::any_of(s.windows.begin(), s.windows.end(),
                               [](const ProbeWindow& w) { return w.modal; });
        });
        if (!shot.empty())
            screenshot(shot);
        xdotool({"key", "ctrl+a"});
        xdotool({"type", "--delay", "5", path});
        xdotool({"key", "Return"});
        waitFor("the save dialog closed", [](const ProbeState& s) {
            return std::none_of(s.windows.begin(), s.windows.end(),
                                [](const ProbeWindow& w) { return w.modal; });
        });
    }

    // Brings the pane to the front (through its tab when it shares a group)
    // and returns what it shows.
    ProbePane showPane(const std::string& title) {
        state = askProbe(probeSocket);
        const ProbePane* pane = state.pane(title);
        EXPECT_NE(pane, nullptr) << "no pane " << title << "\n" << state.raw;
        if (!pane)
            return {};
        if (!pane->visible) {
            if (const ProbeTarget* tab = state.tab(title))
                click(tab->x, tab->y);
        }
        state = waitFor("pane " + title + " shown", [&](const ProbeState& s) {
            const ProbePane* p = s.pane(title);
            return p && p->visible;
        });
        const ProbePane* shown = state.pane(title);
        return shown ? *shown : ProbePane{};
    }

    fs::path root;
    std::string artifacts;
    std::string chromium;
    std::unique_ptr<VirtualDisplay> display;
    Environment env;
    std::string probeSocket;
    std::unique_ptr<ChildProcess> program;
    ProbeState state;
};

// The names of a row's ancestors, outermost first.
std::vector<std::string> ancestors(const ProbeState& s, int row) {
    std::vector<std::string> out;
    for (int p = s.rows[row].parent; p >= 0; p = s.rows[p].parent)
        out.insert(out.begin(), s.rows[p].cells.empty() ? "" : s.rows[p].cells[0]);
    return out;
}

// The row of the resource `name` of site copy `set`, -1 when absent.
int resourceRow(const ProbeState& s, const std::string& name, const std::string& set) {
    for (int i = 0; i < int(s.rows.size()); ++i) {
        const auto& c = s.rows[i].cells;
        if (c.size() > 6 && c[0] == name && !c[2].empty() && contains(c[6], "/" + set + "/"))
            return i;
    }
    return -1;
}

const char* const kSiteFiles[] = {"index.html", "site.css", "app.js", "logo.png", "echo"};

TEST_F(DesktopTest, CapturesChromiumLiveRestoresSettingsAndKeepsCaptures) {
    // The user's own proxy settings, which capturing borrows and gives back.
    gsettings({"set", "org.gnome.system.proxy", "mode", "none"});
    gsettings({"set", "org.gnome.system.proxy", "ignore-hosts",
               "['localhost', '127.0.0.0/8', '::1', '*.intranet.test']"});
    gsettings({"set", "org.gnome.system.proxy.http", "host", "127.0.0.2"});
    gsettings({"set", "org.gnome.system.proxy.http", "port", "3128"});
    gsettings({"set", "org.gnome.system.proxy.https", "host", "127.0.0.3"});
    gsettings({"set", "org.gnome.system.proxy.https", "port", "3129"});
    const std::string userSettings = proxySettings();
    ASSERT_TRUE(contains(userSettings, "3129")) << userSettings;

    OriginServer site(serveSite);
    const std::string origin = "http://" + site.authority();

    ASSERT_NO_FATAL_FAILURE(startProgram());
    EXPECT_TRUE(state.statusHas("空闲")) << state.raw;
    // Every pane, empty: what "nothing shown" looks like in each.
    std::map<std::string, int> emptyInk;
    for (const char* title : kPaneTitles)
        emptyInk[title] = showPane(title).ink;
    screenshot("started");

    ASSERT_TRUE(command("开始"));
    state = waitFor("capturing", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    const std::string redirected = proxySettings();
    EXPECT_TRUE(contains(redirected, "mode 'manual'")) << redirected;

    // Each arrangement in turn, with a fresh copy of the site browsed while
    // it is on: the rows must come in live, in that arrangement's places.
    const std::pair<const char*, const char*> arrangements[] = {
        {"s1", "按顺序查看"}, {"s2", "按目录查看"}, {"s3", "按类型查看"}, {"s4", "按引用查看"}};
    for (const auto& [set, item] : arrangements) {
        SCOPED_TRACE(item);
        ASSERT_TRUE(command("列表", item));
        waitFor(std::string("check mark on ") + item,
                [&, item = std::string(item)](const ProbeState& s) {
                    for (const auto& a : s.actions) {
                        if (a.text == item)
                            return a.checked;
                    }
                    return false;
                });
        const std::string dom = browse(origin + "/" + set + "/index.html?lang=zh&view=" + set);
        EXPECT_TRUE(contains(dom, "script ran: echo name=tidewell&amp;set=")) << dom;
        state = waitFor(
            std::string("rows of ") + set, [&, set = std::string(set)](const ProbeState& s) {
                for (const char* file : kSiteFiles) {
                    const int r = resourceRow(s, file, set);
                    if (r < 0 || s.rows[r].cells.size() < 5 || s.rows[r].cells[4] != "200 完成")
                        return false;
                }
                return true;
            });
        const int page = resourceRow(state, "index.html", set);
        const int sheet = resourceRow(state, "site.css", set);
        const int picture = resourceRow(state, "logo.png", set);
        const int echo = resourceRow(state, "echo", set);
        ASSERT_TRUE(page >= 0 && sheet >= 0 && picture >= 0 && echo >= 0) << state.raw;
        const std::string s(set);
        if (s == "s1") {
            for (const auto& row : state.rows)
                EXPECT_EQ(row.depth, 0) << row.cells[0];
            EXPECT_LT(page, sheet);
        } else if (s == "s2") {
            EXPECT_EQ(ancestors(state, picture),
                      (std::vector<std::string>{site.authority(), "s2", "img"}));
            EXPECT_EQ(ancestors(state, echo),
                      (std::vector<std::string>{site.authority(), "s2", "api"}));
            EXPECT_EQ(ancestors(state, page), (std::vector<std::string>{site.authority(), "s2"}));
        } else if (s == "s3") {
            EXPECT_EQ(ancestors(state, picture), std::vector<std::string>{"图像"});
            EXPECT_EQ(ancestors(state, sheet), std::vector<std::string>{"文本"});
            EXPECT_EQ(ancestors(state, page), std::vector<std::string>{"文本"});
        } else {
            EXPECT_EQ(state.rows[sheet].parent, page);
            EXPECT_EQ(state.rows[picture].parent, page);
            EXPECT_EQ(state.rows[echo].parent, page);
        }
        // Chromium went nowhere but the local site: every captured resource
        // is one of its pages.
        for (const auto& row : state.rows) {
            if (row.cells.size() > 6 && !row.cells[2].empty()) {
                EXPECT_EQ(row.cells[6].rfind(origin + "/", 0), 0u) << row.cells[6];
            }
        }
        screenshot(std::string("arrangement-") + set);
    }

    // The form post fills all six panes: parameters, both heads, the body
    // sent, the body received and its preview.
    selectRow("echo", "s4");
    std::map<std::string, ProbePane> shown;
    for (std::size_t i = 0; i < std::size(kPaneTitles); ++i) {
        shown[kPaneTitles[i]] = showPane(kPaneTitles[i]);
        screenshot("pane-" + std::to_string(i + 1));
    }
    EXPECT_TRUE(contains(paneText(shown["地址参数"]), "tide")) << paneText(shown["地址参数"]);
    EXPECT_TRUE(contains(paneText(shown["请求头"]), "application/x-www-form-urlencoded"))
        << paneText(shown["请求头"]);
    EXPECT_TRUE(contains(paneText(shown["响应头"]), "chunked")) << paneText(shown["响应头"]);
    for (const char* title : kPaneTitles) {
        EXPECT_GT(shown[title].ink, emptyInk[title]) << title << " shows nothing";
    }
    // The page travelled gzip-compressed in chunks; the preview shows it as
    // the browser read it.
    selectRow("index.html", "s4");
    const ProbePane preview = showPane("预览");
    EXPECT_TRUE(contains(paneText(preview), "<p id=\"js\">waiting</p>")) << paneText(preview);
    selectRow("logo.png", "s4");
    showPane("预览");

    // The form post from its row's menu: copied as curl, and as a HAR file
    // through the real save dialog; then every capture from the ribbon
    // (nothing is checked).
    selectRow("echo", "s4");
    const auto rowMenu = [&](const std::string& item) {
        const int r = resourceRow(state, "echo", "s4");
        ASSERT_GE(r, 0) << state.raw;
        xdotool({"mousemove", std::to_string(state.rows[r].x), std::to_string(state.rows[r].y),
                 "click", "3"});
        state = waitFor("the row's menu", [&](const ProbeState& s) { return s.menuItem(item); });
        if (item == "复制为curl命令")
            screenshot("row-menu");
        const ProbeTarget* target = state.menuItem(item);
        ASSERT_NE(target, nullptr);
        click(target->x, target->y);
        waitFor("the menu closed", [](const ProbeState& s) { return s.menuItems.empty(); });
    };
    rowMenu("复制为curl命令");
    rowMenu("导出为HAR");
    saveAs((root / "echo.har").string(), "har-save-dialog");
    HarCheck echo = checkHar((root / "echo.har").string());
    EXPECT_EQ(echo.problems, "");
    EXPECT_EQ(echo.facts(0, "post"),
              std::vector<std::string>{"text application/x-www-form-urlencoded"});
    EXPECT_TRUE(contains(echo.posts[0], "tidewell")) << echo.posts[0];
    EXPECT_TRUE(echo.facts(1, "url").empty());
    ASSERT_TRUE(command("导出HAR"));
    saveAs((root / "all.har").string(), std::string());
    const HarCheck all = checkHar((root / "all.har").string());
    EXPECT_EQ(all.problems, "");
    int rows = 0;
    for (const auto& row : state.rows)
        rows += row.cells.size() > 6 && !row.cells[2].empty();
    EXPECT_EQ(all.facts(rows - 1, "url").size(), 1u);
    EXPECT_TRUE(all.facts(rows, "url").empty());

    const std::vector<std::string> styles = {"Office 2007 (蓝色)", "Office 2007 (黑色)",
                                             "Office 2007 (银色)", "Office 2007 (墨绿)",
                                             "Windows 7"};
    for (std::size_t i = 0; i < styles.size(); ++i) {
        SCOPED_TRACE(styles[i]);
        ASSERT_TRUE(command("样式", styles[i]));
        waitFor("style " + styles[i], [&](const ProbeState& s) {
            return s.menuItems.empty() && s.style == std::to_string(215 + i);
        });
        screenshot("style-" + std::to_string(215 + i));
    }

    // Stop from the keyboard: Alt shows the key tips, T is the stop button's.
    ASSERT_FALSE(state.windows.empty());
    xdotool({"mousemove", std::to_string(state.windows.front().width / 2), "300"});
    xdotool({"key", "alt"});
    waitFor("key tips", [](const ProbeState& s) { return s.keyTips == 1; });
    xdotool({"key", "t"});
    waitFor("idle", [](const ProbeState& s) { return s.statusHas("空闲"); });
    EXPECT_EQ(proxySettings(), userSettings);

    // Exit keeping the captures ("是"): the next start lists them again.
    std::vector<std::string> captured;
    for (const auto& row : state.rows) {
        if (row.cells.size() > 6 && !row.cells[2].empty())
            captured.push_back(row.cells[6] + row.cells[0]);
    }
    std::sort(captured.begin(), captured.end());
    EXPECT_GE(captured.size(), 4u * std::size(kSiteFiles));
    ASSERT_FALSE(state.windows.empty());
    ASSERT_TRUE(requestWindowClose(display->name(), state.windows.front().id));
    state = waitFor("the keep question", [](const ProbeState& s) {
        return !s.messageTexts.empty() && s.button("是(&Y)");
    });
    EXPECT_TRUE(!state.messageTexts.empty() &&
                contains(state.messageTexts.front(), "退出之前是否保存捕捉记录"))
        << state.raw;
    const ProbeButton* yes = state.button("是(&Y)");
    ASSERT_NE(yes, nullptr);
    screenshot("exit-question");
    click(yes->x, yes->y);
    ASSERT_TRUE(program->wait(30s)) << "the program did not end";
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(proxySettings(), userSettings);
    // Every kept capture stored, and everything stored readable by the user
    // alone: captures hold cookies and form data.
    const fs::path cache = root / "data/Merovex/Tidewell/Cache";
    EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const auto& entry : fs::recursive_directory_iterator(cache)) {
        const fs::perms expected = entry.is_directory()
                                       ? fs::perms::owner_all
                                       : fs::perms::owner_read | fs::perms::owner_write;
        EXPECT_EQ(entry.symlink_status().permissions() & fs::perms::all, expected) << entry.path();
    }
    EXPECT_EQ(storedImages(cache.string() + "/").size(), captured.size());

    ASSERT_NO_FATAL_FAILURE(startProgram());
    state = waitFor("kept captures listed", [&](const ProbeState& s) {
        return int(s.rows.size()) >= int(captured.size());
    });
    std::vector<std::string> listed;
    for (const auto& row : state.rows) {
        if (row.cells.size() > 6 && !row.cells[2].empty())
            listed.push_back(row.cells[6] + row.cells[0]);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, captured);
    screenshot("restarted");
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait(30s));
}

// A cache folder through the worst a user's disk sees: kill -9 in the middle of a large
// download, a disk that fills up while a download goes on, and a disk that becomes read-only.
// A row whose body did not arrive whole never says 完成 and shows the bytes that arrived, live
// and after a restart; the command-line export reads the folder beside the open program, and a
// second capture is told who holds it; a read-only folder is browsed, not captured into.
TEST_F(DesktopTest, CapturesThatDidNotEndWholeNeverSayDone) {
    if (findProgram("curl").empty())
        GTEST_SKIP() << "curl is not installed";
    SmallDisk disk(24 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    env["XDG_DATA_HOME"] = disk.path();
    const std::string folder = disk.path() + "/Merovex/Tidewell/Cache/";
    gsettings({"set", "org.gnome.system.proxy", "mode", "none"});
    constexpr std::size_t kDeclared = 64 << 20, kSent = 3 << 20, kFull = 40 << 20;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    OriginServer site([&](int socket, const OriginRequest& request) {
        const bool cut = request.target.find("/cut.bin") != std::string::npos;
        const std::size_t declared = cut ? kDeclared : kFull;
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Content-Length: " +
                                 std::to_string(declared) + "\r\n\r\n";
        if (!cut)
            return sendAllBytes(socket, head + std::string(kFull, 'f'));
        if (!sendAllBytes(socket, head + std::string(kSent, 'c')))
            return false;
        std::unique_lock lock(mutex);
        released.wait_for(lock, 60s, [&] { return release; });
        return false;
    });
    // The size (3) or status (4) of the resource row `name`; empty while it is not listed.
    auto cell = [](const ProbeState& s, const std::string& name, int column) {
        for (const auto& r : s.rows)
            if (r.cells.size() > 4 && r.cells[0] == name && !r.cells[2].empty())
                return r.cells[std::size_t(column)];
        return std::string();
    };
    auto proxyAddress = [&] {
        return "http://" + trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "host"})) +
               ":" + trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "port"}));
    };

    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(command("开始"));
    waitFor("capturing", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    ChildProcess download(
        {"curl", "-s", "-o", "/dev/null", "-x", proxyAddress(), site.url("/cut.bin")},
        {{"PATH", env["PATH"]}}, artifacts + "/curl.log");
    // 3 MiB of 64 MiB.
    waitFor("the download half-way",
            [&](const ProbeState& s) { return cell(s, "cut.bin", 4) == "4%"; });
    program->signal(SIGKILL);
    EXPECT_TRUE(program->wait(30s));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(download.wait(30s));

    ASSERT_NO_FATAL_FAILURE(startProgram());
    state = waitFor("the cut download listed",
                    [&](const ProbeState& s) { return !cell(s, "cut.bin", 4).empty(); });
    EXPECT_EQ(cell(state, "cut.bin", 4), "200 捕捉中断。");
    EXPECT_EQ(cell(state, "cut.bin", 3), "3,072 KB");
    screenshot("interrupted-after-restart");

    // The open, idle program holds the folder for capturing; export reads it all the same.
    const std::vector<std::string> cliEnv{"XDG_DATA_HOME=" + disk.path(),
                                          "XDG_CONFIG_HOME=" + env["XDG_CONFIG_HOME"],
                                          "HOME=" + env["HOME"]};
    const std::string capture = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";
    const std::string har = (root / "beside.har").string();
    // The command speaks the program's language here whatever the test's own locale.
    ProgramResult run = ::runProgram({capture, "--lang", "zh", "--har", har}, cliEnv);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(contains(run.output, "1 个资源已从")) << run.output;
    EXPECT_EQ(checkHar(har).problems, "");
    run = ::runProgram({capture, "--lang", "zh", "--no-system-proxy", "--port", "0"}, cliEnv);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.errors, "正被打开着的 Tidewell 桌面程序（进程号" +
                                         std::to_string(program->pid()) + "）"))
        << run.errors;
    EXPECT_TRUE(contains(run.errors, folder)) << run.errors;

    // The disk fills up while a download goes on: said at once, and never 完成.
    ASSERT_TRUE(command("开始"));
    waitFor("capturing again", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    bool fetched = false;
    runProgram({"curl", "-s", "-o", "/dev/null", "-x", proxyAddress(), site.url("/full.bin")},
               {{"PATH", env["PATH"]}}, &fetched, 60s);
    EXPECT_TRUE(fetched) << "the client did not get its download";
    state = waitFor("the unstored download", [&](const ProbeState& s) {
        return cell(s, "full.bin", 4) == "200 未能保存：设备上没有空间";
    });
    std::string kilobytes = cell(state, "full.bin", 3);
    std::erase(kilobytes, ',');
    EXPECT_LT(std::atoi(kilobytes.c_str()), 24 * 1024) << cell(state, "full.bin", 3);
    screenshot("not-stored-live");
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait(30s));

    // Read-only: browsed and exported, not captured into.
    ASSERT_TRUE(disk.remountReadOnly());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    state = waitFor("the read-only folder listed", [&](const ProbeState& s) {
        return !cell(s, "cut.bin", 4).empty() && s.statusHas("是只读的");
    });
    EXPECT_TRUE(state.statusHas(folder)) << state.raw;
    EXPECT_EQ(cell(state, "cut.bin", 4), "200 捕捉中断。");
    ASSERT_TRUE(command("开始"));
    state = waitFor("the refusal", [&](const ProbeState& s) {
        return std::any_of(s.messageTexts.begin(), s.messageTexts.end(),
                           [&](const std::string& t) { return contains(t, folder); });
    });
    screenshot("read-only-refusal");
    xdotool({"key", "Return"});
    waitFor("the refusal closed", [](const ProbeState& s) { return s.messageTexts.empty(); });
    EXPECT_FALSE(state.statusHas("HTTP代理建立在"));
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait(30s));
}

// kill -9 while capturing: the guardian gives the user's settings back at
// once, exactly, without waiting for the next start.
TEST_F(DesktopTest, KillNineWhileCapturingGivesTheSettingsBackAtOnce) {
    gsettings({"set", "org.gnome.system.proxy", "mode", "manual"});
    gsettings({"set", "org.gnome.system.proxy.http", "host", "proxy.lan"});
    gsettings({"set", "org.gnome.system.proxy.http", "port", "3128"});
    gsettings({"set", "org.gnome.system.proxy", "ignore-hosts", "['localhost', '*.lan']"});
    const std::string userSettings = proxySettings();

    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(command("开始"));
    state = waitFor("capturing", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    const std::string redirected = proxySettings();
    ASSERT_NE(redirected, userSettings);
    const pid_t guardian = guardianOf(program->pid());
    ASSERT_GT(guardian, 0) << "no guardian runs";

    const auto killed = Clock::now();
    program->signal(SIGKILL);
    EXPECT_TRUE(waitForEnd(guardian, 2s)) << "the guardian did not finish within 2 s";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);
    EXPECT_EQ(proxySettings(), userSettings);
    std::printf("settings back %lld ms after kill -9\n", static_cast<long long>(took.count()));
    RecordProperty("restore_ms", int(took.count()));

    // Nothing is left to offer at the next start.
    std::uint32_t flag = 0xFFFF;
    SettingsFile((root / "config/Merovex/Tidewell.conf").string())
        .readDword(ProxySettings::kBackupKey, "", flag);
    EXPECT_EQ(flag, 0u);
}

// The list and panes for everyday work, with curl through the capture proxy: status codes and
// their marks, columns wide enough for what they hold, the note above a cut text, the panes
// shown again when the chosen resource completes, a big picture, the filter in two
// arrangements, and a small window. Each state is a screenshot among the artefacts.
TEST_F(DesktopTest, ResourceBrowserForEverydayWork) {
    if (findProgram("curl").empty())
        GTEST_SKIP() << "curl is not installed";
    gsettings({"set", "org.gnome.system.proxy", "mode", "none"});
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::string script = "// generated\n";
    while (script.size() < 3400000)
        script += "function step" + std::to_string(script.size()) +
                  "(a, b) { return a * 31 + b; } // tidewell\n";
    const std::string picture = pngPicture(3000, 2000);
    const std::string data(20 << 20, 'd');
    OriginServer site([&](int socket, const OriginRequest& request) {
        std::string path = request.target;
        if (path.compare(0, 7, "http://") == 0)
            path = path.substr(path.find('/', 7));
        if (path == "/b/slow.txt") {
            // Half of it at once, the rest when the test says so.
            if (!sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                      "Content-Length: 20\r\n\r\nfirst half"))
                return false;
            std::unique_lock lock(mutex);
            released.wait_for(lock, 60s, [&] { return release; });
            return sendAllBytes(socket, " more text");
        }
        struct Answer {
            const char* path;
            const char* status;
            const char* type;
            const std::string* body;
        };
        static const std::string page = "<!DOCTYPE html><title>b</title><p>browser</p>\n";
        static const std::string missing = "not here\n";
        // A video page: its stream in two variants, the first listing three segments.
        static const std::string show = "<!DOCTYPE html><title>Harbour Lights</title><video>\n";
        static const std::string master =
            "#EXTM3U\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=3000000,RESOLUTION=1280x720\n"
            "hi.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\n"
            "lo.m3u8\n";
        static const std::string media = "#EXTM3U\n#EXT-X-TARGETDURATION:4\n"
                                         "#EXTINF:4.0,\nhi0.ts\n#EXTINF:4.0,\nhi1.ts\n"
                                         "#EXTINF:4.0,\nhi2.ts\n#EXT-X-ENDLIST\n";
        static const std::string segment = std::string(1, '\x47') + std::string(187, 's');
        const Answer answers[] = {
            {"/b/index.html", "200 OK", "text/html", &page},
            {"/b/missing.js", "404 Not Found", "text/html", &missing},
            {"/b/broken", "501 Not Implemented", "text/plain", &missing},
            {"/b/app.js", "200 OK", "application/javascript", &script},
            {"/b/photo.png", "200 OK", "image/png", &picture},
            {"/b/data.bin", "200 OK", "application/octet-stream", &data},
            {"/b/show.html", "200 OK", "text/html", &show},
            {"/b/v/master.m3u8", "200 OK", "application/vnd.apple.mpegurl", &master},
            {"/b/v/hi.m3u8", "200 OK", "application/vnd.apple.mpegurl", &media},
            {"/b/v/hi0.ts", "200 OK", "video/mp2t", &segment},
            {"/b/v/hi1.ts", "200 OK", "video/mp2t", &segment},
        };
        for (const Answer& a : answers) {
            if (path == a.path)
                return sendAllBytes(
                    socket, std::string("HTTP/1.1 ") + a.status + "\r\nContent-Type: " + a.type +
                                "\r\nContent-Length: " + std::to_string(a.body->size()) +
                                "\r\n\r\n" + *a.body);
        }
        return sendAllBytes(socket, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });

    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(command("开始"));
    state = waitFor("capturing", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    const std::string proxy =
        "http://" + trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "host"})) + ":" +
        trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "port"}));
    auto fetch = [&](const std::string& path, const std::string& referer = "") {
        bool ok = false;
        std::vector<std::string> curl = {"curl", "-s", "-o", "/dev/null", "-x", proxy};
        if (!referer.empty())
            curl.insert(curl.end(), {"-e", site.url(referer)});
        curl.push_back(site.url(path));
        runProgram(curl, {{"PATH", env["PATH"]}}, &ok);
        EXPECT_TRUE(ok) << path;
    };
    for (const char* path : {"/b/index.html", "/b/missing.js", "/b/broken", "/b/app.js",
                             "/b/photo.png", "/b/data.bin"})
        fetch(path);
    auto status = [](const ProbeState& s, const std::string& name) {
        const int r = resourceRow(s, name, "b");
        return r >= 0 && s.rows[r].cells.size() > 4 ? s.rows[r].cells[4] : std::string();
    };
    state = waitFor("the site listed", [&](const ProbeState& s) {
        return status(s, "data.bin") == "200 完成" && status(s, "broken") == "501 完成";
    });
    EXPECT_EQ(status(state, "index.html"), "200 完成");
    EXPECT_EQ(status(state, "missing.js"), "404 完成");
    const int big = resourceRow(state, "data.bin", "b");
    ASSERT_GE(big, 0);
    EXPECT_EQ(state.rows[big].cells[3], "20,480 KB");
    EXPECT_EQ(state.rows[big].cells[1], "application/octet-stream");
    screenshot("browser-status-and-widths");

    // A text longer than the preview shows says so above it.
    selectRow("app.js", "b");
    ProbePane preview = showPane("预览");
    EXPECT_TRUE(contains(paneText(preview), "预览只显示了前 2 MiB")) << paneText(preview);
    screenshot("browser-preview-cut");

    selectRow("photo.png", "b");
    preview = showPane("预览");
    EXPECT_GT(preview.ink, 100) << "the picture does not show";
    screenshot("browser-big-picture");

    // Chosen while it loads: "not ready"; once complete, the panes show it without another
    // click.
    ChildProcess slow({"curl", "-s", "-o", "/dev/null", "-x", proxy, site.url("/b/slow.txt")},
                      {{"PATH", env["PATH"]}}, artifacts + "/curl.log");
    selectRow("slow.txt", "b");
    state = waitFor("not ready", [](const ProbeState& s) {
        const ProbePane* p = s.pane("预览");
        return p && contains(paneText(*p), "资源没有准备好");
    });
    screenshot("browser-not-ready");
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    state = waitFor("the completed text", [](const ProbeState& s) {
        const ProbePane* p = s.pane("预览");
        return p && contains(paneText(*p), "first half more text");
    });
    screenshot("browser-completed");
    EXPECT_TRUE(slow.wait(30s));

    // The filter, from the keyboard: errors only, in two arrangements.
    xdotool({"key", "ctrl+f"});
    xdotool({"type", "--delay", "20", "status:4xx status:5xx"});
    state = waitFor("the filter applied", [](const ProbeState& s) {
        return s.filterText == "status:4xx status:5xx" && s.filterShown == 2;
    });
    int listed = 0;
    for (const auto& row : state.rows) {
        if (row.cells.size() > 6 && !row.cells[2].empty()) {
            ++listed;
            EXPECT_TRUE(row.cells[4] == "404 完成" || row.cells[4] == "501 完成") << row.cells[0];
        }
    }
    EXPECT_EQ(listed, 2);
    screenshot("browser-filter");
    // With nothing checked, an export asks whether the rows shown or all of them are meant;
    // closing the question exports nothing.
    ASSERT_TRUE(command("导出HAR"));
    state = waitFor("which rows to export",
                    [](const ProbeState& s) { return s.button("导出显示的 2 项") != nullptr; });
    screenshot("export-which-rows");
    xdotool({"key", "Escape"});
    state = waitFor("the question closed", [](const ProbeState& s) {
        return std::none_of(s.windows.begin(), s.windows.end(),
                            [](const ProbeWindow& w) { return w.modal; });
    });
    ASSERT_TRUE(command("列表", "按目录查看"));
    state = waitFor("the filter by directory", [&](const ProbeState& s) {
        return resourceRow(s, "missing.js", "b") >= 0 && resourceRow(s, "index.html", "b") < 0;
    });
    EXPECT_EQ(ancestors(state, resourceRow(state, "broken", "b")),
              (std::vector<std::string>{site.authority(), "b"}));
    screenshot("browser-filter-by-directory");
    xdotool({"key", "ctrl+f"});
    xdotool({"key", "Escape"});
    state = waitFor("the filter gone", [](const ProbeState& s) {
        return s.filterText.empty() && s.filterShown == s.filterRows;
    });
    ASSERT_TRUE(command("列表", "按顺序查看"));

    // A video stream, two of its three segments captured: the 媒体流 group by type, and the
    // save dialog from the stream's menu naming what is missing.
    fetch("/b/show.html");
    for (const char* path : {"/b/v/master.m3u8", "/b/v/hi.m3u8", "/b/v/hi0.ts", "/b/v/hi1.ts"})
        fetch(path, "/b/show.html");
    ASSERT_TRUE(command("列表", "按类型查看"));
    auto streamRow = [](const ProbeState& s) {
        for (int i = 0; i < int(s.rows.size()); ++i) {
            const ProbeRow& r = s.rows[i];
            if (r.parent >= 0 && s.rows[r.parent].cells.size() > 0 &&
                s.rows[r.parent].cells[0] == "媒体流" && r.cells.size() > 4 &&
                r.cells[0] == "Harbour Lights")
                return i;
        }
        return -1;
    };
    // The group and the stream opened with a double click, as groups start closed.
    auto openRow = [&](const std::function<int(const ProbeState&)>& find, const char* what) {
        state = waitFor(what, [&](const ProbeState& s) {
            const int r = find(s);
            return r >= 0 && s.rows[r].y >= 0;
        });
        const int r = find(state);
        ASSERT_GE(r, 0);
        xdotool({"mousemove", std::to_string(state.rows[r].x), std::to_string(state.rows[r].y),
                 "click", "--repeat", "2", "1"});
    };
    ASSERT_NO_FATAL_FAILURE(openRow(
        [](const ProbeState& s) {
            for (int i = 0; i < int(s.rows.size()); ++i)
                if (s.rows[i].depth == 0 && !s.rows[i].cells.empty() &&
                    s.rows[i].cells[0] == "媒体流")
                    return i;
            return -1;
        },
        "the streams group"));
    ASSERT_NO_FATAL_FAILURE(openRow(streamRow, "the stream shown"));
    state = waitFor("the stream and its variants shown", [&](const ProbeState& s) {
        const int r = streamRow(s);
        return r >= 0 && s.rows[r].cells[4] == "2 / 3 个片段" && r + 2 < int(s.rows.size()) &&
               s.rows[r + 2].y >= 0;
    });
    screenshot("streams-group");
    {
        const int r = streamRow(state);
        ASSERT_GE(r, 0);
        xdotool({"mousemove", std::to_string(state.rows[r].x), std::to_string(state.rows[r].y),
                 "click", "3"});
    }
    state = waitFor("the stream's menu",
                    [&](const ProbeState& s) { return s.menuItem("保存为视频文件"); });
    ASSERT_NE(state.menuItem("保存为视频文件"), nullptr);
    click(state.menuItem("保存为视频文件")->x, state.menuItem("保存为视频文件")->y);
    auto saveDialog = [](const ProbeState& s) -> const ProbeWindow* {
        for (const auto& w : s.windows)
            if (w.title == "保存为视频文件")
                return &w;
        return nullptr;
    };
    state = waitFor("the save dialog", [&](const ProbeState& s) { return saveDialog(s); });
    screenshot("streams-save-dialog");
    xdotool({"key", "Escape"});
    state = waitFor("the dialog closed", [&](const ProbeState& s) { return !saveDialog(s); });
    ASSERT_TRUE(command("列表", "按顺序查看"));

    // A small window keeps rows of the list in sight; the panes give way. (The main window by
    // its class: the menu just used may still be listed while it closes.)
    auto mainWindow = [](const ProbeState& s) -> const ProbeWindow* {
        for (const auto& w : s.windows)
            if (w.className == "MainFrame")
                return &w;
        return nullptr;
    };
    state = waitFor("the menu closed",
                    [&](const ProbeState& s) { return s.menuItems.empty() && mainWindow(s); });
    ASSERT_NE(mainWindow(state), nullptr);
    xdotool({"windowsize", std::to_string(mainWindow(state)->id), "760", "620"});
    state = waitFor("a small window", [&](const ProbeState& s) {
        const ProbeWindow* w = mainWindow(s);
        return w && w->width == 760 && w->height == 620;
    });
    state = waitFor("rows in sight", [](const ProbeState& s) {
        int onScreen = 0;
        for (const auto& row : s.rows)
            onScreen += row.x >= 0;
        return onScreen >= 6;
    });
    screenshot("browser-small-window");
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait(30s));
}

// A WebSocket conversation through the capture proxy, from a client of our
// own: its row says 101 and how long it lasted, the messages pane lists the
// messages both ways, and the response head pane gives the phases.
TEST_F(DesktopTest, WebSocketMessagesAndTimings) {
    gsettings({"set", "org.gnome.system.proxy", "mode", "none"});
    OriginServer echo(webSocketEcho(true));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(command("开始"));
    state = waitFor("capturing", [](const ProbeState& s) { return s.statusHas("HTTP代理建立在"); });
    const int proxyPort =
        std::atoi(trimQuotes(gsettings({"get", "org.gnome.system.proxy.http", "port"})).c_str());
    const int socket = connectLoopback(proxyPort);
    ASSERT_GE(socket, 0);
    SocketStream stream(socket);
    const std::string host = echo.authority();
    const std::string request = webSocketRequest("http://" + host + "/w/feed", host, true);
    ASSERT_TRUE(sendAllBytes(socket, request));
    std::string bytes;
    char buffer[4096];
    while (bytes.find("\r\n\r\n") == std::string::npos) {
        const std::int32_t n = stream.read(buffer, sizeof buffer);
        ASSERT_GT(n, 0) << bytes;
        bytes.append(buffer, std::size_t(n));
    }
    ASSERT_EQ(bytes.rfind("HTTP/1.1 101 ", 0), 0u) << bytes;
    std::vector<std::string> expected;
    {
        WebSocketPeer client(stream, true, true, true, bytes.substr(bytes.find("\r\n\r\n") + 4));
        ASSERT_TRUE(holdEchoConversation(client, true, expected));
    }
    ::shutdown(socket, SHUT_WR);
    while (stream.read(buffer, sizeof buffer) > 0) {
    }
    ::close(socket);

    state = waitFor("the WebSocket ended", [&](const ProbeState& s) {
        const int r = resourceRow(s, "feed", "w");
        return r >= 0 && s.rows[r].cells.size() > 5 && s.rows[r].cells[4].rfind("101 ", 0) == 0 &&
               !s.rows[r].cells[5].empty();
    });
    const int row = resourceRow(state, "feed", "w");
    ASSERT_GE(row, 0);
    EXPECT_EQ(state.rows[row].cells[1], "WebSocket");
    screenshot("websocket-row-and-duration");

    selectRow("feed", "w");
    const ProbePane messages = showPane("WebSocket 消息");
    EXPECT_TRUE(contains(paneText(messages), "subscribe")) << paneText(messages);
    EXPECT_TRUE(contains(paneText(messages), "close")) << paneText(messages);
    screenshot("websocket-messages");
    const ProbePane head = showPane("响应头");
    EXPECT_TRUE(contains(paneText(head), "耗时")) << paneText(head);
    screenshot("response-head-timings");
    // Ended the way the user ends it, so that nothing writes in its folders
    // any more.
    program->signal(SIGTERM);
    EXPECT_TRUE(program->wait(30s));
}

// The main window, the capture options menu and the dialogs reached from them, in both languages
// at a large and a small window size: the screenshots among the artefacts are looked at for cut
// labels.
TEST_F(DesktopTest, ScreensInBothLanguages) {
    auto mainWindow = [](const ProbeState& s) -> const ProbeWindow* {
        for (const auto& w : s.windows)
            if (w.className == "MainFrame")
                return &w;
        return nullptr;
    };
    auto hasModal = [](const ProbeState& s) {
        return std::any_of(s.windows.begin(), s.windows.end(),
                           [](const ProbeWindow& w) { return w.modal; });
    };
    for (const Language language : {Language::English, Language::Chinese}) {
        const std::string name = language == Language::English ? "en" : "zh";
        SCOPED_TRACE(name);
        env["LANGUAGE"] = language == Language::English ? "en" : "zh_CN";
        ASSERT_NO_FATAL_FAILURE(startProgram());
        const std::string options = loadString(IDS_BUTTON_OPTIONS, language);
        for (const auto& [width, height] : {std::pair{1280, 800}, std::pair{760, 620}}) {
            const std::string shot =
                name + "-" + std::to_string(width) + "x" + std::to_string(height);
            state = waitFor("the main window", [&](const ProbeState& s) {
                return s.menuItems.empty() && !hasModal(s) && mainWindow(s);
            });
            ASSERT_NE(mainWindow(state), nullptr);
            xdotool({"windowmove", std::to_string(mainWindow(state)->id), "0", "0"});
            xdotool({"windowsize", std::to_string(mainWindow(state)->id), std::to_string(width),
                     std::to_string(height)});
            state = waitFor("the window's size", [&](const ProbeState& s) {
                const ProbeWindow* w = mainWindow(s);
                return w && w->width == width && w->height == height;
            });
            screenshot(shot + "-main");

            ASSERT_TRUE(command(options));
            waitFor("the options menu", [](const ProbeState& s) { return !s.menuItems.empty(); });
            screenshot(shot + "-options");
            xdotool({"key", "Escape"});

            // The About box, from the application button's key tip.
            waitFor("the menu closed", [](const ProbeState& s) { return s.menuItems.empty(); });
            xdotool({"key", "alt"});
            waitFor("key tips", [](const ProbeState& s) { return s.keyTips == 1; });
            xdotool({"key", "h"});
            waitFor("the About box", hasModal);
            screenshot(shot + "-about");
            xdotool({"key", "Escape"});
            waitFor("the About box closed", [&](const ProbeState& s) { return !hasModal(s); });

            // The dialogs of the options menu: the pass-through hosts, the install question
            // (here the note that there is nothing to install into), the file chooser.
            for (const auto& [item, what] : {std::pair{IDS_MENU_HTTPS_PASS_THROUGH, "pass-through"},
                                             std::pair{IDS_MENU_HTTPS_INSTALL_CA, "install-root"},
                                             std::pair{IDS_MENU_HTTPS_EXPORT_CA, "file-chooser"}}) {
                ASSERT_TRUE(command(options, loadString(item, language)));
                waitFor(what, hasModal);
                screenshot(shot + "-" + what);
                xdotool({"key", "Escape"});
                waitFor(std::string(what) + " closed",
                        [&](const ProbeState& s) { return !hasModal(s); });
            }
        }
        program->signal(SIGTERM);
        EXPECT_TRUE(program->wait(30s));
        program.reset();
    }
}

// Without any display the program says what it needs and what works instead, and fails
// plainly: no abort, no advice to reinstall. A display that is named but cannot be reached is
// the same failure.
TEST(DesktopProgram, WithoutADisplaySaysSoAndPointsToTheCommandLine) {
    ASSERT_EQ(::access(kProgram.c_str(), X_OK), 0) << kProgram;
    char pattern[] = "/tmp/tidewell-nodisplay.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    const std::vector<std::string> unset{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
    const std::vector<std::string> unreachable{"DISPLAY=" + (root / "no-server:0").string(),
                                               "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
    for (const auto& display : {unset, unreachable}) {
        std::vector<std::string> environment = display;
        environment.insert(environment.end(),
                           {"HOME=" + root.string(),
                            "XDG_CONFIG_HOME=" + (root / "config").string(),
                            "XDG_DATA_HOME=" + (root / "data").string(),
                            "XDG_RUNTIME_DIR=" + root.string(), "TIDEWELL_UPDATE_SERVER="});
        const ProgramResult run = ::runProgram({kProgram}, environment);
        EXPECT_EQ(run.exitCode, 1) << display[0] << "\n" << run.errors;
        EXPECT_TRUE(contains(run.errors, "tidewell-capture")) << run.errors;
        EXPECT_FALSE(contains(run.errors, "Reinstalling")) << run.errors;
    }
    fs::remove_all(root);
}

} // namespace
