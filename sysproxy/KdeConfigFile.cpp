#include "sysproxy/KdeConfigFile.h"

#include "engine/Text.h"

namespace {

bool isBlank(std::string_view line) {
    return trimView(line).empty();
}

bool isHeader(std::string_view line) {
    const std::string_view text = trimView(line);
    return !text.empty() && text.front() == '[';
}

bool isHeaderOf(std::string_view line, std::string_view group) {
    const std::string_view text = trimView(line);
    return text.size() == group.size() + 2 && text.front() == '[' && text.back() == ']' &&
           text.substr(1, group.size()) == group;
}

} // namespace

KdeConfigFile::KdeConfigFile(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines_.emplace_back(text.substr(start));
            finalNewline_ = false;
            break;
        }
        lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string KdeConfigFile::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i)
            out += '\n';
        out += lines_[i];
    }
    if (!lines_.empty() && finalNewline_)
        out += '\n';
    return out;
}

bool KdeConfigFile::parseEntry(std::string_view line, std::string& key, std::string& value) {
    const std::string_view text = trimView(line);
    if (text.empty() || text.front() == '#' || text.front() == '[')
        return false;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return false;
    key = trim(text.substr(0, equals));
    if (key.empty())
        return false;
    const std::string_view raw = trimView(text.substr(equals + 1));
    value.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            value += raw[i];
            continue;
        }
        const char c = raw[++i];
        switch (c) {
        case 's':
            value += ' ';
            break;
        case 't':
            value += '\t';
            break;
        case 'n':
            value += '\n';
            break;
        case 'r':
            value += '\r';
            break;
        case 'x':
            if (i + 2 < raw.size() && hexDigitValue(raw[i + 1]) >= 0 &&
                hexDigitValue(raw[i + 2]) >= 0) {
                value += char(hexDigitValue(raw[i + 1]) * 16 + hexDigitValue(raw[i + 2]));
                i += 2;
            } else {
                value += "\\x";
            }
            break;
        default: // "\\" and anything KDE keeps as it is
            value += c;
        }
    }
    return true;
}

std::string KdeConfigFile::escape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == ' ' && (i == 0 || i + 1 == value.size()))
            out += "\\s"; // kept where trimming would lose it
        else
            out += c;
    }
    return out;
}

bool KdeConfigFile::findGroup(std::string_view group, std::size_t& header, std::size_t& end) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!isHeaderOf(lines_[i], group))
            continue;
        header = i;
        end = i + 1;
        while (end < lines_.size() && !isHeader(lines_[end]))
            ++end;
        return true;
    }
    return false;
}

bool KdeConfigFile::hasGroup(std::string_view group) const {
    std::size_t header = 0, end = 0;
    return findGroup(group, header, end);
}

std::vector<std::size_t> KdeConfigFile::definitions(std::string_view group,
                                                    std::string_view key) const {
    std::vector<std::size_t> found;
    std::size_t header = 0, end = 0;
    if (!findGroup(group, header, end))
        return found;
    std::string name, value;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (parseEntry(lines_[i], name, value) && name == key)
            found.push_back(i);
    }
    return found;
}

bool KdeConfigFile::line(std::string_view group, std::string_view key, std::string& out) const {
    const std::vector<std::size_t> found = definitions(group, key);
    if (found.empty())
        return false;
    out = lines_[found.back()];
    return true;
}

bool KdeConfigFile::value(std::string_view group, std::string_view key, std::string& out) const {
    std::string text, name;
    return line(group, key, text) && parseEntry(text, name, out);
}

void KdeConfigFile::setLine(std::string_view group, std::string_view key, const std::string& line) {
    const std::vector<std::size_t> found = definitions(group, key);
    if (!found.empty()) {
        lines_[found.back()] = line;
        return;
    }
    std::size_t header = 0, end = 0;
    if (findGroup(group, header, end)) {
        std::size_t at = end;
        while (at > header + 1 && isBlank(lines_[at - 1]))
            --at;
        lines_.insert(lines_.begin() + at, line);
        return;
    }
    // A new group goes last, after one blank line that removeGroupIfEmpty
    // takes away again.
    if (!lines_.empty())
        lines_.emplace_back();
    else
        finalNewline_ = true;
    lines_.push_back("[" + std::string(group) + "]");
    lines_.push_back(line);
}

void KdeConfigFile::setValue(std::string_view group, std::string_view key, std::string_view value) {
    setLine(group, key, std::string(key) + "=" + escape(value));
}

void KdeConfigFile::removeKey(std::string_view group, std::string_view key) {
    const std::vector<std::size_t> found = definitions(group, key);
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        lines_.erase(lines_.begin() + *it);
}

void KdeConfigFile::removeGroupIfEmpty(std::string_view group) {
    std::size_t header = 0, end = 0;
    if (!findGroup(group, header, end))
        return;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (!isBlank(lines_[i]))
            return;
    }
    const std::size_t first = header > 0 && isBlank(lines_[header - 1]) ? header - 1 : header;
    lines_.erase(lines_.begin() + first, lines_.begin() + end);
}
