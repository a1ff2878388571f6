#include "tls/TrustStore.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "sysproxy/SettingsFile.h"
#include "tls/CertificateAuthority.h"
#include "tls/Subprocess.h"
#include "tls/TlsError.h"
#include "tls/UserFiles.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

// `path` (relative to `base` unless absolute) with "." and ".." taken out,
// or empty when it leads outside `base`. Links are not followed: a profile
// folder the user linked elsewhere is still where Firefox keeps it.
std::string insideFolder(const std::string& base, const std::string& path, bool relative) {
    std::string rest = path;
    if (!relative) {
        if (rest.rfind(base + "/", 0) != 0)
            return {};
        rest = rest.substr(base.size() + 1);
    }
    std::vector<std::string> parts;
    std::istringstream pieces(rest);
    std::string part;
    while (std::getline(pieces, part, '/')) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty())
                return {};
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty())
        return {};
    std::string folder = base;
    for (const std::string& piece : parts)
        folder += "/" + piece;
    return folder;
}

std::string formatted(unsigned id, const std::string& first, const std::string& second = {}) {
    char text[2048];
    std::snprintf(text, sizeof text, loadString(id), first.c_str(), second.c_str());
    return text;
}

// The nicknames a listing shows (certutil -L): the last word of each line
// below the heading is the trust, the rest the nickname.
std::vector<std::string> nicknames(const std::string& listing) {
    std::vector<std::string> out;
    std::istringstream lines(listing);
    std::string line;
    int heading = 0;
    while (std::getline(lines, line)) {
        if (heading < 3) {
            heading += line.find("SSL,S/MIME") != std::string::npos ? 3 : 0;
            continue;
        }
        const std::size_t end = line.find_last_not_of(' ');
        if (end == std::string::npos)
            continue;
        const std::size_t trust = line.find_last_of(' ', end);
        if (trust == std::string::npos)
            continue;
        const std::size_t nameEnd = line.find_last_not_of(' ', trust);
        if (nameEnd != std::string::npos)
            out.push_back(line.substr(0, nameEnd + 1));
    }
    return out;
}

// Whether the PEM text holds `certificate`.
bool pemHolds(const std::string& pem, X509* certificate) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    bool found = false;
    while (X509* one = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        found = found || X509_cmp(one, certificate) == 0;
        X509_free(one);
    }
    ERR_clear_error();
    return found;
}

// The uppermost of `folder` and its parents that does not exist yet; empty
// when `folder` does.
std::string firstMissing(const std::string& folder) {
    std::string top;
    for (std::string at = folder; at.size() > 1 && !isFolder(at);
         at = at.substr(0, at.find_last_of('/')))
        top = at;
    return top;
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

std::vector<NssDatabase> TrustStore::databases(std::vector<std::string>* notes) const {
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
            const std::string folder = insideFolder(base, profile.path, profile.relative);
            if (folder.empty()) {
                // Whatever wrote that path, nothing is written there.
                if (notes)
                    notes->push_back(
                        formatted(IDS_HTTPS_PROFILE_OUTSIDE, profile.name, profile.path));
                continue;
            }
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

TrustStore::Holding TrustStore::holding(const std::string& folder, const CertificateAuthority& root,
                                        std::string& otherName) const {
    if (!isFile(folder + "/cert9.db"))
        return Holding::No;
    const std::string ours = nickname(root);
    if (holds(folder, ours))
        return Holding::Ours;
    // Under a name of the user's own: certutil -A would change its trust.
    std::string listing;
    if (runProgram({"certutil", "-L", "-d", database(folder)}, listing) != 0)
        return Holding::Unknown;
    for (const std::string& name : nicknames(listing)) {
        std::string pem;
        if (runProgram({"certutil", "-L", "-d", database(folder), "-n", name, "-a"}, pem) == 0 &&
            pemHolds(pem, root.certificate())) {
            otherName = name;
            return Holding::OtherName;
        }
    }
    return Holding::No;
}

std::vector<NssDatabase> TrustStore::planInstall(const CertificateAuthority& root,
                                                 std::vector<std::string>* notes) const {
    std::vector<NssDatabase> plan;
    for (const NssDatabase& db : databases(notes)) {
        std::string otherName;
        switch (holding(db.folder, root, otherName)) {
        case Holding::No:
            plan.push_back(db);
            break;
        case Holding::Ours:
            break;
        case Holding::OtherName:
            if (notes)
                notes->push_back(formatted(IDS_HTTPS_HELD_UNDER_NAME, db.folder, otherName));
            break;
        case Holding::Unknown:
            if (notes)
                notes->push_back(formatted(IDS_HTTPS_DATABASE_UNREADABLE, db.folder));
            break;
        }
    }
    return plan;
}

bool TrustStore::install(const CertificateAuthority& root, const std::string& certificateFile,
                         const std::vector<NssDatabase>& plan, std::vector<std::string>& report) {
    const std::string name = nickname(root);
    bool allDone = true;
    for (const NssDatabase& db : plan) {
        std::string output;
        int status = 0;
        const bool create = !isFile(db.folder + "/cert9.db");
        if (create) {
            // Journalled before it is made: removal deletes it again.
            const std::string top = firstMissing(db.folder);
            status =
                journal_.writeString(kCreatedKey, db.folder, top) && createUserFolders(db.folder)
                    ? runProgram({"certutil", "-N", "--empty-password", "-d", database(db.folder)},
                                 output)
                    : -1;
        } else {
            // Checked again at the moment of change: what the user saw
            // planned may no longer be so.
            std::string otherName;
            const Holding now = holding(db.folder, root, otherName);
            if (now == Holding::OtherName)
                report.push_back(formatted(IDS_HTTPS_HELD_UNDER_NAME, db.folder, otherName));
            else if (now == Holding::Unknown)
                report.push_back(formatted(IDS_HTTPS_DATABASE_UNREADABLE, db.folder));
            if (now != Holding::No) {
                allDone = allDone && now != Holding::Unknown;
                continue;
            }
        }
        if (status == 0)
            status = runProgram({"certutil", "-A", "-n", name, "-t", "C,,", "-i", certificateFile,
                                 "-d", database(db.folder)},
                                output);
        std::uint32_t code = status < 0 ? lastError() : 0;
        if (status == 0 && !journal_.writeString(kJournalKey, db.folder, name)) {
            // Unrecorded, it could never be removed again: take it back.
            code = lastError();
            runProgram({"certutil", "-D", "-n", name, "-d", database(db.folder)}, output);
            status = -1;
        }
        if (status != 0) {
            allDone = false;
            if (create) {
                std::string top;
                if (journal_.readString(kCreatedKey, db.folder, top) &&
                    deleteCreated(db.folder, top))
                    journal_.deleteValue(kCreatedKey, db.folder);
            }
            report.push_back(db.folder + ": " + (code != 0 ? errorText(code) : firstLine(output)));
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

bool TrustStore::deleteCreated(const std::string& folder, const std::string& top) const {
    if (isFile(folder + "/cert9.db")) {
        std::string listing;
        std::string keys;
        const bool empty = runProgram({"certutil", "-L", "-d", database(folder)}, listing) == 0 &&
                           nicknames(listing).empty() &&
                           runProgram({"certutil", "-K", "-d", database(folder)}, keys) != 0 &&
                           keys.find("no keys found") != std::string::npos;
        if (!empty)
            return false;
        // The files certutil made, and nothing else.
        for (const char* file : {"cert9.db", "key4.db", "pkcs11.txt"})
            ::unlink((folder + "/" + file).c_str());
    }
    // The folders made with it, as long as nothing else went into them.
    if (!top.empty() && (top == folder || folder.rfind(top + "/", 0) == 0))
        for (std::string at = folder; at.size() >= top.size() && ::rmdir(at.c_str()) == 0;
             at = at.substr(0, at.find_last_of('/'))) {
        }
    return true;
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
        std::string top;
        if (journal_.readString(kCreatedKey, folder, top)) {
            if (!deleteCreated(folder, top))
                report.push_back(formatted(IDS_HTTPS_CREATED_DATABASE_KEPT, folder));
            journal_.deleteValue(kCreatedKey, folder);
        }
        journal_.deleteValue(kJournalKey, folder);
        report.push_back(folder);
    }
    if (allDone) {
        journal_.deleteKey(kJournalKey);
        journal_.deleteKey(kCreatedKey);
    } else {
        setLastError(kErrorCertutil);
    }
    return allDone;
}
