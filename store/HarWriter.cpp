#include "store/HarWriter.h"

#include "engine/FileStream.h"
#include "engine/HttpConnection.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "engine/Url.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "store/NewFile.h"
#include "store/WebSocketLog.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

// A head text as JSON can carry it: itself when it is UTF-8, else latin1.
struct HeadText {
    std::string text;
    bool latin1 = false;
};

HeadText headText(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return {std::string(bytes), false};
    return {latin1ToUtf8(bytes), true};
}

// The texts of one object share one flag: all latin1 when any needs it.
std::vector<std::string> objectTexts(std::initializer_list<std::string_view> parts, bool& latin1) {
    latin1 = false;
    for (std::string_view part : parts)
        latin1 = latin1 || !isValidUtf8(part);
    std::vector<std::string> texts;
    for (std::string_view part : parts)
        texts.push_back(latin1 ? latin1ToUtf8(part) : std::string(part));
    return texts;
}

std::string harUrl(const Url& captured) {
    Url url = captured;
    url.flags &= ~std::uint32_t(Url::HasFragment);
    const std::string bytes = url.toString();
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F ||
            std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// "2024-05-01T12:34:56.789Z".
std::string isoTime(std::int64_t micros) {
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>((micros / 1000) % 1000));
    return text;
}

std::int64_t nowMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiToLower(c);
    return out;
}

// A media type whose bodies are text, with a character set JSON text can
// carry unchanged (none named means UTF-8 or ASCII for these types).
bool textualMediaType(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    const std::string type = lower(trimView(contentType.substr(0, semicolon)));
    const bool textual = type.starts_with("text/") || type.ends_with("+json") ||
                         type.ends_with("+xml") || type == "application/json" ||
                         type == "application/javascript" || type == "application/x-javascript" ||
                         type == "application/ecmascript" || type == "application/xml" ||
                         type == "application/x-www-form-urlencoded" ||
                         type == "application/graphql";
    if (!textual)
        return false;
    if (semicolon == std::string_view::npos)
        return true;
    for (const std::string& parameter : splitList(contentType.substr(semicolon + 1), ';')) {
        const std::size_t equals = parameter.find('=');
        if (equals == std::string::npos ||
            !equalsIgnoreCase(trimView(std::string_view(parameter).substr(0, equals)), "charset"))
            continue;
        std::string charset = lower(trimView(std::string_view(parameter).substr(equals + 1)));
        if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
            charset = charset.substr(1, charset.size() - 2);
        return charset == "utf-8" || charset == "utf8" || charset == "us-ascii" ||
               charset == "ascii";
    }
    return true;
}

std::string fieldValue(const HttpMessageHeader& header, std::string_view name) {
    const HttpHeaderField* field = header.get(name);
    return field ? field->value : std::string();
}

// "+" is a space in form data, then percent escapes.
std::string formDecode(std::string_view text) {
    std::string spaced(text);
    for (char& c : spaced)
        if (c == '+')
            c = ' ';
    return percentDecode(spaced);
}

void writeFormPairs(JsonWriter& json, std::string_view text) {
    json.beginArray();
    for (const std::string& pair : splitList(text, '&')) {
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        json.beginObject();
        json.key("name");
        json.string(formDecode(std::string_view(pair).substr(0, equals)));
        json.key("value");
        json.string(equals == std::string::npos
                        ? std::string()
                        : formDecode(std::string_view(pair).substr(equals + 1)));
        json.endObject();
    }
    json.endArray();
}

void writeHeaders(JsonWriter& json, const HttpMessageHeader& header) {
    json.beginArray();
    for (const HttpHeaderField& field : header.fields) {
        bool latin1 = false;
        const auto texts = objectTexts({field.name, field.value}, latin1);
        json.beginObject();
        json.key("name");
        json.string(texts[0]);
        json.key("value");
        json.string(texts[1]);
        if (latin1) {
            json.key("_encoding");
            json.string("latin1");
        }
        json.endObject();
    }
    json.endArray();
}

// "name=value" (trimmed; no "=" is a name alone).
std::pair<std::string_view, std::string_view> splitPair(std::string_view pair) {
    const std::size_t equals = pair.find('=');
    return {trimView(pair.substr(0, equals)), equals == std::string_view::npos
                                                  ? std::string_view()
                                                  : trimView(pair.substr(equals + 1))};
}

void writeNameValue(JsonWriter& json, std::string_view pair) {
    const auto [name, value] = splitPair(pair);
    json.key("name");
    json.string(headText(name).text);
    json.key("value");
    json.string(headText(value).text);
}

void writeRequestCookies(JsonWriter& json, const HttpRequestHeader& request) {
    json.beginArray();
    for (const HttpHeaderField& field : request.fields) {
        if (!equalsIgnoreCase(field.name, "Cookie"))
            continue;
        for (const std::string& pair : splitList(field.value, ';')) {
            if (pair.empty())
                continue;
            json.beginObject();
            writeNameValue(json, pair);
            json.endObject();
        }
    }
    json.endArray();
}

// The IMF-fixdate of an Expires attribute ("Sun, 06 Nov 1994 08:49:37 GMT") as
// ISO 8601; empty for any other form.
std::string cookieExpiry(std::string_view text) {
    static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return {};
    std::vector<std::string> words;
    for (const std::string& word : splitList(text.substr(comma + 1), ' '))
        if (!word.empty())
            words.push_back(word);
    if (words.size() < 4)
        return {};
    std::int32_t day = 0, year = 0;
    if (!parseInt32(words[0], day) || !parseInt32(words[2], year))
        return {};
    int month = -1;
    for (int m = 0; m < 12; ++m)
        if (equalsIgnoreCase(words[1], kMonths[m]))
            month = m;
    std::int32_t hour = 0, minute = 0, second = 0;
    const std::vector<std::string> clock = splitList(words[3], ':');
    if (month < 0 || clock.size() != 3 || !parseInt32(clock[0], hour) ||
        !parseInt32(clock[1], minute) || !parseInt32(clock[2], second) || day < 1 || day > 31 ||
        year < 1601 || year > 9999 || hour > 23 || minute > 59 || second > 60)
        return {};
    char iso[64];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", int(year), month + 1,
                  int(day), int(hour), int(minute), int(second));
    return iso;
}

void writeResponseCookies(JsonWriter& json, const HttpResponseHeader& response) {
    json.beginArray();
    for (const HttpHeaderField& field : response.fields) {
        if (!equalsIgnoreCase(field.name, "Set-Cookie"))
            continue;
        const std::vector<std::string> parts = splitList(field.value, ';');
        json.beginObject();
        writeNameValue(json, parts.front());
        bool httpOnly = false, secure = false;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            const auto [name, value] = splitPair(parts[i]);
            if (equalsIgnoreCase(name, "Path") || equalsIgnoreCase(name, "Domain")) {
                json.key(equalsIgnoreCase(name, "Path") ? "path" : "domain");
                json.string(headText(value).text);
            } else if (equalsIgnoreCase(name, "Expires")) {
                if (std::string iso = cookieExpiry(value); !iso.empty()) {
                    json.key("expires");
                    json.string(iso);
                }
            } else if (equalsIgnoreCase(name, "HttpOnly")) {
                httpOnly = true;
            } else if (equalsIgnoreCase(name, "Secure")) {
                secure = true;
            }
        }
        json.key("httpOnly");
        json.boolean(httpOnly);
        json.key("secure");
        json.boolean(secure);
        json.endObject();
    }
    json.endArray();
}

// Bytes into the JSON string being written, as text or as base64. Stops the
// copy once the output failed.
class JsonStringSink : public OutputStream {
public:
    JsonStringSink(JsonWriter& json, bool base64) : json_(json), base64_(base64) {}
    bool write(const void* data, std::int32_t count) override {
        const std::string_view bytes(static_cast<const char*>(data), std::size_t(count));
        if (base64_)
            json_.base64Part(bytes);
        else
            json_.stringPart(bytes);
        if (json_.failed()) {
            setLastError(json_.error());
            return false;
        }
        return true;
    }
    bool flush() override { return true; }

private:
    JsonWriter& json_;
    bool base64_;
};

// Counts the bytes of a first pass and tells whether they are UTF-8.
class ProbeSink : public OutputStream {
public:
    bool write(const void* data, std::int32_t count) override {
        utf8.feed(std::string_view(static_cast<const char*>(data), std::size_t(count)));
        size += count;
        return true;
    }
    bool flush() override { return true; }

    std::int64_t size = 0;
    Utf8Validator utf8;
};

// What an entry holds: the facts copied under the capture lock.
struct Snapshot {
    Url url;
    std::uint32_t flags = 0;
    std::uint32_t result = 0;
    std::int64_t receivedSize = 0;
    std::uint32_t requestBodyOffset = 0;
    std::int64_t responseHeaderOffset = 0;
    std::int64_t responseBodyOffset = 0;
    ExchangeTimings timings;
    bool webSocket = false;
    struct Tunnel {
        std::int64_t toServer = 0;
        std::int64_t toClient = 0;
        TunnelEnd end = TunnelEnd::Open;
    };
    std::optional<Tunnel> tunnel;
};

const char* tunnelEndName(TunnelEnd end) {
    switch (end) {
    case TunnelEnd::Open:
        return "open";
    case TunnelEnd::ClientClosed:
        return "clientClosed";
    case TunnelEnd::ServerClosed:
        return "serverClosed";
    case TunnelEnd::Stopped:
        return "stopped";
    }
    return "open";
}

// The start of an exchange we have no times for: when its image was stored,
// else now.
std::int64_t fileTime(HttpResource& resource) {
    const std::int64_t stored = resource.folder ? resource.storedTime() : 0;
    return stored ? stored : nowMicros();
}

// HAR's phases, in microseconds, from the timings kept: a phase that did not
// happen (a reused connection) is -1; send, wait and receive are never
// negative, as HAR wants (0 when the exchange did not get that far or the
// capture has no times).
struct HarTimings {
    std::int64_t blocked = -1, dns = -1, connect = -1, send = 0, wait = 0, receive = 0, ssl = -1;

    // What HAR's "time" is: the phases added up, TLS being part of connect.
    std::int64_t total() const {
        std::int64_t sum = 0;
        for (std::int64_t phase : {blocked, dns, connect, send, wait, receive})
            sum += std::max<std::int64_t>(0, phase);
        return sum;
    }
};

HarTimings harTimings(const ExchangeTimings& t) {
    HarTimings h;
    if (!t.known())
        return h;
    auto between = [](std::int64_t from, std::int64_t to) {
        return from >= 0 && to >= from ? to - from : 0;
    };
    h.dns = t.dns;
    h.connect = t.connect;
    h.ssl = t.tls;
    // Before the connection was being made: the relay's own turn.
    std::int64_t connected = t.connected;
    if (connected >= 0) {
        const std::int64_t setup =
            std::max<std::int64_t>(0, t.dns) + std::max<std::int64_t>(0, t.connect);
        h.blocked = std::max<std::int64_t>(0, connected - setup);
    } else {
        connected = 0;
    }
    h.send = between(connected, t.sent);
    h.wait = between(t.sent, t.firstByte);
    h.receive = between(t.firstByte, t.end);
    return h;
}

// A WebSocket's text and binary messages as Chromium's developer tools write
// them in a HAR file: "send" from the client, "receive" from the server, the
// time in seconds since 1970, text as it is and binary data in base64.
void writeWebSocketMessages(JsonWriter& json, HttpResource& resource) {
    WebSocketLog log;
    readWebSocketLog(resource, log, std::size_t(64) << 20);
    json.key("_webSocketMessages");
    json.beginArray();
    for (const WebSocketMessage& message : log.messages) {
        if (!message.complete || (message.opcode != 1 && message.opcode != 2))
            continue;
        json.beginObject();
        json.key("type");
        json.string(message.fromClient ? "send" : "receive");
        json.key("time");
        json.decimal(message.time / 1000);
        json.key("opcode");
        json.number(std::int64_t(message.opcode));
        json.key("data");
        json.beginString();
        if (message.opcode == 1)
            json.stringPart(isValidUtf8(message.payload) ? message.payload
                                                         : latin1ToUtf8(message.payload));
        else
            json.base64Part(message.payload);
        json.endString();
        json.endObject();
    }
    json.endArray();
}

void writeRequest(JsonWriter& json, HttpResource& resource, const Snapshot& s,
                  const HttpRequestHeader& request) {
    bool latin1 = false;
    const auto texts = objectTexts({request.method, request.version}, latin1);
    const bool tunnel = equalsIgnoreCase(request.method, "CONNECT");
    json.beginObject();
    json.key("method");
    json.string(texts[0]);
    json.key("url");
    if (tunnel) {
        // A tunnel names only host and port; as an address it reads best with
        // the scheme its port usually carries.
        Url target;
        target.scheme = request.target.ends_with(":443") ? "https" : "http";
        target.authority = request.target;
        target.flags = Url::HasScheme | Url::HasAuthority;
        json.string(harUrl(target));
    } else {
        json.string(harUrl(s.url));
    }
    json.key("httpVersion");
    json.string(texts[1]);
    if (latin1) {
        json.key("_encoding");
        json.string("latin1");
    }
    json.key("cookies");
    writeRequestCookies(json, request);
    json.key("headers");
    writeHeaders(json, request);
    json.key("queryString");
    if (tunnel || !(s.url.flags & Url::HasQuery)) {
        json.beginArray();
        json.endArray();
    } else {
        writeFormPairs(json, s.url.query);
    }

    std::unique_ptr<HttpResourceData> body = HttpResourceData::requestBody(resource);
    const std::int64_t bodySize = body ? body->size() : 0;
    if (bodySize > 0) {
        const std::string mimeType = fieldValue(request, "Content-Type");
        // First pass: does the framing hold, and is the result text?
        bool dechunk = request.isChunked();
        ProbeSink probe;
        std::uint32_t problem = 0;
        if (!body->copyTo(probe, dechunk)) {
            problem = lastError();
            dechunk = false;
        }
        const bool text = !problem && textualMediaType(mimeType) && probe.utf8.valid();
        json.key("postData");
        json.beginObject();
        json.key("mimeType");
        json.string(headText(mimeType).text);
        json.key("text");
        json.beginString();
        JsonStringSink sink(json, !text);
        if (!body->copyTo(sink, dechunk) && !json.failed())
            problem = problem ? problem : lastError();
        json.endString();
        if (!text) {
            json.key("_encoding");
            json.string("base64");
        }
        json.key("params");
        if (text &&
            equalsIgnoreCase(trimView(std::string_view(mimeType).substr(0, mimeType.find(';'))),
                             "application/x-www-form-urlencoded")) {
            // The same bytes again, to take the pairs apart.
            std::string form;
            MemoryStream collected;
            if (body->copyTo(collected, dechunk))
                form.assign(collected.data(), std::size_t(collected.length()));
            writeFormPairs(json, form);
        } else {
            json.beginArray();
            json.endArray();
        }
        if (problem) {
            json.key("comment");
            json.string(errorText(problem));
        }
        json.endObject();
    }
    json.key("headersSize");
    json.number(std::int64_t(s.requestBodyOffset) - HttpResource::kRecordHeaderSize);
    json.key("bodySize");
    json.number(bodySize);
    json.endObject();
}

void writeContent(JsonWriter& json, HttpResource& resource, const Snapshot& s,
                  const HttpResponseHeader& response, bool haveResponse) {
    const std::string mimeType = fieldValue(response, "Content-Type");
    json.key("content");
    json.beginObject();
    // Decoded first; as it travelled when the codings cannot be undone; else
    // the bytes stored so far (a capture cut short or still loading).
    enum class Source { None, Decoded, Raw, Stored } source = Source::None;
    std::uint32_t problem = 0;
    ProbeSink probe;
    std::unique_ptr<HttpResourceData> stored;
    // A body stored whole with no coding to undo cannot fail to decode; when
    // it is not text either, the first pass would learn nothing.
    const std::int64_t length = response.contentLength();
    const bool plainBinary = haveResponse && !textualMediaType(mimeType) &&
                             !response.get("Content-Encoding") &&
                             !response.get("Transfer-Encoding") && length > 0 &&
                             s.receivedSize >= length && !(s.flags & HttpResource::Loading);
    if (plainBinary) {
        source = Source::Decoded;
        probe.size = length;
    } else if (haveResponse) {
        if (resource.copyBody(probe, true)) {
            source = Source::Decoded;
        } else if (const std::uint32_t error = lastError(); error != kErrorNoResponseData) {
            problem = error;
            probe.size = 0;
            probe.utf8 = Utf8Validator();
            if (resource.copyBody(probe, false)) {
                source = Source::Raw;
            } else {
                stored = HttpResourceData::responseBody(resource);
                if (stored && stored->size() > 0)
                    source = Source::Stored;
            }
        }
    }
    const bool text = source == Source::Decoded && textualMediaType(mimeType) && probe.utf8.valid();
    const std::int64_t size = source == Source::Stored ? stored->size() : probe.size;
    json.key("size");
    json.number(size);
    if (source == Source::Decoded && response.get("Content-Encoding")) {
        json.key("compression");
        json.number(size - s.receivedSize);
    }
    json.key("mimeType");
    json.string(headText(mimeType).text);
    if (source != Source::None) {
        json.key("text");
        json.beginString();
        JsonStringSink sink(json, !text);
        bool copied = true;
        if (source == Source::Stored)
            copied = stored->copyTo(sink, false);
        else
            copied = resource.copyBody(sink, source == Source::Decoded);
        if (!copied && !json.failed() && !problem)
            problem = lastError();
        json.endString();
        if (!text) {
            json.key("encoding");
            json.string("base64");
        }
    }
    if (problem) {
        json.key("comment");
        json.string(errorText(problem));
    }
    json.endObject();
}

void writeResponse(JsonWriter& json, HttpResource& resource, const Snapshot& s,
                   const HttpResponseHeader& response, bool haveResponse) {
    bool latin1 = false;
    const auto texts = objectTexts({response.reason, response.version}, latin1);
    json.beginObject();
    json.key("status");
    json.number(std::int64_t(haveResponse ? response.statusCode : 0));
    json.key("statusText");
    json.string(texts[0]);
    json.key("httpVersion");
    json.string(texts[1]);
    if (latin1) {
        json.key("_encoding");
        json.string("latin1");
    }
    json.key("cookies");
    writeResponseCookies(json, response);
    json.key("headers");
    writeHeaders(json, response);
    writeContent(json, resource, s, response, haveResponse);
    json.key("redirectURL");
    json.string(headText(fieldValue(response, "Location")).text);
    json.key("headersSize");
    json.number(haveResponse ? s.responseBodyOffset - s.responseHeaderOffset : -1);
    json.key("bodySize");
    json.number(haveResponse ? s.receivedSize : -1);
    if (!haveResponse && s.result != 0) {
        json.key("_error");
        json.string(errorText(s.result));
    }
    json.endObject();
}

} // namespace

HarWriter::HarWriter(OutputStream& out, const std::string& creatorVersion)
    : json_(out), creatorVersion_(creatorVersion) {}

void HarWriter::begin() {
    json_.beginObject();
    json_.key("log");
    json_.beginObject();
    json_.key("version");
    json_.string("1.2");
    json_.key("creator");
    json_.beginObject();
    json_.key("name");
    json_.string("Tidewell");
    json_.key("version");
    json_.string(creatorVersion_);
    json_.endObject();
    // Readers walk this list even when no entry refers to a page.
    json_.key("pages");
    json_.beginArray();
    json_.endArray();
    json_.key("entries");
    json_.beginArray();
}

bool HarWriter::add(HttpResource& resource) {
    Snapshot s;
    HttpRequestHeader request;
    HttpResponseHeader response;
    bool haveResponse = false;
    {
        CaptureLocker lock(captureLock());
        s.url = resource.url;
        s.flags = resource.flags;
        s.result = resource.result;
        s.receivedSize = resource.receivedSize;
        s.requestBodyOffset = resource.requestBodyOffset;
        s.responseHeaderOffset = resource.responseHeaderOffset;
        s.responseBodyOffset = resource.responseBodyOffset;
        s.timings = resource.timings;
        s.timings.end = resource.duration;
        s.webSocket = (resource.flags & HttpResource::WebSocket) && resource.tunnel &&
                      resource.statusCode == 101;
        if (resource.tunnel)
            s.tunnel = Snapshot::Tunnel{resource.tunnel->toServer, resource.tunnel->toClient,
                                        resource.tunnel->end};
    }
    // The heads are read back from the cache file, with no lock held. Heads
    // may come from the cache of recently read ones: the file itself must
    // still be there, or the entry would promise a body it cannot give.
    if (!resource.openImage() || !resource.readRequestHeader(request)) {
        ++skipped;
        return true;
    }
    haveResponse = resource.readResponseHeader(response);
    // A failed exchange answered by the proxy's own page got nothing from the
    // origin: written as browsers write one, with status 0 and the reason.
    if (haveResponse && s.result != 0 && isProxyPage(response)) {
        haveResponse = false;
        response = HttpResponseHeader();
    }

    json_.beginObject();
    const HarTimings phases = harTimings(s.timings);
    json_.key("startedDateTime");
    json_.string(isoTime(s.timings.known() ? s.timings.start : fileTime(resource)));
    json_.key("time");
    json_.decimal(phases.total());
    if (s.webSocket) {
        json_.key("_resourceType");
        json_.string("websocket");
    }
    json_.key("request");
    writeRequest(json_, resource, s, request);
    json_.key("response");
    writeResponse(json_, resource, s, response, haveResponse);
    json_.key("cache");
    json_.beginObject();
    json_.endObject();
    json_.key("timings");
    json_.beginObject();
    const std::pair<const char*, std::int64_t> fields[] = {
        {"blocked", phases.blocked}, {"dns", phases.dns},   {"connect", phases.connect},
        {"send", phases.send},       {"wait", phases.wait}, {"receive", phases.receive},
        {"ssl", phases.ssl}};
    for (const auto& [name, value] : fields) {
        json_.key(name);
        if (value < 0)
            json_.number(std::int64_t(-1));
        else
            json_.decimal(value);
    }
    json_.endObject();
    if (s.webSocket)
        writeWebSocketMessages(json_, resource);
    if (s.tunnel) {
        // What a tunnel carried is counted, never stored.
        json_.key("_tunnel");
        json_.beginObject();
        json_.key("bytesToServer");
        json_.number(s.tunnel->toServer);
        json_.key("bytesToClient");
        json_.number(s.tunnel->toClient);
        json_.key("end");
        json_.string(tunnelEndName(s.tunnel->end));
        json_.endObject();
    }
    if (s.result != 0 || (s.flags & HttpResource::Loading)) {
        json_.key("comment");
        json_.string(errorText(s.result ? s.result : kErrorResourceNotReady));
    }
    json_.endObject();
    ++written;
    return !json_.failed();
}

bool HarWriter::end() {
    json_.endArray();
    json_.endObject();
    json_.endObject();
    return json_.finish();
}

bool writeHar(OutputStream& out, const std::vector<HttpResource*>& resources,
              const std::string& creatorVersion, std::size_t* skipped) {
    HarWriter writer(out, creatorVersion);
    writer.begin();
    bool ok = true;
    for (HttpResource* resource : resources)
        if (!(ok = writer.add(*resource)))
            break;
    if (skipped)
        *skipped = writer.skipped;
    return writer.end() && ok;
}

bool writeHarFile(const std::string& path, const std::vector<HttpResource*>& resources,
                  const std::string& creatorVersion, std::size_t* skipped) {
    const auto fill = [&](OutputStream& out) {
        return writeHar(out, resources, creatorVersion, skipped);
    };
    // A pipe or a terminal (/dev/stdout, a shell's >(...)) is written into:
    // a file put in its place would reach no reader, and in /dev it would
    // replace the device itself.
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) &&
        !S_ISDIR(target.st_mode)) {
        FileStream stream; // unbuffered; a pipe has nothing to sync
        return stream.open(path, FileStream::OpenWrite) && fill(stream);
    }
    return writeNewFile(path, fill);
}
