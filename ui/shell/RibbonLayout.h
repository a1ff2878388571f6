// What the main ribbon holds: the application button, the elements right of the tabs and the
// one category with its panels, as plain tables the ribbon widget is built from.
#pragma once

#include <vector>

struct RibbonMenuItem {
    // The mark an item may carry: a check mark, or a radio mark within its menu.
    enum Mark { NoMark, Check, Radio };
    int id;
    const char* text;
    const char* keyTip; // empty when none
    Mark mark;
};

struct RibbonElement {
    enum Kind { Button, MenuButton, Separator };
    Kind kind;
    int id; // 0 for a separator
    const char* text;
    const char* keyTip;
    int smallImage; // -1 when none
    int largeImage; // -1 when none
    bool alwaysLarge;
    // A menu button only opens its menu; a button with a menu also keeps its own command.
    std::vector<RibbonMenuItem> menu;
};

struct RibbonPanel {
    const char* text;
    const char* keyTip; // shown only when the panel is collapsed
    int image;          // large image of the collapsed panel, -1 when none
    std::vector<RibbonElement> elements;
};

struct RibbonCategory {
    const char* text;
    std::vector<RibbonPanel> panels;
};

struct RibbonDescription {
    const char* applicationKeyTip;
    // The elements right of the tabs, in order.
    std::vector<RibbonElement> tabElements;
    std::vector<RibbonCategory> categories;
};

const RibbonDescription& mainRibbonDescription();

// Image roles. Large images are 32 by 32, small ones 16 by 16; the index is the position in the
// ribbon's image strip.
enum LargeImage : int {
    kLargeCaptureStart = 0,
    kLargeCaptureStop = 1,
    kLargeViewPanel = 2,
    kLargeListMode = 3,
    kLargeResources = 4,
    kLargeClear = 5,
    kLargeMergeExport = 6,
    kLargeExport = 7,
    kLargeWindows = 8,
    kLargeOptions = 9,
    kLargeExportHar = 10,
    kLargeImageCount = 11,
};
enum SmallImage : int {
    kSmallCheckUpdate = 0,
    kSmallHelp = 1,
    kSmallImageCount = 2,
};

// Resource paths of the pictures (":/ribbon/...png", with "@2x" twins for dense screens).
const char* largeImageName(int index);
const char* smallImageName(int index);
