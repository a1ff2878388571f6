// What the resource list shows: the rows for resources and their groups, the seven columns,
// the order of rows under any sort column and the icon of each row.
#pragma once

#include "ui/browser/ListTreeAdaptor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class HttpResource;
class ListTreeView;

// The arrangement of the rows.
enum ViewMode : int { ByOrder = 0, ByDirectory = 1, ByType = 2, ByReferrer = 3 };

// Item data of every row; owned by its row.
struct ResourceListItem {
    enum Kind : std::int32_t {
        FolderItem = 0,
        TypeGroupItem = 1,
        ResourceItem = 2,
        StreamGroupItem = 3, // the video and audio streams, after the media types
        StreamItem = 4,
        VariantItem = 5, // one variant of the stream row above it
    };
    std::int32_t kind = ResourceItem;
    HttpResource* resource = nullptr; // ResourceItem only; not owned
    std::string text;                 // FolderItem: the folder name
    std::int32_t category = 0;        // TypeGroupItem: index into the category names
    std::uint32_t streamId = 0;       // StreamItem and VariantItem
    std::int32_t variant = -1;        // VariantItem
    bool complete = false;            // StreamItem and VariantItem: nothing listed is missing
    // StreamItem and VariantItem: the text of each column, in display order.
    std::shared_ptr<const std::vector<std::string>> cells = nullptr;

    bool isStreamRow() const { return kind == StreamItem || kind == VariantItem; }

    static ResourceListItem* of(std::uintptr_t data) {
        return reinterpret_cast<ResourceListItem*>(data);
    }
};

// Which value a column shows and sorts by; a column's kind, not its position, decides.
enum ResourceColumnKind : int {
    NameColumn = 0,
    TypeColumn = 1,
    SizeColumn = 2,
    StatusColumn = 3,
    UrlColumn = 4,
    OrdinalColumn = 5,
    ReferrerColumn = 6,
    DurationColumn = 7,
};

struct ResourceColumn {
    int kind;
    const char* valueName; // where the column's width is kept
    unsigned titleId;      // string table
    int width;
    unsigned alignment; // ColumnInfo::Align*
};

constexpr int kResourceColumnCount = 8;
// In display order.
extern const ResourceColumn kResourceColumns[kResourceColumnCount];
// Index of the first column of the kind, or -1.
int resourceColumnOfKind(int kind);

// Row icons (see makeRowIcons).
enum RowImage : int {
    FolderImage = 0,
    BlankPageImage = 1,
    DoneImage = 2,
    LoadingImage = 3,
    FailedImage = 4,
    TypeGroupImage = 5,
    ErrorStatusImage = 6, // the server answered with a 4xx or 5xx code
};
int ItemImage(const ResourceListItem& item);

// Where the streams group sorts among the media type groups: after them all.
constexpr std::int32_t kStreamGroupCategory = 9;

// The byte count a resource is shown and sorted by: its announced length when known, and what
// arrived for a capture that failed or was not stored whole.
std::int64_t resourceSizeValue(const HttpResource& resource);
// "1,024 KB": kilobytes rounded up, digits grouped by three.
std::string sizeText(const HttpResource& resource);
// "%d%%" or "加载中..." while loading, the status code and "完成" after ("404 完成"); for a
// capture that did not end whole the code and what happened ("200 捕捉中断。", "200 未能保存：…"),
// without a code when no response came.
std::string statusText(const HttpResource& resource);
// What the status column sorts by: the status code of a finished exchange; every exchange still
// loading after all finished ones.
std::int64_t resourceStatusKey(const HttpResource& resource);
// UTF-8 texts compared with case folded; negative, 0 or positive.
int compareTextNoCase(std::string_view a, std::string_view b);

class ResourceListAdaptor : public ListTreeAdaptor {
public:
    // Reads the sort column and direction of the view's control.
    explicit ResourceListAdaptor(ListTreeView& view) : view_(view) {}

    std::string GetItemText(std::uintptr_t data, int column) override;
    // The state of a 4xx answer in one ink and of a 5xx answer in another.
    Tone GetItemTone(std::uintptr_t data, int column) override;
    int CompareItems(std::uintptr_t first, std::uintptr_t second) override;

    // The kind of the sort column, or -1 when no column sorts.
    int sortKind() const;
    // True when the order between two rows cannot change after they went in: siblings kept in
    // order stay in order, so positions may be searched instead of walked. Size and status
    // follow a capture in progress.
    bool orderIsFixed() const;

private:
    ListTreeView& view_;
};
