// Captured exchanges as an HTTP Archive (HAR 1.2) log, the format browsers'
// developer tools import.
#pragma once

#include "engine/Stream.h"
#include "store/JsonWriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class HttpResource;

// How captured bytes become JSON text (which must be UTF-8):
// - Head texts (names, values, method, version, reason) that are valid UTF-8
//   are written as they are. One that is not is written as ISO-8859-1, each
//   byte the character of the same number (as browsers read such bytes), and
//   the object holding it gets "_encoding": "latin1": a header object, or the
//   request or response object for its own method, version or reason. The
//   latin1 characters encoded back to bytes give the captured bytes.
// - The url is the captured address with every byte outside printable ASCII,
//   and the characters " < > \ ^ ` { | }, percent-encoded; the fragment is
//   left out.
// - Response bodies are decoded (transfer and content codings undone). A
//   body of a textual media type in UTF-8 (or ASCII) that decodes to valid
//   UTF-8 is written as text; every other body as base64 ("encoding":
//   "base64"). A body that cannot be decoded is written as it travelled, in
//   base64, with the reason in the content's "comment".
// - Request bodies are postData: the bytes as sent, chunked framing undone,
//   as text under the same rule, otherwise base64 with "_encoding": "base64"
//   (HAR 1.2 has no encoding field for posted data).
// - A tunnel (CONNECT, or an upgrade answered 101) carries its byte counts
//   and how it ended in "_tunnel"; a CONNECT's url is its host and port with
//   the scheme that port usually carries.
// - Timings come from the times the relay noted, also for captures loaded
//   from the cache folder: dns, connect (the TLS handshake, also given as
//   ssl, included) and blocked when the exchange opened its connection, -1
//   when it reused one; send, wait (to the first response byte) and receive.
//   Captures kept by builds that noted no times have their cache file's
//   modification time as start and timings of 0.
// - A WebSocket is "_resourceType": "websocket", with its text and binary
//   messages in "_webSocketMessages" as Chromium's developer tools write
//   them (type send or receive, time in seconds, opcode, data; decompressed;
//   binary data in base64).
class HarWriter {
public:
    HarWriter(OutputStream& out, const std::string& creatorVersion);

    // Opens the log; entries follow.
    void begin();
    // One entry for `resource` (the document's capture lock is taken while
    // it is read). A resource whose request head cannot be read is left out
    // and counted in `skipped`. False when writing failed.
    bool add(HttpResource& resource);
    // Closes the log and writes what is buffered; false (lastError()) when
    // any write failed.
    bool end();

    std::size_t written = 0;
    std::size_t skipped = 0;

private:
    JsonWriter json_;
    std::string creatorVersion_;
};

// The log of `resources`, in the order given, into `out`; `skipped` counts
// the resources left out because they could not be read. False
// (lastError()) when writing failed.
bool writeHar(OutputStream& out, const std::vector<HttpResource*>& resources,
              const std::string& creatorVersion, std::size_t* skipped = nullptr);
// The same into a new file at `path`,
// readable by the user alone (it holds cookies and passwords). On failure
// (lastError()) nothing is left behind and an existing file at `path` is
// untouched. A pipe or terminal at `path` is written into as it is.
bool writeHarFile(const std::string& path, const std::vector<HttpResource*>& resources,
                  const std::string& creatorVersion, std::size_t* skipped = nullptr);
