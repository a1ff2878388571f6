// Addresses in playlists and manifests: relative references resolved against
// the document they appear in.
#pragma once

#include <string>
#include <string_view>

// `reference` resolved against the absolute `base` (RFC 3986, 5.2), without
// any fragment: the form captured exchanges are looked up by.
std::string resolveUrl(std::string_view base, std::string_view reference);
// `url` without its fragment.
std::string withoutFragment(std::string_view url);
// The last path segment of `url` without its extension, percent-decoded:
// the name a stream goes by when its page's title was not captured.
std::string baseNameOf(std::string_view url);
