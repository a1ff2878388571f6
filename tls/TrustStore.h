// The user's own NSS certificate databases that browsers read, and adding
// our root to them with a journal, so that removal takes away exactly what
// was added.
#pragma once

#include <string>
#include <vector>

class CertificateAuthority;
class SettingsFile;

// One database (a folder holding cert9.db).
struct NssDatabase {
    std::string browser; // "Chromium" or "Firefox"
    std::string profile; // the Firefox profile's name; empty for Chromium
    std::string folder;
    bool exists = false; // false: the database is made when the root is added
};

// Everything goes through certutil (libnss3-tools); nothing needs root.
// Databases that certutil must make are made the way the browser would make
// them (no password) and are left in place by removal, holding nothing of
// ours.
class TrustStore {
public:
    // Each database touched: value name = folder, value = the nickname added.
    static constexpr const char* kJournalKey = "Software\\Merovex\\Tidewell\\RootCA\\Trust";

    // `home` defaults to $HOME.
    explicit TrustStore(SettingsFile& journal, std::string home = {});

    // Chromium's ($HOME/.pki/nssdb, else $HOME/.local/share/pki/nssdb; made
    // at the first when neither is there and a Chromium is installed) and
    // every Firefox profile listed in profiles.ini (the regular and the snap
    // location), in that order.
    std::vector<NssDatabase> databases() const;
    // "Tidewell Root CA " and the root's SHA-256 fingerprint.
    static std::string nickname(const CertificateAuthority& root);

    // What installing would change, to be shown before anything changes:
    // the databases our root would be added to. Databases that hold a
    // certificate of that nickname already (ours from before, or put there
    // by hand) are left out.
    std::vector<NssDatabase> planInstall(const CertificateAuthority& root) const;
    // Adds the root (trust "C,,") to each planned database, journalling each
    // one as soon as it holds the root. `certificateFile` is the root's PEM.
    // False when any failed (with kErrorCertutil); the others stay added.
    // One line per database in `report`.
    bool install(const CertificateAuthority& root, const std::string& certificateFile,
                 const std::vector<NssDatabase>& plan, std::vector<std::string>& report);

    // The journal: what removal will take away (folder, nickname).
    std::vector<std::pair<std::string, std::string>> installed() const;
    // Removes each journalled certificate and its journal entry; a database
    // that has gone (a deleted profile) only loses its entry. False when any
    // could not be removed (its entry stays for the next try).
    bool remove(std::vector<std::string>& report);

private:
    bool holds(const std::string& folder, const std::string& nickname) const;

    SettingsFile& journal_;
    std::string home_;
};
