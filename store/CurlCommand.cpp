#include "store/CurlCommand.h"

#include "engine/Text.h"
#include "engine/Url.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "store/JsonWriter.h"
#include "store/NewFile.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t kInlineBody = 16384;

bool plainWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
}

// A character that goes into single quotes as it is: one that shows as
// itself, or a newline. Controls (terminals act on some) and the
// bidirectional controls (they turn the text shown around them) do not.
std::size_t quotableLength(std::string_view rest) {
    if (rest[0] == '\n')
        return 1;
    std::size_t n = 0;
    if (hiddenControl(rest, n) >= 0)
        return 0;
    return n;
}

// One character that does not go into single quotes, as an escape of ANSI-C
// quoting: a control or byte that is not UTF-8 by its value, any other by its
// code point, so that what the user reads is what runs.
std::size_t appendEscape(std::string_view rest, std::string& word) {
    std::size_t n = 0;
    const std::int32_t code = hiddenControl(rest, n);
    char escape[16];
    if (code == '\t' || code == '\r') {
        word += code == '\t' ? "\\t" : "\\r";
    } else if (code >= 0x80) {
        std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(code));
        word += escape;
    } else {
        n = 1;
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(rest[0]));
        word += escape;
    }
    return n;
}

// What a first pass learns about a body: its size, whether it is text a
// command can hold, and a hash naming its file.
class BodyProbe : public OutputStream {
public:
    bool write(const void* data, std::int32_t count) override {
        const std::string_view bytes(static_cast<const char*>(data), std::size_t(count));
        utf8.feed(bytes);
        hasNul = hasNul || bytes.find('\0') != std::string_view::npos;
        for (char c : bytes)
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull; // FNV-1a
        size += count;
        if (size <= kInlineBody)
            text.append(bytes);
        return true;
    }
    bool flush() override { return true; }

    std::int64_t size = 0;
    Utf8Validator utf8;
    bool hasNul = false;
    std::uint64_t hash = 0xCBF29CE484222325ull;
    std::string text; // the first kInlineBody bytes
};

// The body into `path`; a file of that name and size is taken to be the same
// body.
bool writeBodyFile(HttpResourceData& body, bool dechunk, std::int64_t size,
                   const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size &&
        st.st_uid == ::getuid())
        return true;
    return writeNewFile(path, [&](OutputStream& out) { return body.copyTo(out, dechunk); });
}

// The request target of the address, as the relay sends it to the origin.
std::string targetOf(const Url& url) {
    std::string target = url.path.empty() ? "/" : url.path;
    if (url.flags & Url::HasQuery)
        target += "?" + url.query;
    return target;
}

// Bytes curl leaves alone in the path and query of a URL; others it
// percent-encodes or refuses, so such a target is given on its own.
bool curlKeepsTarget(std::string_view target) {
    for (char c : target)
        if (!plainWordByte(c) && std::string_view("~!$&'()*;?").find(c) == std::string_view::npos)
            return false;
    return true;
}

} // namespace

std::string shellWord(std::string_view text) {
    std::string withoutNul(text);
    std::erase(withoutNul, '\0');
    const std::string_view bytes = withoutNul;
    if (!bytes.empty()) {
        bool plain = bytes.front() != '-';
        for (char c : bytes)
            plain = plain && plainWordByte(c);
        if (plain)
            return std::string(bytes);
    }
    std::string word = "'";
    bool quoted = true; // inside single quotes
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t n = quotableLength(bytes.substr(i));
        if (n > 0) {
            if (!quoted) {
                word += '\'';
                quoted = true;
            }
            if (bytes[i] == '\'')
                word += "'\\''";
            else
                word.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        // A run of escapes: $'\u202e'.
        if (quoted)
            word += '\'';
        quoted = false;
        word += "$'";
        while (i < bytes.size() && quotableLength(bytes.substr(i)) == 0)
            i += appendEscape(bytes.substr(i), word);
        word += '\'';
    }
    if (quoted)
        word += '\'';
    // Nothing but escapes: the empty quotes at the start can go.
    if (word.starts_with("''") && word.size() > 2)
        word.erase(0, 2);
    return word;
}

bool curlBodyFolder(std::string& folder) {
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            setLastError(ENOENT);
            return false;
        }
        base = std::string(home) + "/.cache";
    }
    if (base.back() != '/')
        base += '/';
    folder = base + "Merovex/Tidewell/curl/";
    if (!CacheFolder::createFolder(folder))
        return false;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 0777) != 0700)
        ::chmod(folder.c_str(), 0700);
    return true;
}

bool buildCurlCommand(HttpResource& resource, const std::string& bodyFolder, CurlCommand& out) {
    out.unwrittenFile.clear();
    HttpRequestHeader request;
    Url url;
    std::uint32_t id;
    {
        CaptureLocker lock(captureLock());
        url = resource.url;
        id = resource.id;
    }
    // Read back from the cache file, with no lock held.
    if (!resource.readRequestHeader(request))
        return false;
    if (equalsIgnoreCase(request.method, "CONNECT")) {
        setLastError(kErrorTunnelNotRepeatable);
        return false;
    }

    // The body first: writing its file is what can fail.
    std::unique_ptr<HttpResourceData> body = HttpResourceData::requestBody(resource);
    if (!body)
        return false;
    bool dechunk = request.isChunked();
    auto probed = std::make_unique<BodyProbe>();
    if (body->size() > 0 && !body->copyTo(*probed, dechunk)) {
        // Framing that does not hold goes out as it was stored.
        dechunk = false;
        probed = std::make_unique<BodyProbe>();
        if (!body->copyTo(*probed, false))
            return false;
    }
    const BodyProbe& probe = *probed;
    const bool hasBody = probe.size > 0;
    const bool inlineBody =
        hasBody && probe.size <= kInlineBody && probe.utf8.valid() && !probe.hasNul;
    std::string bodyFile;
    if (hasBody && !inlineBody) {
        char name[64];
        std::snprintf(name, sizeof name, "R%010u-%016llx.bin", static_cast<unsigned>(id),
                      static_cast<unsigned long long>(probe.hash));
        bodyFile = bodyFolder + (bodyFolder.ends_with('/') ? "" : "/") + name;
        if (!writeBodyFile(*body, dechunk, probe.size, bodyFile)) {
            out.unwrittenFile = bodyFile;
            return false;
        }
    }

    std::vector<std::string> lines;
    std::string first = "curl -g --path-as-is";
    if (url.scheme == "https" || url.scheme == "HTTPS")
        first += " --http1.1"; // not the HTTP/2 curl would agree on
    if (request.version == "HTTP/1.0")
        first += " --http1.0";
    const std::string origin = url.scheme + "://" + url.authority;
    const std::string target = targetOf(url);
    if (curlKeepsTarget(target))
        lines.push_back(first + " " + shellWord(origin + target));
    else
        lines.push_back(first + " " + shellWord(origin) + " --request-target " + shellWord(target));
    const bool head = request.method == "HEAD" && !hasBody;
    if (head)
        lines.push_back("-I");
    else if (!(request.method == "GET" && !hasBody) && !(request.method == "POST" && hasBody))
        lines.push_back("-X " + shellWord(request.method));

    out.leftOut = 0;
    for (const HttpHeaderField& field : request.fields) {
        if (field.name.empty() || field.name.front() == '@' ||
            field.name.find('\0') != std::string::npos ||
            field.value.find('\0') != std::string::npos) {
            ++out.leftOut;
            continue;
        }
        // "Name;" is how curl sends a field with an empty value ("Name:" would
        // remove it).
        lines.push_back("-H " + shellWord(field.value.empty() ? field.name + ";"
                                                              : field.name + ": " + field.value));
    }
    // Fields curl adds by itself unless told not to.
    std::vector<const char*> curlDefaults = {"User-Agent", "Accept"};
    if (hasBody) {
        curlDefaults.push_back("Content-Type");
        curlDefaults.push_back("Expect");
    }
    for (const char* name : curlDefaults)
        if (!request.get(name))
            lines.push_back(std::string("-H ") + shellWord(std::string(name) + ":"));

    if (inlineBody)
        lines.push_back("--data-raw " + shellWord(probe.text));
    else if (hasBody)
        lines.push_back("--data-binary " + shellWord("@" + bodyFile));

    // The note goes first: pasted into a terminal, the line break after the
    // command would run it before a note that followed.
    out.text.clear();
    if (out.leftOut) {
        char note[512];
        std::snprintf(note, sizeof note, loadString(IDS_CURL_FIELDS_LEFT_OUT),
                      static_cast<int>(out.leftOut));
        out.text += "# ";
        out.text += note;
        out.text += "\n";
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out.text += " \\\n  ";
        out.text += lines[i];
    }
    return true;
}
