#include "ui/browser/ListTreeLayout.h"

#include <algorithm>

int pageRows(int clientHeight, int itemHeight) {
    return itemHeight > 0 ? clientHeight / itemHeight : 0;
}

ListTreeLayout computeListTreeLayout(const ListTreeLayoutInput& in) {
    ListTreeLayout out;
    const int w = in.width, h = in.height;
    out.offset = std::max(std::min(in.scrollPos, in.totalWidth - w), 0);
    out.needH = w < in.totalWidth;
    if (out.needH) {
        out.scrollMax = in.totalWidth;
        out.scrollPage = w;
        out.scrollPos = out.offset;
    }
    const int hh = in.headerHeight;
    out.tree = {-out.offset, hh, w + out.offset, h - hh - (out.needH ? in.scrollBarHeight : 0)};
    // The tree shows a vertical bar when its rows do not fit whole.
    out.needV = in.rowCount > std::max(pageRows(out.tree.height, in.itemHeight), 0);
    out.header = {-out.offset, 0, w + out.offset - (out.needV ? in.scrollBarWidth : 0), hh};
    out.filler = {w - in.scrollBarWidth, 0, in.scrollBarWidth, hh};
    out.scrollBar = {0, h - in.scrollBarHeight, w - (out.needV ? in.scrollBarWidth : 0),
                     in.scrollBarHeight};
    return out;
}

int horizontalScrollTarget(ScrollRequest request, int minimum, int maxPos, int page, int position,
                           int trackPos) {
    switch (request) {
    case ScrollRequest::LineLeft:
        return std::max(position - kHorizontalLineStep, minimum);
    case ScrollRequest::LineRight:
        return std::min(position + kHorizontalLineStep, maxPos);
    case ScrollRequest::PageLeft:
        return std::max(position - page, minimum);
    case ScrollRequest::PageRight:
        return std::min(position + page, maxPos);
    case ScrollRequest::Track:
        return trackPos;
    case ScrollRequest::LeftEnd:
        return minimum;
    case ScrollRequest::RightEnd:
        return maxPos;
    case ScrollRequest::Other:
        break;
    }
    return position;
}

std::vector<CellSpan> cellSpans(int labelLeft, const std::vector<int>& columnWidths) {
    std::vector<CellSpan> spans;
    spans.reserve(columnWidths.size());
    for (std::size_t i = 0; i < columnWidths.size(); ++i) {
        if (i == 0)
            spans.push_back({labelLeft + 2, columnWidths[0] - 6});
        else
            spans.push_back({spans.back().right + 12, spans.back().right + columnWidths[i]});
    }
    return spans;
}

int cellPaintLeft(int labelLeft, const std::vector<int>& columnWidths) {
    return columnWidths.empty() ? labelLeft : std::min(labelLeft, columnWidths[0]);
}
