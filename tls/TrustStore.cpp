#include "tls/TrustStore.h"

#include "engine/Platform.h"
#include "sysproxy/SettingsFile.h"
#include "tls/CertificateAuthority.h"
#include "tls/Subprocess.h"
#include "tls/TlsError.h"
#include "tls/UserFiles.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string database(const std::string& folder) {
    return "sql:" + folder;
}

std::string firstLine(const std::string& text) {
    const std::size_t end = text.find('\n');
    return text.substr(0, end);
}

struct Profile {
    std::string name;
    std::string path;
    bool relative = true;
};

// The [Profile*] sections of a profiles.ini.
std::vector<Profile> readProfiles(const std::string& iniPath) {
    std::vector<Profile> profiles;
    std::ifstream in(iniPath);
    std::string line;
    bool inProfile = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[') {
            inProfile = line.rfind("[Profile", 0) == 0;
            if (inProfile)
                profiles.emplace_back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inProfile || equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "Name")
            profiles.back().name = value;
        else if (key == "Path")
            profiles.back().path = value;
        else if (key == "IsRelative")
            profiles.back().relative = value != "0";
    }
    return profiles;
}

bool chromiumInstalled() {
    for (const char* name :
         {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"})
        if (!findProgram(name).empty())
            return true;
    return false;
}

} // namespace

TrustStore::TrustStore(SettingsFile& journal, std::string home)
    : journal_(journal), home_(std::move(home)) {
    if (home_.empty()) {
        const char* value = std::getenv("HOME");
        home_ = value ? value : "";
    }
}

std::string TrustStore::nickname(const CertificateAuthority& root) {
    return "Tidewell Root CA " + root.fingerprint();
}

std::vector<NssDatabase> TrustStore::databases() const {
    std::vector<NssDatabase> out;
    if (home_.empty())
        return out;
    const std::string legacy = home_ + "/.pki/nssdb";
    const std::string current = home_ + "/.local/share/pki/nssdb";
    if (isFolder(legacy))
        out.push_back({"Chromium", "", legacy, isFile(legacy + "/cert9.db")});
    else if (isFolder(current))
        out.push_back({"Chromium", "", current, isFile(current + "/cert9.db")});
    else if (chromiumInstalled())
        out.push_back({"Chromium", "", legacy, false});

    for (const std::string& base :
         {home_ + "/.mozilla/firefox", home_ + "/snap/firefox/common/.mozilla/firefox"}) {
        for (const Profile& profile : readProfiles(base + "/profiles.ini")) {
            if (profile.path.empty())
                continue;
            std::string folder = profile.relative ? base + "/" + profile.path : profile.path;
            while (folder.size() > 1 && folder.back() == '/')
                folder.pop_back();
            // A profile listed but gone has nothing to trust.
            if (!isFolder(folder))
                continue;
            out.push_back({"Firefox", profile.name, folder, isFile(folder + "/cert9.db")});
        }
    }
    return out;
}

bool TrustStore::holds(const std::string& folder, const std::string& name) const {
    std::string output;
    return runProgram({"certutil", "-L", "-d", database(folder), "-n", name}, output) == 0;
}

std::vector<NssDatabase> TrustStore::planInstall(const CertificateAuthority& root) const {
    const std::string name = nickname(root);
    std::vector<NssDatabase> plan;
    for (const NssDatabase& db : databases())
        if (!db.exists || !holds(db.folder, name))
            plan.push_back(db);
    return plan;
}

bool TrustStore::install(const CertificateAuthority& root, const std::string& certificateFile,
                         const std::vector<NssDatabase>& plan, std::vector<std::string>& report) {
    const std::string name = nickname(root);
    bool allDone = true;
    for (const NssDatabase& db : plan) {
        std::string output;
        int status = 0;
        if (!isFile(db.folder + "/cert9.db")) {
            status =
                createUserFolders(db.folder)
                    ? runProgram({"certutil", "-N", "--empty-password", "-d", database(db.folder)},
                                 output)
                    : -1;
        }
        if (status == 0)
            status = runProgram({"certutil", "-A", "-n", name, "-t", "C,,", "-i", certificateFile,
                                 "-d", database(db.folder)},
                                output);
        if (status != 0) {
            allDone = false;
            report.push_back(db.folder + ": " +
                             (status < 0 ? errorText(lastError()) : firstLine(output)));
            continue;
        }
        if (!journal_.writeString(kJournalKey, db.folder, name)) {
            // Unrecorded, it could never be removed again: take it back.
            const std::uint32_t code = lastError();
            runProgram({"certutil", "-D", "-n", name, "-d", database(db.folder)}, output);
            allDone = false;
            report.push_back(db.folder + ": " + errorText(code));
            continue;
        }
        report.push_back(db.folder);
    }
    if (!allDone)
        setLastError(kErrorCertutil);
    return allDone;
}

std::vector<std::pair<std::string, std::string>> TrustStore::installed() const {
    std::vector<std::pair<std::string, std::string>> out;
    std::vector<SettingsFile::Value> values;
    if (!journal_.listValues(kJournalKey, values))
        return out;
    for (const SettingsFile::Value& value : values)
        if (value.type == SettingsFile::Type::string && !value.name.empty())
            out.emplace_back(value.name, value.data);
    return out;
}

bool TrustStore::remove(std::vector<std::string>& report) {
    bool allDone = true;
    for (const auto& [folder, name] : installed()) {
        std::string output;
        if (isFile(folder + "/cert9.db") && holds(folder, name)) {
            const int status =
                runProgram({"certutil", "-D", "-n", name, "-d", database(folder)}, output);
            if (status != 0) {
                allDone = false;
                report.push_back(folder + ": " +
                                 (status < 0 ? errorText(lastError()) : firstLine(output)));
                continue;
            }
        }
        journal_.deleteValue(kJournalKey, folder);
        report.push_back(folder);
    }
    if (allDone)
        journal_.deleteKey(kJournalKey);
    else
        setLastError(kErrorCertutil);
    return allDone;
}
