#include "cli/CertificateCommands.h"

#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "sysproxy/SettingsFile.h"
#include "tls/CertificateAuthority.h"
#include "tls/TrustStore.h"
#include "tls/UserFiles.h"

#include <unistd.h>
#include <vector>

namespace {

void printReport(const std::vector<std::string>& report) {
    for (const std::string& line : report)
        std::printf("  %s\n", line.c_str());
}

} // namespace

bool loadRootCertificate(CertificateAuthority& root, std::string& certificateFile) {
    std::string folder;
    if (!CertificateAuthority::findFolder(folder) || !root.loadOrCreate(folder)) {
        std::fprintf(stderr, "tidewell-capture: %s\n",
                     pathErrorText(IDS_ROOT_FOLDER_UNUSABLE, folder, lastError()).c_str());
        return false;
    }
    certificateFile = folder + CertificateAuthority::kCertificateFile;
    return true;
}

int installRootCertificate(bool assumeYes, std::FILE* answers) {
    CertificateAuthority root;
    std::string certificateFile;
    if (!loadRootCertificate(root, certificateFile))
        return 1;
    SettingsFile settings;
    TrustStore store(settings);
    std::vector<std::string> notes;
    const std::vector<NssDatabase> plan = store.planInstall(root, &notes);
    if (!notes.empty()) {
        std::printf("Left as they are:\n");
        printReport(notes);
    }
    if (plan.empty()) {
        std::printf("Every certificate database of your browsers already trusts the root "
                    "certificate (or there is none to change).\n");
        return 0;
    }
    std::printf("The root certificate\n  %s\n  SHA-256 %s\nwill be trusted for websites in:\n",
                root.subjectText().c_str(), root.fingerprint().c_str());
    for (const NssDatabase& db : plan) {
        const std::string owner =
            db.profile.empty() ? db.browser : db.browser + " profile \"" + db.profile + "\"";
        std::printf("  %s: %s%s\n", owner.c_str(), db.folder.c_str(),
                    db.exists ? "" : " (new database)");
    }
    std::printf("Browsers that are running see it once restarted. `tidewell-capture "
                "--remove-ca` takes it away again.\n");
    if (!assumeYes) {
        std::printf("Proceed? [y/N] ");
        std::fflush(stdout);
        char line[64] = {};
        if (!answers || !std::fgets(line, sizeof line, answers) ||
            (line[0] != 'y' && line[0] != 'Y')) {
            std::printf("\nNothing was changed.\n");
            return 1;
        }
        if (!isatty(fileno(answers)))
            std::printf("%s", line); // the answer, as a terminal would have shown it
    }
    std::vector<std::string> report;
    const bool done = store.install(root, certificateFile, plan, report);
    std::printf(done ? "Installed in:\n" : "Not every database could be changed:\n");
    printReport(report);
    return done ? 0 : 1;
}

int removeRootCertificate() {
    SettingsFile settings;
    TrustStore store(settings);
    if (store.installed().empty()) {
        std::printf("No certificate database holds a root certificate added by Tidewell.\n");
        return 0;
    }
    std::vector<std::string> report;
    const bool done = store.remove(report);
    std::printf(done ? "Removed from:\n" : "Not every database could be changed:\n");
    printReport(report);
    return done ? 0 : 1;
}

int exportRootCertificate(const std::string& file) {
    CertificateAuthority root;
    std::string certificateFile;
    if (!loadRootCertificate(root, certificateFile))
        return 1;
    // The certificate is public; its key never leaves the data folder.
    if (file == "-") {
        std::fputs(root.certificatePem().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!writeWholeFile(file, root.certificatePem(), 0644)) {
        std::fprintf(stderr, "tidewell-capture: %s\n",
                     pathErrorText(IDS_FILE_NOT_WRITTEN, file, lastError()).c_str());
        return 1;
    }
    std::printf("Root certificate written to %s (SHA-256 %s)\n", file.c_str(),
                root.fingerprint().c_str());
    return 0;
}
