// Rows, multi-selection, tri-state checks and input rules of the list-tree control, without a
// toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Check values; an item's state image is its check value + 1 (image 0 differs from every value).
enum CheckValue : int { Unchecked = 0, Checked = 1, Mixed = 2 };

// One row of the tree. Item handles are pointers to it; the fields are the control's own and
// are read through ListTreeCore.
struct ListTreeNode {
    ListTreeNode* parent = nullptr;
    ListTreeNode* firstChild = nullptr;
    ListTreeNode* lastChild = nullptr;
    ListTreeNode* prev = nullptr;
    ListTreeNode* next = nullptr;
    std::uintptr_t data = 0;
    std::string text;
    int depth = 0;
    int childCount = 0;
    // Children not hidden, and those of them whose state image is 1 (Unchecked) and 2
    // (Checked): keeps the "all shown children alike" test of the ancestor walk O(1) for groups
    // of any size.
    int shownChildren = 0;
    int childUnchecked = 0;
    int childChecked = 0;
    mutable int visibleRow = -1;
    int image = 0;
    int selectedImage = 0;
    unsigned char stateImage = 1;
    bool expanded = false;
    bool selected = false;
    // Left out of the rows, with its subtree (a filter).
    bool hidden = false;
    // Shown only because a descendant is: drawn faint and passed over by range selection.
    bool dimmed = false;
};
using ListTreeItem = ListTreeNode*;

class ListTreeCore {
public:
    enum class Key { Space, Up, Down, Home, End, PageUp, PageDown, Other };
    // Where on a row a point lies, left to right.
    enum class HitZone { Indent, Button, CheckBox, Icon, Label, Right };
    using Compare = std::function<int(std::uintptr_t, std::uintptr_t)>;

    ListTreeCore();
    virtual ~ListTreeCore();
    ListTreeCore(const ListTreeCore&) = delete;
    ListTreeCore& operator=(const ListTreeCore&) = delete;

    // Items. parent none = the root; before none = at the end of the parent's children. A hidden
    // item goes in without taking a row.
    ListTreeItem insertItem(ListTreeItem parent, ListTreeItem before, std::uintptr_t data,
                            std::string text = {}, bool hidden = false);
    // Deletes the item with its subtree; each deleted item is announced (children first) and
    // leaves the selection, the anchor and the caret.
    void deleteItem(ListTreeItem item);
    void deleteAllItems();
    std::uintptr_t itemData(ListTreeItem item) const { return item->data; }
    void setItemData(ListTreeItem item, std::uintptr_t data) { item->data = data; }
    const std::string& itemText(ListTreeItem item) const { return item->text; }
    void setItemText(ListTreeItem item, std::string text);
    int itemImage(ListTreeItem item) const { return item->image; }
    int itemSelectedImage(ListTreeItem item) const { return item->selectedImage; }
    void setItemImage(ListTreeItem item, int image, int selectedImage);
    int stateImage(ListTreeItem item) const { return item->stateImage; }
    void setStateImage(ListTreeItem item, int image);
    // The check value (state image - 1; -1 for image 0).
    int checkState(ListTreeItem item) const { return item->stateImage - 1; }
    int itemCount() const { return count_; }

    // Filtering. A hidden item and its subtree take no rows, cannot be selected and are passed
    // over by check propagation; a group's check box then speaks for its shown children only.
    bool isItemHidden(ListTreeItem item) const { return item->hidden; }
    bool isItemDimmed(ListTreeItem item) const { return item->dimmed; }
    void setItemHidden(ListTreeItem item, bool hidden);
    void setItemDimmed(ListTreeItem item, bool dimmed);
    enum class RowMatch { Match, NoMatch, Group };
    // Hides or shows every item at once: a Match is shown; a NoMatch or a Group only when a
    // descendant is shown, and then a NoMatch is dimmed. Hidden items leave the selection, the
    // caret and the anchor. While autoCheck is on, every item with shown children gets the
    // state of those children (as RecalcChecks would give it).
    void applyFilter(const std::function<RowMatch(ListTreeItem)>& classify);
    // Expands every shown item with shown children, so that all that is shown is in sight.
    void expandShown();

    // Relations; none where there is no such item.
    ListTreeItem rootItem() const { return root_.firstChild; }
    ListTreeItem parentItem(ListTreeItem item) const;
    ListTreeItem childItem(ListTreeItem item) const;
    ListTreeItem nextSibling(ListTreeItem item) const { return item->next; }
    ListTreeItem prevSibling(ListTreeItem item) const { return item->prev; }
    bool hasChildren(ListTreeItem item) const { return item->firstChild != nullptr; }
    int childCount(ListTreeItem item) const;
    bool isAncestor(ListTreeItem ancestor, ListTreeItem item) const;

    // Rows shown on screen, top to bottom (children of expanded items only).
    int visibleCount() const;
    ListTreeItem itemAtRow(int row) const;
    int rowOf(ListTreeItem item) const; // -1 when hidden under a collapsed ancestor
    ListTreeItem nextVisible(ListTreeItem item) const;
    ListTreeItem prevVisible(ListTreeItem item) const;
    ListTreeItem lastVisible() const;
    // The item in the top row of the client area.
    ListTreeItem firstVisible() const { return itemAtRow(topRow_); }
    int topRow() const { return topRow_; }
    void setTopRow(int row) { topRow_ = row; }

    bool isExpanded(ListTreeItem item) const { return item->expanded; }
    // An item without children never expands. Collapsing an ancestor of the caret moves the
    // caret to the collapsed item, as the caret must stay on a shown row.
    void expand(ListTreeItem item);
    void collapse(ListTreeItem item);
    void toggle(ListTreeItem item);

    ListTreeItem caret() const { return caret_; }
    // Expands the item's ancestors so that the caret is shown; none clears the caret.
    void setCaret(ListTreeItem item);

    // Selection, in the order items were added.
    const std::vector<ListTreeItem>& selection() const { return selection_; }
    bool isSelected(ListTreeItem item) const { return item->selected; }
    void clearSelection();
    ListTreeItem anchor() const { return anchor_; }
    void setAnchor(ListTreeItem item) { anchor_ = item; }

    void SelectItem(ListTreeItem item, bool additive);
    void SelectRange(ListTreeItem first, ListTreeItem last, bool additive);
    void DeselectDescendants(ListTreeItem item);

    // Check boxes. While autoCheck is on a change is carried to descendants and ancestors.
    bool autoCheck = false;
    void SetCheckState(ListTreeItem item, int value);
    void CheckDescendants(ListTreeItem item, bool checked);
    void UpdateAncestorChecks(ListTreeItem item, bool checked);
    int RecalcChecks(ListTreeItem item);
    void CheckSelection(bool checked);

    void ExpandAll(ListTreeItem item);
    void CollapseAll(ListTreeItem item);
    ListTreeItem NextInPreorder(ListTreeItem item) const;

    // Sorts the children of the item (of the root for none) and every subtree below, stably.
    void sortChildren(ListTreeItem item, const Compare& compare);

    // Input. A click's zone right of column 0 is only ever a plain row click.
    static HitZone effectiveZone(HitZone zone, int x, int column0Width, bool hasColumns);
    void leftButtonDown(ListTreeItem item, HitZone zone, bool ctrl, bool shift);
    // True when the owner is to be told of the right click (an item was hit).
    bool rightButtonDown(ListTreeItem item, bool ctrl);
    void doubleClick(ListTreeItem item);
    // pageRows = client height / item height. Returns false when the key is left to the default
    // handling (navigation keys with Ctrl, which scroll).
    bool keyDown(Key key, bool ctrl, bool shift, int pageRows);
    ListTreeItem keyTarget(Key key, int pageRows) const;

protected:
    // Hooks for the window that shows the rows.
    virtual void caretChanged(ListTreeItem oldItem, ListTreeItem newItem);
    virtual void itemDeleting(ListTreeItem item);
    virtual void rowsChanged();  // rows added, removed, moved, expanded or collapsed
    virtual void looksChanged(); // selection or check boxes changed

private:
    ListTreeItem internal(ListTreeItem item) { return item ? item : &root_; }
    ListTreeItem nextInSubtree(ListTreeItem item, ListTreeItem top) const;
    // The next item of top's subtree after item's own subtree, in pre-order.
    ListTreeItem nextOutside(ListTreeItem item, ListTreeItem top) const;
    static void countState(ListTreeItem parent, ListTreeItem child, int delta);
    // Gives an item that is shown again its row when the table is up to date and nothing
    // below it needs one; false when the table must be built again.
    bool insertShownRow(ListTreeItem item);
    // The item or one of its ancestors is hidden.
    bool rowHidden(ListTreeItem item) const;
    void markRowsDirty();
    void rebuildRows() const;
    void unselect(ListTreeItem item);
    void eraseUnselected();
    void freeSubtree(ListTreeItem item);
    void selectRangeRows(ListTreeItem first, ListTreeItem last, bool additive);

    ListTreeNode root_;
    int count_ = 0;
    std::vector<ListTreeItem> selection_;
    ListTreeItem anchor_ = nullptr;
    ListTreeItem caret_ = nullptr;
    int topRow_ = 0;
    mutable std::vector<ListTreeItem> rows_;
    mutable bool rowsDirty_ = false;
};
