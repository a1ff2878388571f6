// What the list-tree control asks of its owner: cell texts and the order of rows.
#pragma once

#include <cstdint>
#include <string>

class ListTreeAdaptor {
public:
    virtual ~ListTreeAdaptor() = default;
    // UTF-8 text of a row's cell; column is 0-based.
    virtual std::string GetItemText(std::uintptr_t data, int column) = 0;
    // Negative, 0 or positive when the first row sorts before, with or after the second under
    // the control's sortColumn and sortAscending.
    virtual int CompareItems(std::uintptr_t first, std::uintptr_t second) = 0;
    // How a cell's text is inked: most are plain; a failure stands out.
    enum class Tone { Plain, ClientError, ServerError };
    virtual Tone GetItemTone(std::uintptr_t data, int column) {
        (void)data;
        (void)column;
        return Tone::Plain;
    }
};

struct ColumnInfo {
    // Bit 0: right-aligned; else bit 1: centred; else left-aligned.
    enum : unsigned { AlignLeft = 0, AlignRight = 1, AlignCenter = 2 };
    unsigned alignment = AlignLeft;
    int width = 0; // equal to the header item's width
};
