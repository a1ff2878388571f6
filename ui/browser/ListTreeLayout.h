// Placement arithmetic of the list-tree control: child windows, horizontal scrolling and cells.
#pragma once

#include <vector>

struct LayoutRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const LayoutRect&) const = default;
};

struct ListTreeLayoutInput {
    int width = 0;  // client width of the control
    int height = 0; // client height of the control
    int totalWidth = 0;
    int scrollPos = 0; // the horizontal bar's current position
    int headerHeight = 0;
    int scrollBarWidth = 0;  // width of a vertical scroll bar
    int scrollBarHeight = 0; // height of a horizontal scroll bar
    int rowCount = 0;        // rows shown by the tree
    int itemHeight = 1;
};

struct ListTreeLayout {
    int offset = 0; // how far header and rows are shifted left
    bool needH = false;
    bool needV = false;
    // The horizontal bar: range 0..scrollMax, page and position, all 0 when it is not needed.
    int scrollMax = 0;
    int scrollPage = 0;
    int scrollPos = 0;
    LayoutRect tree, header, filler, scrollBar;
};

ListTreeLayout computeListTreeLayout(const ListTreeLayoutInput& in);

// Rows the tree shows whole in a client area of this height.
int pageRows(int clientHeight, int itemHeight);

// Horizontal bar position after a scroll request; maxPos is the largest position (range - page).
enum class ScrollRequest {
    LineLeft,
    LineRight,
    PageLeft,
    PageRight,
    Track,
    LeftEnd,
    RightEnd,
    Other
};
int horizontalScrollTarget(ScrollRequest request, int minimum, int maxPos, int page, int position,
                           int trackPos);
constexpr int kHorizontalLineStep = 15;

// Cells of one row, left and right edges in tree coordinates, for a row whose label starts at
// labelLeft. Column 0 begins right of the label start; the others keep 6 pixels off each
// boundary of the header.
struct CellSpan {
    int left = 0, right = 0;
    bool operator==(const CellSpan&) const = default;
};
std::vector<CellSpan> cellSpans(int labelLeft, const std::vector<int>& columnWidths);
// Where a row's own painting starts: at the label, but never right of column 0.
int cellPaintLeft(int labelLeft, const std::vector<int>& columnWidths);
