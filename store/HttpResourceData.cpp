#include "store/HttpResourceData.h"

#include "engine/FileStream.h"
#include "engine/HttpPushDecoder.h"
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/HttpResource.h"
#include "store/MemoryImage.h"

#include <algorithm>

std::unique_ptr<HttpResourceData>
HttpResourceData::fromMemory(const MemoryImage& image, std::uint32_t offset, std::uint32_t length) {
    const auto available = static_cast<std::uint32_t>(image.length());
    offset = std::min(offset, available);
    length = std::min(length, available - offset);
    auto copy = std::make_unique<MemoryStream>();
    copy->write(image.data() + offset, static_cast<std::int32_t>(length));
    copy->seek(0);
    std::unique_ptr<HttpResourceData> data(new HttpResourceData);
    data->source = std::move(copy);
    data->length = length;
    return data;
}

std::unique_ptr<HttpResourceData> HttpResourceData::fromCacheFile(CacheFolder& folder,
                                                                  std::uint32_t id,
                                                                  std::int64_t offset,
                                                                  std::int64_t length) {
    auto file = std::make_unique<FileStream>();
    if (folder.openCacheFile(id, true, *file) < 0 || !file->seek(offset))
        return nullptr;
    std::unique_ptr<HttpResourceData> data(new HttpResourceData);
    data->source = std::move(file);
    data->base = offset;
    data->length = std::max<std::int64_t>(0, length);
    return data;
}

namespace {

// The region of the image as it is now, read without the capture lock: a
// copy of an in-memory image, or the cache file through a descriptor of our
// own. `end` -1 stands for the end of the image.
std::unique_ptr<HttpResourceData> region(HttpResource& resource, std::int64_t offset,
                                         std::int64_t end) {
    std::unique_ptr<Stream> image = resource.openImage();
    if (!image)
        return nullptr;
    if (end < 0)
        end = image->size();
    const std::int64_t length = std::max<std::int64_t>(0, end - offset);
    if (auto* memory = dynamic_cast<MemoryStream*>(image.get())) {
        const std::int64_t available = memory->length();
        const std::int64_t from = std::min(offset, available);
        const std::int64_t count = std::min(length, available - from);
        auto copy = std::make_unique<MemoryStream>();
        copy->write(memory->data() + from, static_cast<std::int32_t>(count));
        copy->seek(0);
        return HttpResourceData::over(std::move(copy), 0, count);
    }
    if (!image->seek(offset))
        return nullptr;
    return HttpResourceData::over(std::move(image), offset, length);
}

} // namespace

std::unique_ptr<HttpResourceData> HttpResourceData::over(std::unique_ptr<Stream> source,
                                                         std::int64_t base, std::int64_t length) {
    std::unique_ptr<HttpResourceData> data(new HttpResourceData);
    data->source = std::move(source);
    data->base = base;
    data->length = length;
    return data;
}

std::unique_ptr<HttpResourceData> HttpResourceData::requestBody(HttpResource& resource) {
    // While the request body is still arriving its end is the image's end.
    const std::int64_t end = resource.responseBodyOffset == 0 ? -1 : resource.responseHeaderOffset;
    return region(resource, resource.requestBodyOffset, end);
}

std::unique_ptr<HttpResourceData> HttpResourceData::responseBody(HttpResource& resource) {
    if (resource.responseBodyOffset == 0)
        return region(resource, 0, 0);
    const std::int64_t received = resource.receivedSize;
    return region(resource, resource.responseBodyOffset, resource.responseBodyOffset + received);
}

std::int32_t HttpResourceData::read(void* buffer, std::int32_t count) {
    const std::int64_t n = std::min<std::int64_t>(count, length - position_);
    if (n <= 0)
        return 0;
    const std::int32_t got = source->read(buffer, static_cast<std::int32_t>(n));
    if (got > 0)
        position_ += got;
    return got;
}

std::int64_t HttpResourceData::skip(std::int64_t count) {
    const std::int64_t n = std::min(count, length - position_);
    if (n <= 0)
        return 0;
    const std::int64_t skipped = source->skip(n);
    if (skipped > 0)
        position_ += skipped;
    return skipped;
}

std::int64_t HttpResourceData::available() {
    return length - position_;
}

bool HttpResourceData::seek(std::int64_t position) {
    if (position < 0 || position > length) {
        setLastError(EINVAL);
        return false;
    }
    if (!source->seek(base + position))
        return false;
    position_ = position;
    return true;
}

std::int64_t HttpResourceData::size() {
    return length;
}

std::int64_t HttpResourceData::position() {
    return position_;
}

bool HttpResourceData::copyTo(OutputStream& sink, bool dechunk) {
    if (!seek(0))
        return false;
    std::unique_ptr<ChunkedPushDecoder> decoder;
    OutputStream* target = &sink;
    if (dechunk) {
        decoder = std::make_unique<ChunkedPushDecoder>(&sink);
        target = decoder.get();
    }
    constexpr std::int32_t kPiece = 65536;
    auto piece = std::make_unique<char[]>(kPiece);
    for (;;) {
        const std::int32_t n = read(piece.get(), kPiece);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!target->write(piece.get(), n))
            return false;
    }
    if (decoder && !decoder->complete()) {
        setLastError(kErrorBadChunk);
        return false;
    }
    return true;
}
