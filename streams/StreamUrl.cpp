#include "streams/StreamUrl.h"

#include "engine/Url.h"

#include <vector>

namespace {

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string_view path) {
    std::vector<std::string_view> out;
    const bool absolute = !path.empty() && path.front() == '/';
    std::size_t at = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(at, end - at);
        const bool last = end == path.size();
        if (segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            if (!out.empty())
                out.pop_back();
            trailingSlash = last;
        } else {
            out.push_back(segment);
            trailingSlash = false;
        }
        at = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i)
            result += '/';
        result += out[i];
    }
    if (trailingSlash && (result.empty() || result.back() != '/'))
        result += '/';
    return result;
}

std::string merge(const Url& base, std::string_view path) {
    if ((base.flags & Url::HasAuthority) && base.path.empty())
        return "/" + std::string(path);
    const std::size_t slash = base.path.rfind('/');
    if (slash == std::string::npos)
        return std::string(path);
    return base.path.substr(0, slash + 1) + std::string(path);
}

} // namespace

std::string withoutFragment(std::string_view url) {
    return std::string(url.substr(0, url.find('#')));
}

std::string resolveUrl(std::string_view baseText, std::string_view referenceText) {
    Url base, ref, target;
    base.parse(baseText);
    ref.parse(referenceText);
    if (ref.flags & Url::HasScheme) {
        target = ref;
        target.path = removeDotSegments(ref.path);
    } else {
        if (ref.flags & Url::HasAuthority) {
            target.authority = ref.authority;
            target.flags |= Url::HasAuthority;
            target.path = removeDotSegments(ref.path);
            target.query = ref.query;
            target.flags |= ref.flags & Url::HasQuery;
        } else {
            if (ref.path.empty()) {
                target.path = base.path;
                const Url& from = (ref.flags & Url::HasQuery) ? ref : base;
                target.query = from.query;
                target.flags |= from.flags & Url::HasQuery;
            } else {
                target.path = removeDotSegments(ref.path.front() == '/' ? std::string(ref.path)
                                                                        : merge(base, ref.path));
                target.query = ref.query;
                target.flags |= ref.flags & Url::HasQuery;
            }
            target.authority = base.authority;
            target.flags |= base.flags & Url::HasAuthority;
        }
        target.scheme = base.scheme;
        target.flags |= base.flags & Url::HasScheme;
    }
    target.flags &= ~Url::HasFragment;
    target.fragment.clear();
    return target.toString();
}

std::string baseNameOf(std::string_view url) {
    Url parsed;
    parsed.parse(url);
    std::string_view path = parsed.path;
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    std::string_view name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0)
        name = name.substr(0, dot);
    if (name.empty())
        name = parsed.authority;
    return percentDecode(name);
}
