// Any settings file reads without harm, and a write elsewhere leaves every
// value of every other key exactly as it read before.
#include "engine/Text.h"
#include "sysproxy/SettingsFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Folder {
    Folder() {
        if (!mkdtemp(path.data()))
            std::abort();
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path = "/tmp/tidewell-fuzz-settings.XXXXXX";
};

const std::string& folder() {
    static const Folder made;
    return made.path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool same(const std::vector<SettingsFile::Value>& a, const std::vector<SettingsFile::Value>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].dword != b[i].dword ||
            a[i].data != b[i].data)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string path = folder() + "/Tidewell.conf";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

    // The keys the text names, in the header form the file uses.
    std::vector<std::string> keys;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            keys.push_back(line.substr(1, line.size() - 2));
    }
    if (keys.size() > 50)
        keys.resize(50);

    SettingsFile file(path);
    std::vector<std::vector<SettingsFile::Value>> before(keys.size());
    std::vector<bool> found(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        found[i] = file.listValues(keys[i], before[i]);

    const std::string mine = "Fuzz\\Written";
    if (!file.writeString(mine, "value", text))
        std::abort();
    std::string back;
    if (!file.readString(mine, "value", back) || back != text)
        std::abort();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::vector<SettingsFile::Value> after;
        if (file.listValues(keys[i], after) != found[i])
            std::abort();
        if (found[i] && !equalsIgnoreCase(keys[i], mine) && !same(before[i], after))
            std::abort();
    }
    // Writing what is already there changes nothing.
    const std::string once = slurp(path);
    if (!file.writeString(mine, "value", text) || slurp(path) != once)
        std::abort();
    return 0;
}
