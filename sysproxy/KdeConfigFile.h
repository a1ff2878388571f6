// A KDE configuration file (such as kioslaverc) edited line by line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Keeps every line it does not change byte for byte: other groups, comments,
// spacing, keys with locale or option suffixes, lines it cannot parse. Within
// a group, the last definition of a key is the one that counts, as KDE reads
// it. Never fails: any text is a file.
class KdeConfigFile {
public:
    explicit KdeConfigFile(std::string_view text = {});

    std::string text() const;

    bool hasGroup(std::string_view group) const;
    // The whole line that defines `key` in `group`; false when there is none.
    bool line(std::string_view group, std::string_view key, std::string& out) const;
    // The value of that line, unescaped.
    bool value(std::string_view group, std::string_view key, std::string& out) const;

    // Puts `line` (which must define `key`) in place of the definition of
    // `key`, or after the group's last entry, or in a new group at the end.
    void setLine(std::string_view group, std::string_view key, const std::string& line);
    void setValue(std::string_view group, std::string_view key, std::string_view value);
    // Removes every definition of `key` in `group`.
    void removeKey(std::string_view group, std::string_view key);
    // Removes a group that holds no entries and no comments, with the blank
    // line that setLine put before it.
    void removeGroupIfEmpty(std::string_view group);

    // Splits an entry line into its key (with any "[...]" suffix) and its
    // unescaped value; false for headers, comments and other lines.
    static bool parseEntry(std::string_view line, std::string& key, std::string& value);
    static std::string escape(std::string_view value);

private:
    // Index range [begin, end) of the group's lines after its header; begin
    // is the header's own index + 1. False when the group is absent.
    bool findGroup(std::string_view group, std::size_t& header, std::size_t& end) const;
    std::vector<std::size_t> definitions(std::string_view group, std::string_view key) const;

    std::vector<std::string> lines_;
    bool finalNewline_ = true;
};
