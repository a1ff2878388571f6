// The filter typed above the resource list: which captured resources stay shown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class HttpResource;
enum class RequestMethod : std::uint8_t;

// Words separated by white space. A plain word must occur in the resource's address (as sent,
// or percent-decoded); "type:", "status:", "method:" and "host:" words match the media type,
// the status code, the request method and the host. Every word must match, except that words
// of the same prefix are alternatives ("status:4xx status:5xx" keeps both). Prefixes and texts
// compare with ASCII letters folded. An unknown prefix ("http:") is part of a plain word; a
// prefix without a value does not narrow the list yet.
//
// Status values: one to three digits or "x" from the left ("404", "40x", "4xx", "4"). Values
// that are not status patterns are reported in badTerms() and do not narrow the list.
class ResourceFilter {
public:
    ResourceFilter() = default;
    explicit ResourceFilter(std::string_view text);

    // True when every resource matches (no word that narrows the list).
    bool matchesAll() const;
    bool matches(const HttpResource& resource) const;

    // The words that could not be read ("status:abc"), as typed.
    const std::vector<std::string>& badTerms() const { return badTerms_; }

private:
    // A status code pattern: three digits, -1 where any digit matches.
    struct StatusPattern {
        int digits[3];
    };
    static bool parseStatus(std::string_view value, StatusPattern& out);
    static bool statusMatches(const StatusPattern& pattern, std::int32_t code);
    bool addressMatches(const HttpResource& resource) const;

    std::vector<std::string> words_; // folded
    std::vector<std::string> types_; // folded
    std::vector<StatusPattern> statuses_;
    std::vector<RequestMethod> methods_;
    std::vector<std::string> hosts_; // folded
    std::vector<std::string> badTerms_;
};
