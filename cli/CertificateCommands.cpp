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
        std::fprintf(
            stderr, "tidewell-capture: %s\n",
            formatString(IDS_CLI_ROOT_IN, folder.c_str(), errorText(lastError()).c_str()).c_str());
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
        std::printf("%s\n", loadString(IDS_CLI_LEFT_ALONE));
        printReport(notes);
    }
    if (plan.empty()) {
        std::printf("%s\n", loadString(IDS_HTTPS_NOTHING_TO_INSTALL));
        return 0;
    }
    std::printf("%s\n", formatString(IDS_CLI_WILL_TRUST, root.subjectText().c_str(),
                                     root.fingerprint().c_str())
                            .c_str());
    for (const NssDatabase& db : plan) {
        const std::string owner =
            db.profile.empty()
                ? db.browser
                : formatString(IDS_CLI_PROFILE, db.browser.c_str(), db.profile.c_str());
        std::printf("  %s: %s%s\n", owner.c_str(), db.folder.c_str(),
                    db.exists ? "" : loadString(IDS_CLI_NEW_DATABASE));
    }
    std::printf("%s\n", loadString(IDS_CLI_RESTART_BROWSERS));
    if (!assumeYes) {
        std::printf("%s", loadString(IDS_CLI_PROCEED));
        std::fflush(stdout);
        char line[64] = {};
        if (!answers || !std::fgets(line, sizeof line, answers) ||
            (line[0] != 'y' && line[0] != 'Y')) {
            std::printf("\n%s\n", loadString(IDS_CLI_NOTHING_CHANGED));
            return 1;
        }
        if (!isatty(fileno(answers)))
            std::printf("%s", line); // the answer, as a terminal would have shown it
    }
    std::vector<std::string> report;
    const bool done = store.install(root, certificateFile, plan, report);
    std::printf("%s\n", loadString(done ? IDS_CLI_INSTALLED_IN : IDS_CLI_NOT_EVERY_DATABASE));
    printReport(report);
    return done ? 0 : 1;
}

int removeRootCertificate() {
    SettingsFile settings;
    TrustStore store(settings);
    if (store.installed().empty()) {
        std::printf("%s\n", loadString(IDS_CLI_NOTHING_TO_REMOVE));
        return 0;
    }
    std::vector<std::string> report;
    const bool done = store.remove(report);
    std::printf("%s\n", loadString(done ? IDS_CLI_REMOVED_FROM : IDS_CLI_NOT_EVERY_DATABASE));
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
    std::printf(
        "%s\n",
        formatString(IDS_CLI_ROOT_WRITTEN, file.c_str(), root.fingerprint().c_str()).c_str());
    return 0;
}
