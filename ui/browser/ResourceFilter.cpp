#include "ui/browser/ResourceFilter.h"

#include "engine/Text.h"
#include "engine/Url.h"
#include "store/HttpResource.h"

#include <algorithm>

namespace {

std::string folded(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiToLower(c);
    return out;
}

bool containsFolded(std::string_view haystack, std::string_view foldedNeedle) {
    if (foldedNeedle.size() > haystack.size())
        return false;
    auto at = std::search(haystack.begin(), haystack.end(), foldedNeedle.begin(),
                          foldedNeedle.end(), [](char a, char b) { return asciiToLower(a) == b; });
    return at != haystack.end() || foldedNeedle.empty();
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The host of an authority: without user information and port ([v6] keeps its brackets).
std::string_view hostOf(std::string_view authority) {
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? authority : authority.substr(0, close + 1);
    }
    return authority.substr(0, authority.find(':'));
}

} // namespace

ResourceFilter::ResourceFilter(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isSpace(text[at]))
            ++at;
        std::size_t end = at;
        while (end < text.size() && !isSpace(text[end]))
            ++end;
        if (end == at)
            break;
        const std::string_view word = text.substr(at, end - at);
        at = end;

        const std::size_t colon = word.find(':');
        const std::string key =
            colon == std::string_view::npos ? std::string() : folded(word.substr(0, colon));
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view() : word.substr(colon + 1);
        const bool known = key == "type" || key == "status" || key == "method" || key == "host";
        if (!known) {
            words_.push_back(folded(word));
        } else if (value.empty()) {
            continue; // still being typed
        } else if (key == "type") {
            types_.push_back(folded(value));
        } else if (key == "host") {
            hosts_.push_back(folded(value));
        } else if (key == "method") {
            methods_.push_back(requestMethodOf(value));
        } else {
            StatusPattern pattern{};
            if (parseStatus(value, pattern))
                statuses_.push_back(pattern);
            else
                badTerms_.emplace_back(word);
        }
    }
}

bool ResourceFilter::matchesAll() const {
    return words_.empty() && types_.empty() && statuses_.empty() && methods_.empty() &&
           hosts_.empty();
}

bool ResourceFilter::parseStatus(std::string_view value, StatusPattern& out) {
    if (value.empty() || value.size() > 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (std::size_t(i) >= value.size()) {
            out.digits[i] = -1;
            continue;
        }
        const char c = value[std::size_t(i)];
        if (c >= '0' && c <= '9')
            out.digits[i] = c - '0';
        else if (c == 'x' || c == 'X')
            out.digits[i] = -1;
        else
            return false;
    }
    // Codes run from 100 to 999: a pattern starting with 0 matches none, which is no help.
    return out.digits[0] != 0;
}

bool ResourceFilter::statusMatches(const StatusPattern& pattern, std::int32_t code) {
    if (code < 100 || code > 999)
        return false;
    const int digits[3] = {code / 100, code / 10 % 10, code % 10};
    for (int i = 0; i < 3; ++i) {
        if (pattern.digits[i] >= 0 && pattern.digits[i] != digits[i])
            return false;
    }
    return true;
}

bool ResourceFilter::addressMatches(const HttpResource& resource) const {
    // Folded once, then searched with the plain find.
    std::string address = resource.url.toString();
    for (char& c : address)
        c = asciiToLower(c);
    std::string decoded;
    bool decodedMade = false;
    for (const std::string& word : words_) {
        if (address.find(word) != std::string::npos)
            continue;
        // "图片" or "a b" as the user reads them, not as they travel.
        if (address.find('%') == std::string::npos)
            return false;
        if (!decodedMade) {
            decoded = percentDecode(address);
            decodedMade = true;
        }
        if (decoded.find(word) == std::string::npos)
            return false;
    }
    return true;
}

bool ResourceFilter::matches(const HttpResource& resource) const {
    if (!types_.empty() && std::none_of(types_.begin(), types_.end(), [&](const std::string& t) {
            return containsFolded(resource.contentType, t);
        }))
        return false;
    if (!statuses_.empty() &&
        std::none_of(statuses_.begin(), statuses_.end(),
                     [&](const StatusPattern& p) { return statusMatches(p, resource.statusCode); }))
        return false;
    if (!methods_.empty() &&
        std::find(methods_.begin(), methods_.end(), resource.method) == methods_.end())
        return false;
    if (!hosts_.empty()) {
        const std::string_view host = hostOf(resource.url.authority);
        if (std::none_of(hosts_.begin(), hosts_.end(),
                         [&](const std::string& h) { return containsFolded(host, h); }))
            return false;
    }
    return words_.empty() || addressMatches(resource);
}
