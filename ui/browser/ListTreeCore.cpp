#include "ui/browser/ListTreeCore.h"

#include <algorithm>

ListTreeCore::ListTreeCore() {
    root_.depth = -1;
    root_.expanded = true;
}

ListTreeCore::~ListTreeCore() {
    // No announcements here: the window that would relay them is already gone.
    for (ListTreeItem n = root_.firstChild; n;) {
        ListTreeItem next = n->next;
        freeSubtree(n);
        n = next;
    }
}

void ListTreeCore::caretChanged(ListTreeItem, ListTreeItem) {}
void ListTreeCore::itemDeleting(ListTreeItem) {}
void ListTreeCore::rowsChanged() {}
void ListTreeCore::looksChanged() {}

ListTreeItem ListTreeCore::insertItem(ListTreeItem parent, ListTreeItem before, std::uintptr_t data,
                                      std::string text, bool hidden) {
    ListTreeItem p = internal(parent);
    if (before && before->parent != p)
        before = nullptr;
    auto* n = new ListTreeNode;
    n->parent = p;
    n->data = data;
    n->text = std::move(text);
    n->depth = p->depth + 1;
    n->hidden = hidden;
    if (before) {
        n->next = before;
        n->prev = before->prev;
        if (before->prev)
            before->prev->next = n;
        else
            p->firstChild = n;
        before->prev = n;
    } else {
        n->prev = p->lastChild;
        if (p->lastChild)
            p->lastChild->next = n;
        else
            p->firstChild = n;
        p->lastChild = n;
    }
    ++p->childCount;
    ++count_;
    if (hidden)
        return n; // no row, no box that counts
    ++p->shownChildren;
    ++p->childUnchecked;
    // Rows under a collapsed or hidden parent leave the row table as it is; appending at the
    // end of the root, the common case of a live capture, extends it without a rebuild.
    if (p->expanded && (rowsDirty_ || p == &root_ || p->visibleRow >= 0)) {
        if (!rowsDirty_ && p == &root_ && !before) {
            n->visibleRow = static_cast<int>(rows_.size());
            rows_.push_back(n);
        } else {
            rowsDirty_ = true;
        }
        rowsChanged();
    } else if (p->childCount == 1) {
        rowsChanged(); // the parent gains its button
    }
    return n;
}

void ListTreeCore::freeSubtree(ListTreeItem item) {
    for (ListTreeItem n = item; n;) {
        // Walk to a leaf, free it, and continue with its next sibling or its parent.
        while (n->firstChild)
            n = n->firstChild;
        ListTreeItem up = n->parent;
        ListTreeItem next = n->next;
        if (up) {
            up->firstChild = next;
            if (!next)
                up->lastChild = nullptr;
        }
        bool done = n == item;
        delete n;
        if (done)
            break;
        n = next ? next : up;
    }
}

void ListTreeCore::deleteItem(ListTreeItem item) {
    if (!item)
        return;
    if (caret_ && (caret_ == item || isAncestor(item, caret_)))
        setCaret(nullptr);
    if (anchor_ && (anchor_ == item || isAncestor(item, anchor_)))
        anchor_ = nullptr;
    bool anySelected = false;
    std::vector<ListTreeItem> doomed;
    for (ListTreeItem n = item; n; n = nextInSubtree(n, item)) {
        doomed.push_back(n);
        anySelected = anySelected || n->selected;
        n->selected = false;
    }
    if (anySelected)
        eraseUnselected();
    // Children are announced before their parent, while every handle is still valid.
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        itemDeleting(*it);
    // The shown rows of a subtree are one run of the row table; take them out before the
    // nodes go, so that the table never holds a freed handle.
    int row = rowOf(item);
    if (row >= 0) {
        auto shown = std::count_if(doomed.begin(), doomed.end(),
                                   [](ListTreeItem n) { return n->visibleRow >= 0; });
        rows_.erase(rows_.begin() + row, rows_.begin() + row + shown);
        markRowsDirty();
    }
    ListTreeItem p = item->parent;
    if (item->prev)
        item->prev->next = item->next;
    else
        p->firstChild = item->next;
    if (item->next)
        item->next->prev = item->prev;
    else
        p->lastChild = item->prev;
    --p->childCount;
    if (!item->hidden) {
        --p->shownChildren;
        if (item->stateImage == 1)
            --p->childUnchecked;
        else if (item->stateImage == 2)
            --p->childChecked;
    }
    if (p->childCount == 0 && p != &root_)
        p->expanded = false;
    count_ -= static_cast<int>(doomed.size());
    for (ListTreeItem n : doomed)
        n->firstChild = n->lastChild = n->next = nullptr; // already detached as a whole
    for (ListTreeItem n : doomed)
        delete n;
    rowsChanged();
}

void ListTreeCore::deleteAllItems() {
    setCaret(nullptr);
    clearSelection();
    anchor_ = nullptr;
    std::vector<ListTreeItem> doomed;
    for (ListTreeItem n = root_.firstChild; n; n = NextInPreorder(n))
        doomed.push_back(n);
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        itemDeleting(*it);
    for (ListTreeItem n : doomed)
        delete n;
    root_.firstChild = root_.lastChild = nullptr;
    root_.childCount = root_.shownChildren = root_.childUnchecked = root_.childChecked = 0;
    count_ = 0;
    rows_.clear();
    rowsDirty_ = false;
    topRow_ = 0;
    rowsChanged();
}

void ListTreeCore::setItemText(ListTreeItem item, std::string text) {
    item->text = std::move(text);
    looksChanged();
}

void ListTreeCore::setItemImage(ListTreeItem item, int image, int selectedImage) {
    item->image = image;
    item->selectedImage = selectedImage;
    looksChanged();
}

void ListTreeCore::setStateImage(ListTreeItem item, int image) {
    image = std::clamp(image, 0, 15);
    if (item->stateImage == image)
        return;
    ListTreeItem p = item->parent;
    if (!item->hidden)
        countState(p, item, -1);
    item->stateImage = static_cast<unsigned char>(image);
    if (!item->hidden)
        countState(p, item, 1);
    looksChanged();
}

void ListTreeCore::countState(ListTreeItem parent, ListTreeItem child, int delta) {
    if (child->stateImage == 1)
        parent->childUnchecked += delta;
    else if (child->stateImage == 2)
        parent->childChecked += delta;
}

void ListTreeCore::setItemHidden(ListTreeItem item, bool hidden) {
    if (item->hidden == hidden)
        return;
    ListTreeItem p = item->parent;
    const int delta = hidden ? -1 : 1;
    p->shownChildren += delta;
    countState(p, item, delta);
    item->hidden = hidden;
    if (hidden) {
        item->dimmed = false;
        bool anySelected = false;
        for (ListTreeItem n = item; n; n = nextInSubtree(n, item)) {
            anySelected = anySelected || n->selected;
            n->selected = false;
            if (n == anchor_)
                anchor_ = nullptr;
        }
        if (anySelected)
            eraseUnselected();
        if (caret_ && (caret_ == item || isAncestor(item, caret_)))
            setCaret(nullptr);
    }
    if (hidden || !insertShownRow(item))
        markRowsDirty();
    rowsChanged();
}

bool ListTreeCore::insertShownRow(ListTreeItem item) {
    // One row more for an item shown again without rows below it: put it in place instead of
    // walking the whole tree again. Its place is before the first row after it.
    ListTreeItem p = item->parent;
    if (rowsDirty_)
        return false;
    if (!p->expanded || (p != &root_ && p->visibleRow < 0))
        return true; // under a closed or hidden row: no row to give
    if (item->expanded && item->shownChildren > 0)
        return false;
    std::size_t at = rows_.size();
    for (ListTreeItem n = item; n && n != &root_; n = n->parent) {
        ListTreeItem s = n->next;
        while (s && s->visibleRow < 0)
            s = s->next;
        if (s) {
            at = static_cast<std::size_t>(s->visibleRow);
            break;
        }
    }
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), item);
    for (std::size_t i = at; i < rows_.size(); ++i)
        rows_[i]->visibleRow = static_cast<int>(i);
    return true;
}

void ListTreeCore::setItemDimmed(ListTreeItem item, bool dimmed) {
    if (item->dimmed == dimmed)
        return;
    item->dimmed = dimmed;
    looksChanged();
}

void ListTreeCore::applyFilter(const std::function<RowMatch(ListTreeItem)>& classify) {
    std::vector<ListTreeItem> order;
    order.reserve(static_cast<std::size_t>(count_));
    for (ListTreeItem n = root_.firstChild; n; n = NextInPreorder(n))
        order.push_back(n);
    auto recount = [this](ListTreeItem parent) {
        parent->shownChildren = parent->childUnchecked = parent->childChecked = 0;
        for (ListTreeItem c = parent->firstChild; c; c = c->next) {
            if (c->hidden)
                continue;
            ++parent->shownChildren;
            countState(parent, c, 1);
        }
    };
    // Children before their parents: a parent is settled once all below it are.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        ListTreeItem n = *it;
        recount(n);
        if (autoCheck && n->shownChildren > 0) {
            // Children whose image is 0 count as neither: they make the group Mixed.
            const int state = n->childChecked == n->shownChildren     ? Checked
                              : n->childUnchecked == n->shownChildren ? Unchecked
                                                                      : Mixed;
            n->stateImage = static_cast<unsigned char>(state + 1);
        }
        const RowMatch match = classify(n);
        const bool shown = match == RowMatch::Match || n->shownChildren > 0;
        n->hidden = !shown;
        n->dimmed = shown && match == RowMatch::NoMatch;
    }
    recount(&root_);
    bool anyHidden = false;
    for (ListTreeItem n : selection_) {
        if (n->hidden) {
            n->selected = false;
            anyHidden = true;
        }
    }
    if (anyHidden)
        eraseUnselected();
    if (anchor_ && rowHidden(anchor_))
        anchor_ = nullptr;
    markRowsDirty();
    if (caret_ && rowHidden(caret_))
        setCaret(nullptr);
    rowsChanged();
    looksChanged();
}

void ListTreeCore::expandShown() {
    for (ListTreeItem n = root_.firstChild; n;) {
        if (n->hidden) {
            n = nextOutside(n, &root_);
            continue;
        }
        if (n->shownChildren > 0)
            n->expanded = true;
        n = NextInPreorder(n);
    }
    markRowsDirty();
    rowsChanged();
}

bool ListTreeCore::rowHidden(ListTreeItem item) const {
    for (ListTreeItem n = item; n && n != &root_; n = n->parent)
        if (n->hidden)
            return true;
    return false;
}

ListTreeItem ListTreeCore::parentItem(ListTreeItem item) const {
    return item->parent == &root_ ? nullptr : item->parent;
}

ListTreeItem ListTreeCore::childItem(ListTreeItem item) const {
    return item ? item->firstChild : root_.firstChild;
}

int ListTreeCore::childCount(ListTreeItem item) const {
    return item ? item->childCount : root_.childCount;
}

bool ListTreeCore::isAncestor(ListTreeItem ancestor, ListTreeItem item) const {
    for (ListTreeItem p = item->parent; p && p != &root_; p = p->parent)
        if (p == ancestor)
            return true;
    return false;
}

ListTreeItem ListTreeCore::NextInPreorder(ListTreeItem item) const {
    if (item->firstChild)
        return item->firstChild;
    for (ListTreeItem n = item; n && n != &root_; n = n->parent)
        if (n->next)
            return n->next;
    return nullptr;
}

ListTreeItem ListTreeCore::nextInSubtree(ListTreeItem item, ListTreeItem top) const {
    if (item->firstChild)
        return item->firstChild;
    for (ListTreeItem n = item; n != top; n = n->parent)
        if (n->next)
            return n->next;
    return nullptr;
}

ListTreeItem ListTreeCore::nextOutside(ListTreeItem item, ListTreeItem top) const {
    for (ListTreeItem n = item; n != top; n = n->parent)
        if (n->next)
            return n->next;
    return nullptr;
}

// ---- rows on screen

void ListTreeCore::markRowsDirty() {
    rowsDirty_ = true;
}

void ListTreeCore::rebuildRows() const {
    for (ListTreeItem n : rows_)
        n->visibleRow = -1;
    rows_.clear();
    for (ListTreeItem n = root_.firstChild; n;) {
        const bool shown = !n->hidden;
        if (shown) {
            n->visibleRow = static_cast<int>(rows_.size());
            rows_.push_back(n);
        }
        if (shown && n->expanded && n->firstChild) {
            n = n->firstChild;
            continue;
        }
        while (n != &root_ && !n->next)
            n = n->parent;
        n = n == &root_ ? nullptr : n->next;
    }
    rowsDirty_ = false;
}

int ListTreeCore::visibleCount() const {
    if (rowsDirty_)
        rebuildRows();
    return static_cast<int>(rows_.size());
}

ListTreeItem ListTreeCore::itemAtRow(int row) const {
    if (rowsDirty_)
        rebuildRows();
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return nullptr;
    return rows_[row];
}

int ListTreeCore::rowOf(ListTreeItem item) const {
    if (rowsDirty_)
        rebuildRows();
    return item->visibleRow;
}

ListTreeItem ListTreeCore::nextVisible(ListTreeItem item) const {
    int row = rowOf(item);
    return row < 0 ? nullptr : itemAtRow(row + 1);
}

ListTreeItem ListTreeCore::prevVisible(ListTreeItem item) const {
    int row = rowOf(item);
    return row < 0 ? nullptr : itemAtRow(row - 1);
}

ListTreeItem ListTreeCore::lastVisible() const {
    return itemAtRow(visibleCount() - 1);
}

void ListTreeCore::expand(ListTreeItem item) {
    if (!item || item->expanded || !item->firstChild)
        return;
    item->expanded = true;
    // A stale row table stays stale; only a clean one is asked whether the item is shown.
    if (rowsDirty_ || item->visibleRow >= 0) {
        markRowsDirty();
        rowsChanged();
    }
}

void ListTreeCore::collapse(ListTreeItem item) {
    if (!item || !item->expanded)
        return;
    if (caret_ && isAncestor(item, caret_))
        setCaret(item);
    item->expanded = false;
    if (rowsDirty_ || item->visibleRow >= 0) {
        markRowsDirty();
        rowsChanged();
    }
}

void ListTreeCore::toggle(ListTreeItem item) {
    if (item->expanded)
        collapse(item);
    else
        expand(item);
}

void ListTreeCore::setCaret(ListTreeItem item) {
    if (item)
        for (ListTreeItem p = item->parent; p != &root_; p = p->parent)
            expand(p);
    if (item == caret_)
        return;
    ListTreeItem old = caret_;
    caret_ = item;
    caretChanged(old, item);
    looksChanged();
}

// ---- selection

void ListTreeCore::clearSelection() {
    for (ListTreeItem n : selection_)
        n->selected = false;
    selection_.clear();
    looksChanged();
}

void ListTreeCore::eraseUnselected() {
    std::erase_if(selection_, [](ListTreeItem n) { return !n->selected; });
}

void ListTreeCore::unselect(ListTreeItem item) {
    item->selected = false;
    auto it = std::find(selection_.begin(), selection_.end(), item);
    if (it != selection_.end())
        selection_.erase(it);
}

void ListTreeCore::SelectItem(ListTreeItem item, bool additive) {
    if (!item || rowHidden(item)) // a filtered-out row cannot be picked
        return;
    if (additive && item->selected) {
        unselect(item);
        if (item == caret_)
            setCaret(nullptr);
        looksChanged();
        return;
    }
    if (additive) {
        item->selected = true;
        selection_.push_back(item);
    } else {
        for (ListTreeItem n : selection_)
            n->selected = false;
        selection_.assign(1, item);
        item->selected = true;
    }
    looksChanged();
    setCaret(item);
}

void ListTreeCore::SelectRange(ListTreeItem first, ListTreeItem last, bool additive) {
    if (!additive) {
        for (ListTreeItem n : selection_)
            n->selected = false;
        selection_.clear();
    }
    // From the first item down through the shown rows to the last, or to the bottom row.
    int row = first ? rowOf(first) : -1;
    if (row < 0) {
        if (first && !first->selected && !rowHidden(first)) {
            first->selected = true;
            selection_.push_back(first);
        }
    } else {
        int rows = visibleCount();
        for (; row < rows; ++row) {
            ListTreeItem n = rows_[row];
            // Rows shown only for what lies below them are not what the user picked.
            if (!n->selected && !n->dimmed) {
                n->selected = true;
                selection_.push_back(n);
            }
            if (n == last)
                break;
        }
    }
    looksChanged();
}

void ListTreeCore::DeselectDescendants(ListTreeItem item) {
    ListTreeItem top = internal(item);
    bool any = false;
    for (ListTreeItem n = top->firstChild; n; n = nextInSubtree(n, top)) {
        if (n->selected) {
            n->selected = false;
            any = true;
        }
        if (n == caret_)
            setCaret(nullptr);
        if (n == anchor_)
            anchor_ = nullptr;
    }
    if (any) {
        eraseUnselected();
        looksChanged();
    }
}

void ListTreeCore::selectRangeRows(ListTreeItem a, ListTreeItem b, bool additive) {
    if (rowOf(b) < rowOf(a))
        std::swap(a, b);
    SelectRange(a, b, additive);
}

// ---- check boxes

void ListTreeCore::SetCheckState(ListTreeItem item, int value) {
    setStateImage(item, value + 1);
}

void ListTreeCore::CheckDescendants(ListTreeItem item, bool checked) {
    ListTreeItem top = internal(item);
    int value = checked ? Checked : Unchecked;
    for (ListTreeItem n = top->firstChild; n;) {
        if (n->hidden) { // filtered out: not what the user sees checking
            n = nextOutside(n, top);
            continue;
        }
        SetCheckState(n, value);
        n = nextInSubtree(n, top);
    }
}

void ListTreeCore::UpdateAncestorChecks(ListTreeItem item, bool checked) {
    int value = checked ? Checked : Unchecked;
    for (ListTreeItem p = item->parent; p && p != &root_; p = p->parent) {
        int alike = checked ? p->childChecked : p->childUnchecked;
        int now = alike == p->shownChildren ? value : static_cast<int>(Mixed);
        if (now == checkState(p))
            return;
        SetCheckState(p, now);
        if (now == Mixed) {
            for (ListTreeItem a = p->parent; a != &root_; a = a->parent)
                SetCheckState(a, Mixed);
            return;
        }
    }
}

int ListTreeCore::RecalcChecks(ListTreeItem item) {
    ListTreeItem top = internal(item);
    // Children before parents: walk the subtree in pre-order and settle it backwards. Every
    // group is settled, also those after the first differing sibling, so no group keeps a
    // stale box.
    std::vector<ListTreeItem> order;
    for (ListTreeItem n = top->firstChild; n; n = nextInSubtree(n, top))
        if (n->firstChild)
            order.push_back(n);
    // Over the shown children only; a group with none keeps its state.
    auto combine = [this](ListTreeItem parent) {
        bool any = false;
        int result = 0;
        for (ListTreeItem c = parent->firstChild; c; c = c->next) {
            if (c->hidden)
                continue;
            int v = checkState(c);
            if (!any)
                result = v;
            any = true;
            if (v == Mixed || v != result)
                return static_cast<int>(Mixed);
        }
        return any ? result : checkState(parent);
    };
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        SetCheckState(*it, combine(*it));
    if (!top->firstChild)
        return top == &root_ ? Unchecked : checkState(top);
    int result = combine(top);
    if (top != &root_)
        SetCheckState(top, result);
    return result;
}

void ListTreeCore::CheckSelection(bool checked) {
    int value = checked ? Checked : Unchecked;
    for (ListTreeItem n : selection_) {
        SetCheckState(n, value);
        if (autoCheck) {
            CheckDescendants(n, checked);
            UpdateAncestorChecks(n, checked);
        }
    }
}

void ListTreeCore::ExpandAll(ListTreeItem item) {
    ListTreeItem top = internal(item);
    for (ListTreeItem n = item ? item : top->firstChild; n; n = nextInSubtree(n, top))
        expand(n);
}

void ListTreeCore::CollapseAll(ListTreeItem item) {
    DeselectDescendants(item);
    ListTreeItem top = internal(item);
    for (ListTreeItem n = item ? item : top->firstChild; n; n = nextInSubtree(n, top))
        collapse(n);
}

void ListTreeCore::sortChildren(ListTreeItem item, const Compare& compare) {
    if (item && !item->firstChild)
        return;
    ListTreeItem top = internal(item);
    std::vector<ListTreeItem> kids;
    for (ListTreeItem p = top; p; p = nextInSubtree(p, top)) {
        if (p->childCount < 2)
            continue;
        kids.clear();
        for (ListTreeItem c = p->firstChild; c; c = c->next)
            kids.push_back(c);
        // A stable merge sort: rows that compare equal keep their order, and a comparison that
        // is not a strict order cannot make it run off the ends.
        std::stable_sort(kids.begin(), kids.end(), [&](ListTreeItem a, ListTreeItem b) {
            return compare(a->data, b->data) < 0;
        });
        ListTreeItem prev = nullptr;
        for (ListTreeItem c : kids) {
            c->prev = prev;
            if (prev)
                prev->next = c;
            prev = c;
        }
        prev->next = nullptr;
        p->firstChild = kids.front();
        p->lastChild = kids.back();
    }
    markRowsDirty();
    rowsChanged();
}

// ---- input

ListTreeCore::HitZone ListTreeCore::effectiveZone(HitZone zone, int x, int column0Width,
                                                  bool hasColumns) {
    if (hasColumns && x >= column0Width &&
        (zone == HitZone::Button || zone == HitZone::CheckBox || zone == HitZone::Icon))
        return HitZone::Right;
    return zone;
}

void ListTreeCore::leftButtonDown(ListTreeItem item, HitZone zone, bool ctrl, bool shift) {
    if (!item || rowHidden(item))
        return;
    if (zone == HitZone::Button) {
        DeselectDescendants(item);
        toggle(item);
        return;
    }
    if (zone == HitZone::CheckBox) {
        bool checked = checkState(item) == Unchecked;
        if (item->selected) {
            CheckSelection(checked);
        } else {
            SetCheckState(item, checked ? Checked : Unchecked);
            if (autoCheck) {
                CheckDescendants(item, checked);
                UpdateAncestorChecks(item, checked);
            }
        }
        return;
    }
    // A range needs an anchor on a shown row; one hidden by a collapse starts afresh.
    if (shift && anchor_ && rowOf(anchor_) >= 0) {
        selectRangeRows(anchor_, item, ctrl);
        setCaret(item);
    } else {
        SelectItem(item, ctrl);
        anchor_ = item;
    }
}

bool ListTreeCore::rightButtonDown(ListTreeItem item, bool ctrl) {
    if (!item)
        return false;
    if (!ctrl && !item->selected)
        SelectItem(item, false);
    return true;
}

void ListTreeCore::doubleClick(ListTreeItem item) {
    if (!item)
        return;
    DeselectDescendants(item);
    toggle(item);
}

ListTreeItem ListTreeCore::keyTarget(Key key, int pageRows) const {
    switch (key) {
    case Key::Up:
        return caret_ ? prevVisible(caret_) : nullptr;
    case Key::Down:
        return caret_ ? nextVisible(caret_) : nullptr;
    case Key::Home:
        return itemAtRow(0);
    case Key::End:
        return lastVisible();
    case Key::PageUp: {
        if (!caret_)
            return firstVisible();
        if (pageRows <= 0)
            return nullptr;
        ListTreeItem t = caret_;
        for (int i = 1; i < pageRows; ++i) {
            ListTreeItem p = prevVisible(t);
            if (!p)
                break;
            t = p;
        }
        return t;
    }
    case Key::PageDown: {
        ListTreeItem t = caret_ ? caret_ : firstVisible();
        if (pageRows <= 0 || !t)
            return nullptr;
        for (int i = 1; i < pageRows; ++i) {
            ListTreeItem n = nextVisible(t);
            if (!n)
                break;
            t = n;
        }
        return t;
    }
    default:
        return nullptr;
    }
}

bool ListTreeCore::keyDown(Key key, bool ctrl, bool shift, int pageRows) {
    if (key == Key::Space) {
        if (caret_)
            CheckSelection(checkState(caret_) == Unchecked);
        return true;
    }
    if (key == Key::Other)
        return true;
    if (ctrl)
        return false;
    ListTreeItem target = keyTarget(key, pageRows);
    if (!target)
        return true;
    if (shift && anchor_ && rowOf(anchor_) >= 0) {
        selectRangeRows(anchor_, target, false);
        setCaret(target);
    } else {
        anchor_ = target;
        SelectItem(target, false);
    }
    return true;
}
