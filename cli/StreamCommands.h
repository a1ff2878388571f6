// tidewell-capture's commands for the video and audio streams of the cache
// folder: list them, save one as a playable file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class HttpResource;

// Each returns the process's exit status. `captures` are the kept captures,
// in order.
int listStreams(const std::vector<HttpResource*>& captures);
// `variant` counts from 1; 0 takes the one with most segments captured.
// Exit status 0 when saved whole, 3 when saved with segments missing, 1 when
// not saved. `cancel` is set (from a signal handler) to stop.
int saveStreamCommand(const std::vector<HttpResource*>& captures, std::uint32_t id,
                      const std::string& file, int variant, const std::atomic<bool>& cancel);
