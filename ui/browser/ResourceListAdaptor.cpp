#include "ui/browser/ResourceListAdaptor.h"

#include "engine/Platform.h"
#include "engine/Url.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/browser/ListTreeView.h"
#include "ui/panes/TimingText.h"

#include <QString>

#include <cstdio>

const ResourceColumn kResourceColumns[kResourceColumnCount] = {
    {NameColumn, "Name", 109, 200, ColumnInfo::AlignLeft},
    {TypeColumn, "Type", 110, 150, ColumnInfo::AlignLeft},
    {OrdinalColumn, "Ordinal", 117, 50, ColumnInfo::AlignLeft},
    {SizeColumn, "Size", 111, 50, ColumnInfo::AlignRight},
    {StatusColumn, "Status", 112, 50, ColumnInfo::AlignLeft},
    {DurationColumn, "Duration", IDS_COLUMN_DURATION, 60, ColumnInfo::AlignRight},
    {UrlColumn, "URL", 113, 300, ColumnInfo::AlignLeft},
    {ReferrerColumn, "Referrer", 118, 500, ColumnInfo::AlignLeft},
};

namespace {

constexpr unsigned kFirstCategoryName = 146;
constexpr int kCategoryCount = 9;

int sign(long long v) {
    return (v > 0) - (v < 0);
}

unsigned char foldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

} // namespace

int resourceColumnOfKind(int kind) {
    for (int i = 0; i < kResourceColumnCount; ++i)
        if (kResourceColumns[i].kind == kind)
            return i;
    return -1;
}

int ItemImage(const ResourceListItem& item) {
    switch (item.kind) {
    case ResourceListItem::FolderItem:
        return FolderImage;
    case ResourceListItem::TypeGroupItem:
    case ResourceListItem::StreamGroupItem:
        return TypeGroupImage;
    case ResourceListItem::StreamItem:
    case ResourceListItem::VariantItem:
        return item.complete ? DoneImage : BlankPageImage;
    default:
        break;
    }
    const HttpResource* r = item.resource;
    if (!r)
        return BlankPageImage;
    if (r->flags & HttpResource::Loading)
        return LoadingImage;
    if (r->result != 0)
        return FailedImage;
    return r->statusCode >= 400 ? ErrorStatusImage : DoneImage;
}

std::int64_t resourceSizeValue(const HttpResource& resource) {
    if (resource.tunnel)
        return resource.tunnel->toServer + resource.tunnel->toClient;
    // A body that did not arrive whole is what arrived, never what was declared.
    if (resource.result != 0 || resource.notStored())
        return resource.receivedSize;
    return resource.contentLength != -1 ? resource.contentLength : resource.receivedSize;
}

namespace {

std::string kilobytes(std::int64_t value) {
    // A negative count cannot come from a capture; show it as nothing rather than a wild number.
    std::uint64_t kb = value > 0 ? (static_cast<std::uint64_t>(value) + 1023) / 1024 : 0;
    std::string digits = std::to_string(kb);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3 + 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    out += " KB";
    return out;
}

// How a tunnel ended: who closed it, the end of capturing, or the failure.
std::string tunnelStatusText(const HttpResource& resource) {
    if (resource.flags & HttpResource::Loading)
        return loadString(IDS_TUNNEL_OPEN);
    if (resource.result != 0)
        return errorText(resource.result);
    switch (resource.tunnel->end) {
    case TunnelEnd::ClientClosed:
        return loadString(IDS_TUNNEL_CLIENT_CLOSED);
    case TunnelEnd::ServerClosed:
        return loadString(IDS_TUNNEL_SERVER_CLOSED);
    case TunnelEnd::Stopped:
        return loadString(IDS_TUNNEL_STOPPED);
    case TunnelEnd::Open:
        break;
    }
    return loadString(IDS_STATE_DONE);
}

} // namespace

std::string sizeText(const HttpResource& resource) {
    // A tunnel carried bytes both ways: up to the server, down to the client.
    if (resource.tunnel)
        return "\u2191" + kilobytes(resource.tunnel->toServer) + " \u2193" +
               kilobytes(resource.tunnel->toClient);
    return kilobytes(resourceSizeValue(resource));
}

namespace {

// What went wrong with a capture that did not end whole: the body was not stored, or the
// exchange failed (interrupted, cut short, no connection...), in the words of its error code.
std::string failureText(const HttpResource& resource) {
    const std::uint32_t stored = resource.storeError;
    const std::uint32_t code = stored ? stored : std::uint32_t(resource.result);
    if (!resource.notStored())
        return errorText(code);
    char text[1024];
    std::snprintf(text, sizeof text, loadString(IDS_NOT_STORED), errorText(code).c_str());
    return text;
}

} // namespace

std::string statusText(const HttpResource& resource) {
    // An upgrade answered 101 is a tunnel whose code still counts.
    if (resource.tunnel && resource.statusCode == 101)
        return "101 " + tunnelStatusText(resource);
    if (resource.tunnel)
        return tunnelStatusText(resource);
    const bool loading = resource.flags & HttpResource::Loading;
    // A code outside 100..999 came from a broken status line, or no response came at all:
    // better no number than a wild one.
    const bool hasCode = resource.statusCode >= 100 && resource.statusCode <= 999;
    const std::string code = hasCode ? std::to_string(resource.statusCode) + ' ' : std::string();
    // Never "done" for a body that did not arrive whole; a capture that stopped being stored
    // says so while the exchange still runs. An exchange that failed before any answer has no
    // code to show, whatever its record holds.
    if (resource.notStored() || (!loading && resource.result != 0)) {
        const bool answered = resource.responseTime != 0 || resource.responseBodyOffset != 0;
        return (answered ? code : std::string()) + failureText(resource);
    }
    if (!loading)
        return code + loadString(IDS_STATE_DONE);
    if (resource.contentLength != -1 && resource.contentLength != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%d%%",
                      static_cast<int>(resource.receivedSize * 100 / resource.contentLength));
        return text;
    }
    return loadString(120);
}

std::int64_t resourceStatusKey(const HttpResource& resource) {
    if (resource.flags & HttpResource::Loading)
        return std::int64_t(1) << 40; // above every code
    return resource.statusCode;
}

int compareTextNoCase(std::string_view a, std::string_view b) {
    // ASCII folds byte by byte; from the first other character on, Qt's case folding of the
    // rest decides. Both agree on the ASCII prefix, so the order is one consistent order.
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if ((x | y) & 0x80) {
            return QString::fromUtf8(a.data() + i, static_cast<qsizetype>(a.size() - i))
                .compare(QString::fromUtf8(b.data() + i, static_cast<qsizetype>(b.size() - i)),
                         Qt::CaseInsensitive);
        }
        x = foldAscii(x);
        y = foldAscii(y);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return sign(static_cast<long long>(a.size()) - static_cast<long long>(b.size()));
}

std::string ResourceListAdaptor::GetItemText(std::uintptr_t data, int column) {
    const ResourceListItem* item = ResourceListItem::of(data);
    if (!item || column < 0 || column >= kResourceColumnCount)
        return {};
    if (item->isStreamRow())
        return item->cells && std::size_t(column) < item->cells->size()
                   ? (*item->cells)[std::size_t(column)]
                   : std::string();
    if (item->kind == ResourceListItem::StreamGroupItem)
        return column == 0 ? loadString(IDS_STREAM_GROUP) : std::string();
    if (item->kind != ResourceListItem::ResourceItem) {
        if (column != 0)
            return {};
        if (item->kind == ResourceListItem::FolderItem)
            return item->text;
        if (item->category < 0 || item->category >= kCategoryCount)
            return {};
        return loadString(kFirstCategoryName + static_cast<unsigned>(item->category));
    }
    const HttpResource* r = item->resource;
    if (!r)
        return {};
    switch (kResourceColumns[column].kind) {
    case NameColumn:
        return r->name;
    case TypeColumn:
        if (r->tunnel && r->contentType.empty())
            return loadString((r->flags & HttpResource::WebSocket) && r->statusCode == 101
                                  ? IDS_WEBSOCKET_TYPE
                                  : IDS_TUNNEL_TYPE);
        return r->contentType;
    case OrdinalColumn:
        return std::to_string(static_cast<int>(r->id));
    case SizeColumn:
        return sizeText(*r);
    case StatusColumn:
        return statusText(*r);
    case UrlColumn:
        return r->directory;
    case ReferrerColumn:
        return percentDecode(r->referrer.toString());
    case DurationColumn:
        return durationText(r->duration);
    default:
        return {};
    }
}

ListTreeAdaptor::Tone ResourceListAdaptor::GetItemTone(std::uintptr_t data, int column) {
    const ResourceListItem* item = ResourceListItem::of(data);
    if (!item || item->kind != ResourceListItem::ResourceItem || !item->resource || column < 0 ||
        column >= kResourceColumnCount || kResourceColumns[column].kind != StatusColumn)
        return Tone::Plain;
    const int status = item->resource->statusCode;
    return status >= 500 && status <= 599   ? Tone::ServerError
           : status >= 400 && status <= 499 ? Tone::ClientError
                                            : Tone::Plain;
}

int ResourceListAdaptor::sortKind() const {
    int column = view_.sortColumn;
    if (column < 0 || column >= kResourceColumnCount)
        return -1;
    return kResourceColumns[column].kind;
}

bool ResourceListAdaptor::orderIsFixed() const {
    int kind = sortKind();
    return kind != SizeColumn && kind != StatusColumn && kind != DurationColumn;
}

int ResourceListAdaptor::CompareItems(std::uintptr_t first, std::uintptr_t second) {
    const ResourceListItem* a = ResourceListItem::of(first);
    const ResourceListItem* b = ResourceListItem::of(second);
    int c = 0;
    bool aRes = a->kind == ResourceListItem::ResourceItem;
    bool bRes = b->kind == ResourceListItem::ResourceItem;
    if (aRes && bRes) {
        const HttpResource& x = *a->resource;
        const HttpResource& y = *b->resource;
        switch (sortKind()) {
        case NameColumn:
            c = compareTextNoCase(x.name, y.name);
            break;
        case TypeColumn:
            c = compareTextNoCase(x.contentType, y.contentType);
            break;
        case UrlColumn:
            c = compareTextNoCase(x.directory, y.directory);
            break;
        case SizeColumn:
            c = sign(resourceSizeValue(x) - resourceSizeValue(y));
            break;
        case StatusColumn:
            c = sign(resourceStatusKey(x) - resourceStatusKey(y));
            break;
        case OrdinalColumn:
            c = (x.id > y.id) - (x.id < y.id);
            break;
        case ReferrerColumn:
            c = sign(x.referrer.compare(y.referrer));
            break;
        case DurationColumn:
            c = sign(x.duration - y.duration);
            break;
        default:
            c = 0; // no sort column yet: rows keep the order they went in
            break;
        }
    } else if (aRes) {
        c = 1;
    } else if (bRes) {
        c = -1;
    } else if (a->isStreamRow() && b->isStreamRow()) {
        // Streams in the order they were captured, variants as listed.
        c = a->streamId != b->streamId ? (a->streamId > b->streamId ? 1 : -1)
                                       : (a->variant > b->variant) - (a->variant < b->variant);
    } else if (a->kind == ResourceListItem::TypeGroupItem ||
               a->kind == ResourceListItem::StreamGroupItem) {
        c = (a->category > b->category) - (a->category < b->category);
    } else {
        c = compareTextNoCase(a->text, b->text);
    }
    return view_.sortAscending ? c : -c;
}
