#include "engine/HttpMessageHeader.h"

#include "engine/Text.h"

#include <limits>
#include <optional>

std::int32_t HttpMessageHeader::find(std::string_view name, std::int32_t start) const {
    if (start < 0)
        start = 0;
    for (std::size_t i = std::size_t(start); i < fields.size(); ++i) {
        if (equalsIgnoreCase(fields[i].name, name))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

HttpHeaderField* HttpMessageHeader::get(std::string_view name) {
    const std::int32_t i = find(name);
    return i < 0 ? nullptr : &fields[std::size_t(i)];
}

const HttpHeaderField* HttpMessageHeader::get(std::string_view name) const {
    const std::int32_t i = find(name);
    return i < 0 ? nullptr : &fields[std::size_t(i)];
}

void HttpMessageHeader::set(std::string_view name, std::string_view value, bool replace) {
    if (replace) {
        if (HttpHeaderField* field = get(name)) {
            field->value = value;
            return;
        }
    }
    fields.push_back({std::string(name), std::string(value)});
}

void HttpMessageHeader::remove(std::string_view name) {
    std::erase_if(fields, [&](const HttpHeaderField& f) { return equalsIgnoreCase(f.name, name); });
}

std::int64_t HttpMessageHeader::contentLength() const {
    const HttpHeaderField* field = get("Content-Length");
    if (!field)
        return -1;
    std::int64_t value = 0;
    parseInteger(field->value, 10, std::numeric_limits<std::int64_t>::min(),
                 std::numeric_limits<std::int64_t>::max(), value);
    return value;
}

bool HttpMessageHeader::isChunked() const {
    const HttpHeaderField* field = get("Transfer-Encoding");
    if (!field)
        return false;
    return equalsIgnoreCase(splitList(field->value, ',').back(), "chunked");
}

namespace {

// Cuts a head block into its pieces. The two rules keep the quirks a stored
// head depends on: a token stops at its delimiter or at CR (then the CR is
// not consumed), a line stops only at CR LF.
class HeadScanner {
public:
    HeadScanner(const char* bytes, std::int32_t length)
        : block_(bytes, length > 0 ? std::size_t(length) : 0) {}

    std::size_t position() const { return position_; }
    bool atEnd() const { return position_ >= block_.size(); }

    std::optional<std::string> token(char delimiter) {
        for (std::size_t i = position_; i < block_.size(); ++i) {
            const char c = block_[i];
            if (c == delimiter || c == '\r') {
                std::string text = trim(block_.substr(position_, i - position_));
                if (c == delimiter)
                    position_ = i + 1;
                return text;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> line() {
        for (std::size_t i = position_; i + 1 < block_.size(); ++i) {
            if (block_[i] == '\r' && block_[i + 1] == '\n') {
                std::string text = trim(block_.substr(position_, i - position_));
                position_ = i + 2;
                return text;
            }
        }
        return std::nullopt;
    }

    bool fields(HttpMessageHeader& header) {
        while (!atEnd()) {
            std::optional<std::string> name = token(':');
            if (!name)
                return false;
            std::optional<std::string> value = line();
            if (!value)
                return false;
            header.fields.push_back({std::move(*name), std::move(*value)});
        }
        return true;
    }

private:
    std::string_view block_;
    std::size_t position_ = 0;
};

bool appendText(Buffer<char>& buffer, std::string_view text) {
    if (text.size() > std::size_t(Buffer<char>::kMaxLength)) {
        setLastError(kErrorOutOfMemory);
        return false;
    }
    return buffer.append(text.data(), static_cast<std::int32_t>(text.size()));
}

bool appendFields(Buffer<char>& buffer, const HttpMessageHeader& header) {
    for (const HttpHeaderField& f : header.fields) {
        if (!appendText(buffer, f.name) || !appendText(buffer, ":") ||
            !appendText(buffer, f.value) || !appendText(buffer, "\r\n"))
            return false;
    }
    return appendText(buffer, "\r\n");
}

} // namespace

bool parseRequestHeader(const char* bytes, std::int32_t length, HttpRequestHeader& header) {
    HeadScanner scan(bytes, length);
    std::optional<std::string> method = scan.token(' ');
    if (!method)
        return false;
    std::optional<std::string> target = scan.token(' ');
    if (!target)
        return false;
    std::optional<std::string> version = scan.line();
    if (!version)
        return false;
    header.method = std::move(*method);
    header.target = std::move(*target);
    header.version = std::move(*version);
    return scan.fields(header);
}

bool parseResponseHeader(const char* bytes, std::int32_t length, HttpResponseHeader& header) {
    HeadScanner scan(bytes, length);
    std::optional<std::string> version = scan.token(' ');
    if (!version)
        return false;
    std::optional<std::string> status = scan.token(' ');
    if (!status)
        return false;
    std::optional<std::string> reason = scan.line();
    if (!reason)
        return false;
    std::int32_t code = 0;
    if (!parseInt32(*status, code))
        return false;
    header.version = std::move(*version);
    header.statusCode = code;
    header.reason = std::move(*reason);
    return scan.fields(header);
}

bool appendRequestHeader(Buffer<char>& buffer, const HttpRequestHeader& header) {
    return appendText(buffer, header.method) && appendText(buffer, " ") &&
           appendText(buffer, header.target) && appendText(buffer, " ") &&
           appendText(buffer, header.version) && appendText(buffer, "\r\n") &&
           appendFields(buffer, header);
}

bool appendResponseHeader(Buffer<char>& buffer, const HttpResponseHeader& header) {
    return appendText(buffer, header.version) && appendText(buffer, " ") &&
           appendText(buffer, formatInt(header.statusCode)) && appendText(buffer, " ") &&
           appendText(buffer, header.reason) && appendText(buffer, "\r\n") &&
           appendFields(buffer, header);
}

bool splitHostPort(std::string_view text, std::string& host, std::int32_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        host = text;
        return true;
    }
    if (!parseInt32(text.substr(colon + 1), port))
        return false;
    host = text.substr(0, colon);
    return true;
}

std::vector<std::string> splitList(std::string_view text, char separator) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t stop = text.find(separator, start);
        if (stop == std::string_view::npos) {
            items.push_back(trim(text.substr(start)));
            return items;
        }
        items.push_back(trim(text.substr(start, stop - start)));
        start = stop + 1;
    }
}
