// What the whole-program test needs around the real program: child
// processes, a private X display, the desktop's proxy settings tool, the
// program's test probe, X input, and a small web site on loopback.
#pragma once

#include "support/OriginServer.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using Environment = std::map<std::string, std::string>;

// A program run with its own environment; killed when still running at
// destruction. Standard output and error go to `logPath` (appended), or,
// with `pipeStderr`, standard error comes back through readLine.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const Environment& env,
                 const std::string& logPath, bool pipeStderr = false, int passFd = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the end; false on time-out. exitCode() is -1 after a signal.
    bool wait(std::chrono::milliseconds patience);
    int exitCode() const { return exitCode_; }
    // Waits for a line of standard error starting with `prefix` and returns
    // it; every line read is also appended to the log. Empty on time-out or
    // end of the program.
    std::string waitForLine(const std::string& prefix, std::chrono::milliseconds patience);
    void signal(int number);

private:
    pid_t pid_ = -1;
    int stderrFd_ = -1;
    int exitCode_ = -1;
    bool ended_ = false;
    std::string pending_;
    std::string logPath_;
};

// Runs a program to its end and returns its standard output (empty and
// `ok` false when it fails or outlives `patience`).
std::string runProgram(const std::vector<std::string>& argv, const Environment& env,
                       bool* ok = nullptr,
                       std::chrono::milliseconds patience = std::chrono::seconds(30));

// The first folder of PATH holding `name`, or empty.
std::string findProgram(const std::string& name);

// The proxy-settings guardian a program forked (its process named
// "tidewell-guard"), 0 when there is none.
pid_t guardianOf(pid_t program);
// Waits for any process, not only a child, to end; false on time-out.
bool waitForEnd(pid_t pid, std::chrono::milliseconds patience);

// Headless Chromium's arguments that keep it quiet and on loopback (no
// background requests of its own), without any proxy, profile or URL.
std::vector<std::string> quietChromiumArguments(const std::string& chromium);

// An Xvfb server on a display number of its own choosing.
class VirtualDisplay {
public:
    VirtualDisplay(const std::string& logPath, int width, int height);
    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; } // ":N"

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

// Asks the window manager's way for a window to close (WM_DELETE_WINDOW),
// as a click on a title bar's close button does.
bool requestWindowClose(const std::string& display, unsigned long window);

// The program's description of its screen, parsed.
struct ProbeButton {
    int x = -1, y = -1;
    bool enabled = false, checked = false;
    std::string className, text, name, toolTip;
};
struct ProbeRow {
    int depth = 0;
    int x = -1, y = -1;
    bool selected = false;
    bool expanded = false;
    std::vector<std::string> cells;
    int parent = -1; // index of the parent row, -1 at the root
};
struct ProbePane {
    bool visible = false;
    int ink = 0;
    std::string title;
    std::vector<std::string> lines;
    std::vector<ProbeRow> rows;
    int rowCount = 0;
};
struct ProbeWindow {
    unsigned long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool modal = false;
    std::string className, title;
};
struct ProbeTarget {
    int x = -1, y = -1;
    bool enabled = false, checked = false;
    std::string text;
};
struct ProbeState {
    bool valid = false;
    std::string raw;
    std::vector<ProbeWindow> windows;
    std::vector<std::string> messageTexts;
    std::vector<ProbeButton> buttons;
    std::vector<ProbeTarget> tabs, menuItems, actions;
    std::vector<std::string> status;
    std::string style;
    int keyTips = -1; // -1: no ribbon
    // The list's filter: its text, the resource rows it keeps and the resource rows in all.
    std::string filterText;
    int filterShown = -1, filterRows = -1;
    int listCount = -1;
    std::vector<ProbeRow> rows;
    std::vector<ProbePane> panes;

    const ProbeButton* button(const std::string& text) const;
    const ProbeTarget* menuItem(const std::string& text) const;
    const ProbeTarget* tab(const std::string& text) const;
    const ProbePane* pane(const std::string& title) const;
    // The first resource row whose name cell is `name`.
    int row(const std::string& name) const;
    bool statusHas(const std::string& text) const;
};

ProbeState parseProbe(const std::string& text);
// One request to the probe's socket; invalid when nobody answers.
ProbeState askProbe(const std::string& socketPath);
// Asks until `condition` holds; the last state either way.
ProbeState waitForState(const std::string& socketPath,
                        const std::function<bool(const ProbeState&)>& condition,
                        std::chrono::milliseconds patience = std::chrono::seconds(20));

// A small true-colour PNG picture of horizontal stripes.
std::string pngPicture(int width, int height);
