#include "ui/browser/StreamRows.h"

#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/browser/ResourceListAdaptor.h"

#include <QString>

namespace {

std::string countText(std::size_t captured, std::size_t listed) {
    return QString::asprintf(loadString(IDS_STREAM_SEGMENT_COUNT), int(captured), int(listed))
        .toStdString();
}

std::string protectionText(Protection protection) {
    return protection == Protection::None ? ""
                                          : std::string(" \u00b7 ") + protectionName(protection);
}

std::string bitRate(std::int64_t bandwidth) {
    if (bandwidth <= 0)
        return {};
    if (bandwidth >= 1'000'000)
        return QString::asprintf("%.1f Mbps", double(bandwidth) / 1e6).toStdString();
    return std::to_string(bandwidth / 1000) + " kbps";
}

std::vector<std::string> cellsOf(const std::string& name, const std::string& type, std::uint32_t id,
                                 const std::string& size, const std::string& status,
                                 const std::string& url) {
    std::vector<std::string> cells(kResourceColumnCount);
    for (int i = 0; i < kResourceColumnCount; ++i) {
        switch (kResourceColumns[i].kind) {
        case NameColumn:
            cells[std::size_t(i)] = name;
            break;
        case TypeColumn:
            cells[std::size_t(i)] = type;
            break;
        case OrdinalColumn:
            cells[std::size_t(i)] = std::to_string(id);
            break;
        case SizeColumn:
            cells[std::size_t(i)] = size;
            break;
        case StatusColumn:
            cells[std::size_t(i)] = status;
            break;
        case UrlColumn:
            cells[std::size_t(i)] = url;
            break;
        default:
            break;
        }
    }
    return cells;
}

} // namespace

bool StreamRows::note(HttpResource& resource) {
    if (resource.flags & HttpResource::Loading)
        return false;
    if (!noted_.insert(resource.id).second)
        return false;
    return catalog_.add(resource);
}

void StreamRows::clear() {
    catalog_.clear();
    noted_.clear();
}

bool StreamRows::complete(const StreamVariant& variant) {
    return variant.main.listed && (!variant.audio || variant.audio->listed) &&
           variant.capturedCount() == variant.listedCount();
}

std::vector<std::string> StreamRows::streamCells(const CapturedStream& stream) {
    const int chosen = stream.defaultVariant();
    std::string type = stream.kind == CapturedStream::Hls ? "HLS" : "DASH";
    std::string status;
    if (chosen >= 0) {
        const StreamVariant& v = stream.variants[std::size_t(chosen)];
        type += protectionText(v.protection());
        if (v.main.grew)
            type += std::string(" \u00b7 ") + loadString(IDS_STREAM_LIVE);
        status = countText(v.capturedCount(), v.listedCount());
    }
    return cellsOf(stream.title, type, stream.id, formatDuration(stream.duration()), status,
                   stream.url);
}

std::vector<std::string> StreamRows::variantCells(const CapturedStream& stream, int variant) {
    const StreamVariant& v = stream.variants[std::size_t(variant)];
    std::string name = v.label();
    const std::string rate = bitRate(v.bandwidth);
    if (v.width > 0 && !rate.empty())
        name += " \u00b7 " + rate;
    if (name.empty())
        name = "#" + std::to_string(variant + 1);
    return cellsOf(name, v.codecs + protectionText(v.protection()), stream.id,
                   formatDuration(v.main.duration()), countText(v.capturedCount(), v.listedCount()),
                   v.main.url);
}
