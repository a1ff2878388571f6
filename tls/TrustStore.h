// The user's own NSS certificate databases that browsers read, and adding
// our root to them with a journal, so that removal gives back every database
// as it was found.
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
// them (no password), and removal deletes them again.
//
// Only entries this class made are ever changed: a database that holds the
// root already, under any name, is left as it is, and removal takes away
// exactly what the journal says was added.
class TrustStore {
public:
    // Each database the root was added to: value name = folder, value = the
    // nickname added.
    static constexpr const char* kJournalKey = "Software\\Merovex\\Tidewell\\RootCA\\Trust";
    // Each database made for it: value name = folder, value = the uppermost
    // folder made with it (empty when only the files were made).
    static constexpr const char* kCreatedKey = "Software\\Merovex\\Tidewell\\RootCA\\Created";

    // `home` defaults to $HOME.
    explicit TrustStore(SettingsFile& journal, std::string home = {});

    // Chromium's ($HOME/.pki/nssdb, else $HOME/.local/share/pki/nssdb; made
    // at the first when neither is there and a Chromium is installed) and
    // every Firefox profile listed in profiles.ini (the regular and the snap
    // location), in that order. A profile whose path leads outside its
    // Firefox folder is left out, with a line in `notes`.
    std::vector<NssDatabase> databases(std::vector<std::string>* notes = nullptr) const;
    // "Tidewell Root CA " and the root's SHA-256 fingerprint.
    static std::string nickname(const CertificateAuthority& root);

    // What installing would change, to be shown before anything changes:
    // the databases our root would be added to. Databases that hold the root
    // already (ours from before, or put there by hand under any name) are
    // left out; `notes` says why for each one not under our nickname.
    std::vector<NssDatabase> planInstall(const CertificateAuthority& root,
                                         std::vector<std::string>* notes = nullptr) const;
    // Adds the root (trust "C,,") to each planned database that still does
    // not hold it, journalling each one as soon as it holds the root.
    // `certificateFile` is the root's PEM. False when any failed (with
    // kErrorCertutil); the others stay added. One line per database in
    // `report`.
    bool install(const CertificateAuthority& root, const std::string& certificateFile,
                 const std::vector<NssDatabase>& plan, std::vector<std::string>& report);

    // The journal: what removal will take away (folder, nickname).
    std::vector<std::pair<std::string, std::string>> installed() const;
    // Removes each journalled certificate and its journal entry, and deletes
    // the databases install made (unless something else was put in them
    // since); a database that has gone (a deleted profile) only loses its
    // entry. False when any could not be removed (its entry stays for the
    // next try).
    bool remove(std::vector<std::string>& report);

private:
    enum class Holding { No, Ours, OtherName, Unknown };
    // Whether `folder` holds the root, and under which nickname.
    Holding holding(const std::string& folder, const CertificateAuthority& root,
                    std::string& otherName) const;
    bool holds(const std::string& folder, const std::string& nickname) const;
    // Deletes a database install made, when it holds nothing but what certutil
    // made, and the folders made with it. False when something else is there.
    bool deleteCreated(const std::string& folder, const std::string& top) const;

    SettingsFile& journal_;
    std::string home_;
};
