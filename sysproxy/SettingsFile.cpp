#include "sysproxy/SettingsFile.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "sysproxy/TextFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// File format, one item a line:
//   [Software\Merovex\Tidewell\Backup\Proxy]
//   @=dword:1                       the key's default value
//   "ProxyServer"="http=a:1"        strings and names: \\ \" \n \r \t \xHH escaped
//   "State"=hex:00ff                binary, two hex digits a byte
// Anything else (comments, hand edits gone wrong) is kept verbatim.

namespace {

// A file this large is not ours; refusing it keeps memory bounded.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

// Read-modify-write cycles of this process; other processes are held off by
// an advisory lock on the folder.
std::mutex fileMutex;

struct Line {
    bool raw = false;
    std::string text; // raw lines only
    SettingsFile::Value value;
};

struct Section {
    std::string key; // empty for lines before the first header
    std::vector<Line> lines;
};

using Contents = std::vector<Section>;

bool validKey(const std::string& key) {
    if (key.empty() || key.front() == ' ' || key.back() == ' ')
        return false;
    for (char c : key) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

bool isKeyBelow(const std::string& key, const std::string& parent) {
    return key.size() > parent.size() && key[parent.size()] == '\\' &&
           equalsIgnoreCase(std::string_view(key).substr(0, parent.size()), parent);
}

const char kHex[] = "0123456789abcdef";

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = asciiToLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7f) {
                out += "\\x";
                out += kHex[u >> 4];
                out += kHex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

// Parses a quoted text at the start of `text`; `used` is its length.
bool unquote(std::string_view text, std::string& out, std::size_t& used) {
    if (text.empty() || text[0] != '"')
        return false;
    out.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            used = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            const int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

bool parseValue(std::string_view line, SettingsFile::Value& value) {
    std::size_t used = 0;
    if (line.starts_with("@=")) {
        value.name.clear();
        used = 2;
    } else {
        if (!unquote(line, value.name, used) || used >= line.size() || line[used] != '=')
            return false;
        ++used;
    }
    std::string_view rest = line.substr(used);
    if (rest.starts_with("dword:")) {
        rest.remove_prefix(6);
        if (rest.empty() || rest.size() > 10)
            return false;
        std::uint64_t n = 0;
        for (char c : rest) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + static_cast<unsigned>(c - '0');
        }
        if (n > 0xFFFFFFFFu)
            return false;
        value.type = SettingsFile::Type::dword;
        value.dword = static_cast<std::uint32_t>(n);
        value.data.clear();
        return true;
    }
    if (rest.starts_with("hex:")) {
        rest.remove_prefix(4);
        if (rest.size() % 2)
            return false;
        value.type = SettingsFile::Type::binary;
        value.data.clear();
        for (std::size_t i = 0; i < rest.size(); i += 2) {
            const int hi = hexDigit(rest[i]), lo = hexDigit(rest[i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            value.data += static_cast<char>(hi * 16 + lo);
        }
        return true;
    }
    value.type = SettingsFile::Type::string;
    return unquote(rest, value.data, used) && used == rest.size();
}

std::string formatValue(const SettingsFile::Value& value) {
    std::string out = value.name.empty() ? "@" : quote(value.name);
    out += '=';
    switch (value.type) {
    case SettingsFile::Type::dword:
        out += "dword:" + std::to_string(value.dword);
        break;
    case SettingsFile::Type::string:
        out += quote(value.data);
        break;
    case SettingsFile::Type::binary:
        out += "hex:";
        for (char c : value.data) {
            const auto u = static_cast<unsigned char>(c);
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
        break;
    }
    return out;
}

Contents parse(const std::string& text) {
    Contents doc(1);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view whole(text.data() + start, end - start);
        start = end + 1;
        std::string_view line = whole;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            doc.push_back(Section{std::string(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        Line item;
        if (!parseValue(line, item.value)) {
            item.raw = true;
            item.text = whole; // byte for byte, so that every rewrite keeps it
        }
        doc.back().lines.push_back(std::move(item));
    }
    return doc;
}

std::string format(const Contents& doc) {
    std::string out;
    for (const Section& section : doc) {
        if (section.key.empty() && section.lines.empty())
            continue;
        if (!section.key.empty()) {
            if (!out.empty())
                out += '\n';
            out += '[' + section.key + "]\n";
        }
        for (const Line& line : section.lines)
            out += (line.raw ? line.text : formatValue(line.value)) + '\n';
    }
    return out;
}

Section* findSection(Contents& doc, const std::string& key) {
    for (Section& section : doc) {
        if (!section.key.empty() && equalsIgnoreCase(section.key, key))
            return &section;
    }
    return nullptr;
}

Line* findLine(Section& section, const std::string& name) {
    for (Line& line : section.lines) {
        if (!line.raw && equalsIgnoreCase(line.value.name, name))
            return &line;
    }
    return nullptr;
}

// Loads the file; a missing file is an empty document.
bool load(const std::string& path, Contents& doc) {
    std::string text;
    bool exists = false;
    doc.assign(1, Section{});
    if (!TextFile::read(path, kMaxFileSize, text, exists))
        return false;
    doc = parse(text);
    return true;
}

bool save(const std::string& path, const Contents& doc) {
    return TextFile::replace(path, format(doc), 0600);
}

// Holds the folder's advisory lock so that read-modify-write cycles of two
// processes do not interleave.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

// Runs `change` on the current contents and saves the result when it
// returns true.
template <typename Change> bool modify(const std::string& path, Change change) {
    std::lock_guard guard(fileMutex);
    const std::string folder = TextFile::folderOf(path);
    if (!TextFile::makeFolders(folder))
        return false;
    FolderLock lock(folder);
    Contents doc;
    if (!load(path, doc) || !change(doc))
        return false;
    return save(path, doc);
}

template <typename Use> bool inspect(const std::string& path, const std::string& key, Use use) {
    if (!validKey(key)) {
        setLastError(EINVAL);
        return false;
    }
    Contents doc;
    if (!load(path, doc))
        return false;
    Section* section = findSection(doc, key);
    if (!section) {
        setLastError(ENOENT);
        return false;
    }
    return use(*section);
}

} // namespace

SettingsFile::SettingsFile() : path_(defaultPath()) {}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::defaultPath() {
    return TextFile::configFolder() + "/Merovex/Tidewell.conf";
}

bool SettingsFile::readValue(const std::string& key, const std::string& name, Value& out) const {
    return inspect(path_, key, [&](Section& section) {
        const Line* line = findLine(section, name);
        if (!line) {
            setLastError(ENOENT);
            return false;
        }
        out = line->value;
        return true;
    });
}

namespace {

bool readTyped(const SettingsFile& file, const std::string& key, const std::string& name,
               SettingsFile::Type type, SettingsFile::Value& value) {
    if (!file.readValue(key, name, value))
        return false;
    if (value.type != type) {
        setLastError(kErrorInvalidData);
        return false;
    }
    return true;
}

} // namespace

bool SettingsFile::readDword(const std::string& key, const std::string& name,
                             std::uint32_t& out) const {
    Value value;
    if (!readTyped(*this, key, name, Type::dword, value))
        return false;
    out = value.dword;
    return true;
}

bool SettingsFile::readString(const std::string& key, const std::string& name,
                              std::string& out) const {
    Value value;
    if (!readTyped(*this, key, name, Type::string, value))
        return false;
    out = std::move(value.data);
    return true;
}

bool SettingsFile::readBinary(const std::string& key, const std::string& name,
                              std::string& out) const {
    Value value;
    if (!readTyped(*this, key, name, Type::binary, value))
        return false;
    out = std::move(value.data);
    return true;
}

bool SettingsFile::listValues(const std::string& key, std::vector<Value>& out) const {
    return inspect(path_, key, [&](Section& section) {
        out.clear();
        for (const Line& line : section.lines) {
            if (!line.raw)
                out.push_back(line.value);
        }
        return true;
    });
}

bool SettingsFile::keyExists(const std::string& key) const {
    return inspect(path_, key, [](Section&) { return true; });
}

bool SettingsFile::writeValue(const std::string& key, const Value& value) {
    return writeValues(key, {value});
}

bool SettingsFile::writeValues(const std::string& key, const std::vector<Value>& values) {
    if (!validKey(key)) {
        setLastError(EINVAL);
        return false;
    }
    return modify(path_, [&](Contents& doc) {
        Section* section = findSection(doc, key);
        if (!section) {
            doc.push_back(Section{key, {}});
            section = &doc.back();
        }
        for (const Value& value : values) {
            if (Line* line = findLine(*section, value.name))
                line->value = value;
            else
                section->lines.push_back(Line{false, {}, value});
        }
        return true;
    });
}

bool SettingsFile::writeDword(const std::string& key, const std::string& name,
                              std::uint32_t value) {
    return writeValue(key, Value{name, Type::dword, value, {}});
}

bool SettingsFile::writeString(const std::string& key, const std::string& name,
                               const std::string& value) {
    return writeValue(key, Value{name, Type::string, 0, value});
}

bool SettingsFile::writeBinary(const std::string& key, const std::string& name,
                               const std::string& bytes) {
    return writeValue(key, Value{name, Type::binary, 0, bytes});
}

bool SettingsFile::deleteValue(const std::string& key, const std::string& name) {
    if (!validKey(key)) {
        setLastError(EINVAL);
        return false;
    }
    return modify(path_, [&](Contents& doc) {
        Section* section = findSection(doc, key);
        Line* line = section ? findLine(*section, name) : nullptr;
        if (!line) {
            setLastError(ENOENT);
            return false;
        }
        section->lines.erase(section->lines.begin() + (line - section->lines.data()));
        return true;
    });
}

bool SettingsFile::deleteKey(const std::string& key) {
    if (!validKey(key)) {
        setLastError(EINVAL);
        return false;
    }
    return modify(path_, [&](Contents& doc) {
        const auto before = doc.size();
        std::erase_if(doc, [&](const Section& s) {
            return !s.key.empty() && (equalsIgnoreCase(s.key, key) || isKeyBelow(s.key, key));
        });
        if (doc.size() == before) {
            setLastError(ENOENT);
            return false;
        }
        return true;
    });
}
