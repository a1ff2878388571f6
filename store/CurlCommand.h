// A curl command line that sends a captured request again, quoted for the
// shell of a terminal.
#pragma once

#include "engine/Platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class HttpResource;

// A tunnel carries no request that could be sent again.
constexpr std::uint32_t kErrorTunnelNotRepeatable = customError(510); // IDS_TUNNEL_NOT_REPEATABLE

struct CurlCommand {
    // One command over several lines (continued with a backslash), UTF-8 and
    // free of control characters but newlines inside quotes. When fields had
    // to be left out, a comment line saying how many comes first.
    std::string text;
    // Header fields no command line can carry: a NUL byte, an empty name, or
    // a name curl would take for "@file".
    std::size_t leftOut = 0;
    // The body file that could not be written, when that is why building failed.
    std::string unwrittenFile;
};

// `bytes` as one word of the shell a terminal runs (bash, zsh, ksh). Plain
// words stay as they are; others are single-quoted, and the characters that
// would not show as themselves (control characters other than newline, C1
// controls, the bidirectional controls) and bytes that are not UTF-8 are
// written as escapes of ANSI-C quoting ($'\u202e', $'\x1b'). A NUL cannot be
// part of a word; it is dropped.
std::string shellWord(std::string_view bytes);

// The folder for request bodies of commands: "Merovex/Tidewell/curl/" below
// $XDG_CACHE_HOME (default ~/.cache), created readable by the user alone. A
// command keeps working as long as its body file is there; the files stay
// until the user removes them (a cache folder may be emptied at any time).
bool curlBodyFolder(std::string& folder);

// The command for the captured request of `resource`: method, address, every
// header field (curl's own defaults switched off where the request had none),
// and the body. A body of up to 16 KiB of UTF-8 text goes into the command;
// any other goes into a file in `bodyFolder` named after the capture and its
// bytes ("R0000000012-<hash>.bin", 0600, reused when it is there), which the
// command reads. A chunked body is stored without its framing; curl frames
// it again. False (lastError()) when the request head cannot be read, the
// body file cannot be written, or the capture is a tunnel.
bool buildCurlCommand(HttpResource& resource, const std::string& bodyFolder, CurlCommand& out);
