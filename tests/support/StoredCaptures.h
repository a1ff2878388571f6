// What a cache folder holds on disk, read without a document: the cache
// image of every capture, by number, wherever it is stored (a file of an
// older build, a run's log or a run's file). For tests that check what a
// crash, a clear or an exit leaves behind.
#pragma once

#include "store/CacheFolder.h"
#include "store/CaptureLog.h"
#include "store/CaptureRuns.h"
#include "store/HttpResource.h"

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace stored {

inline std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The plain cache files of `folder` (ending in "/") into `images`.
inline void addFiles(const std::string& folder, std::map<std::uint32_t, std::string>& images) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            std::uint32_t id;
            struct stat st {};
            const std::string path = folder + entry->d_name;
            if (CacheFolder::parseFileName(entry->d_name, id) && ::lstat(path.c_str(), &st) == 0 &&
                S_ISREG(st.st_mode))
                images[id] = fileBytes(path);
        }
        ::closedir(dir);
    }
}

} // namespace stored

// Every capture image below `cacheFolder` (ending in "/"), by the number its
// record carries (log frames) or its file name (cache files).
inline std::map<std::uint32_t, std::string> storedImages(const std::string& cacheFolder) {
    std::map<std::uint32_t, std::string> images;
    stored::addFiles(cacheFolder, images);
    if (DIR* dir = ::opendir(cacheFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            std::uint32_t first;
            const std::string run = cacheFolder + entry->d_name + "/";
            if (!CaptureRuns::parseFolderName(entry->d_name, first) || !stored::isFolder(run))
                continue;
            stored::addFiles(run, images);
            std::size_t damaged = 0;
            CaptureLog::read(
                run + CaptureRuns::kLogName,
                [&](const CaptureLog::Frame& frame) {
                    std::uint32_t id = 0;
                    if (frame.length >= 8)
                        std::memcpy(&id, frame.image + 4, 4); // little-endian hosts only
                    images[id] = std::string(frame.image, frame.length);
                },
                damaged);
        }
        ::closedir(dir);
    }
    return images;
}

// Every capture below the cache folder of `folder`, loaded as the next start
// would read it (facts only: their images stay where they are).
inline std::vector<std::unique_ptr<HttpResource>> storedCaptures(CacheFolder& folder) {
    std::vector<std::unique_ptr<HttpResource>> captures;
    for (const auto& [id, image] : storedImages(folder.cacheFolder)) {
        auto resource = std::make_unique<HttpResource>(&folder);
        if (resource->loadLogged(nullptr, -1, image.data(), std::uint32_t(image.size())))
            captures.push_back(std::move(resource));
    }
    return captures;
}

inline bool isStored(const std::string& cacheFolder, std::uint32_t id) {
    return storedImages(cacheFolder).count(id) != 0;
}

// The stored image of one resource, read from where it says it is.
inline std::string storedImage(const HttpResource& resource) {
    if (resource.logOffset < 0)
        return stored::fileBytes(resource.storedPath());
    std::string image;
    std::size_t damaged = 0;
    CaptureLog::read(
        resource.storedPath(),
        [&](const CaptureLog::Frame& frame) {
            if (frame.offset == resource.logOffset)
                image.assign(frame.image, frame.length);
        },
        damaged);
    return image;
}

// Fills `into` from where `original` stored its image, as the next start
// would.
inline bool loadStored(HttpResource& into, const HttpResource& original) {
    if (original.logOffset < 0) {
        if (!into.load(original.storedPath()))
            return false;
        into.run = original.run; // as the document does for a run's files
        return true;
    }
    const std::string image = storedImage(original);
    return into.loadLogged(original.run, original.logOffset, image.data(),
                           std::uint32_t(image.size()));
}
