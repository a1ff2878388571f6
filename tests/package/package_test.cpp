// The Debian package made from this build tree, as a user gets it: built with
// cpack, unpacked into a scratch root, its contents checked and validated, and
// its programs run.
#include "resources/Version.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Package : public ::testing::Test {
protected:
    // One package for every test of the file: building it is the slow part.
    static void SetUpTestSuite() {
        scratch_ = new TempFolder;
        const std::string out = scratch_->path() + "/out";
        build_ = new ProgramResult(runProgram(
            {TIDEWELL_CPACK, "--config", TIDEWELL_BINARY_DIR "/CPackConfig.cmake", "-B", out}));
        const std::string architecture =
            trimmed(runProgram({"dpkg", "--print-architecture"}).output);
        file_ = out + "/tidewell_" + programVersion() + "_" + architecture + ".deb";
        root_ = scratch_->path() + "/root";
        if (fs::exists(file_))
            runProgram({"dpkg-deb", "-x", file_, root_});
    }
    static void TearDownTestSuite() {
        delete build_;
        delete scratch_;
    }
    void SetUp() override {
        ASSERT_EQ(build_->exitCode, 0) << build_->output << build_->errors;
        ASSERT_TRUE(fs::exists(file_)) << "no " << file_ << "\n" << build_->output;
        ASSERT_TRUE(fs::is_directory(root_ + "/usr"));
    }

    static std::string field(const std::string& name) {
        return trimmed(runProgram({"dpkg-deb", "-f", file_, name}).output);
    }

    static TempFolder* scratch_;
    static ProgramResult* build_;
    static std::string file_;
    static std::string root_;
};

TempFolder* Package::scratch_ = nullptr;
ProgramResult* Package::build_ = nullptr;
std::string Package::file_;
std::string Package::root_;

} // namespace

TEST_F(Package, HoldsBothProgramsStrippedAndTheirFiles) {
    const char* const files[] = {
        "usr/bin/tidewell",
        "usr/bin/tidewell-capture",
        "usr/share/applications/tidewell.desktop",
        "usr/share/metainfo/com.merovex.Tidewell.metainfo.xml",
        "usr/share/icons/hicolor/scalable/apps/tidewell.svg",
        "usr/share/icons/hicolor/16x16/apps/tidewell.png",
        "usr/share/icons/hicolor/48x48/apps/tidewell.png",
        "usr/share/icons/hicolor/256x256/apps/tidewell.png",
        "usr/share/man/man1/tidewell.1.gz",
        "usr/share/man/man1/tidewell-capture.1.gz",
        "usr/share/bash-completion/completions/tidewell-capture",
        "usr/share/tidewell/scintilla_style.xml",
    };
    for (const char* file : files)
        EXPECT_TRUE(fs::is_regular_file(root_ + "/" + file)) << file;

    // The two programs and nothing else of the build (no tests, no benchmarks).
    std::vector<std::string> programs;
    for (const auto& entry : fs::directory_iterator(root_ + "/usr/bin"))
        programs.push_back(entry.path().filename().string());
    std::sort(programs.begin(), programs.end());
    EXPECT_EQ(programs, (std::vector<std::string>{"tidewell", "tidewell-capture"}));
    for (const std::string& program : programs) {
        const std::string path = root_ + "/usr/bin/" + program;
        const std::string kind = runProgram({"file", "-b", path}).output;
        EXPECT_TRUE(contains(kind, "ELF") && contains(kind, ", stripped"))
            << program << ": " << kind;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u) << program;
    }
}

TEST_F(Package, NamesItsVersionAndWhatItNeeds) {
    EXPECT_EQ(field("Package"), "tidewell");
    EXPECT_EQ(field("Version"), programVersion());
    const std::string depends = field("Depends");
    // Computed from the binaries, and the programs and data called at run time.
    for (const char* needed : {"libqt6widgets6", "libqscintilla2-qt6", "libfreeimage3", "libssl3",
                               "libglib2.0-0", "libnss3-tools", "gsettings-desktop-schemas",
                               "qt6-translations-l10n", "fonts-noto-cjk", "qt6-qpa-plugins"})
        EXPECT_TRUE(contains(depends, needed)) << needed << " missing from: " << depends;
}

TEST_F(Package, PassesTheDesktopAndSoftwareCentreValidators) {
    ProgramResult desktop =
        runProgram({"desktop-file-validate", root_ + "/usr/share/applications/tidewell.desktop"});
    EXPECT_EQ(desktop.exitCode, 0) << desktop.output << desktop.errors;
    // Not even a hint.
    EXPECT_EQ(desktop.output + desktop.errors, "");

    const std::string metainfo = root_ + "/usr/share/metainfo/com.merovex.Tidewell.metainfo.xml";
    ProgramResult appstream = runProgram({"appstreamcli", "validate", "--no-net", metainfo});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.output << appstream.errors;
    EXPECT_FALSE(contains(appstream.output, "W:") || contains(appstream.output, "E:"))
        << appstream.output;
    // Name, summary and description in both languages, and this version.
    const std::string text = runProgram({"cat", metainfo}).output;
    for (const char* part : {"<name>", "<name xml:lang=\"zh-CN\">", "<summary>",
                             "<summary xml:lang=\"zh-CN\">", "<p xml:lang=\"zh-CN\">"})
        EXPECT_TRUE(contains(text, part)) << part;
    EXPECT_TRUE(contains(text, std::string("version=\"") + programVersion() + "\""));
}

TEST_F(Package, ManualPagesAndCompletionWork) {
    for (const char* page : {"tidewell", "tidewell-capture"}) {
        const std::string path = root_ + "/usr/share/man/man1/" + page + ".1.gz";
        const ProgramResult render =
            runProgram({"sh", "-c", "zcat \"$0\" | groff -man -ww -z -Tutf8", path});
        EXPECT_EQ(render.exitCode, 0) << page;
        EXPECT_EQ(render.errors, "") << page;
        EXPECT_TRUE(contains(runProgram({"zcat", path}).output, programVersion())) << page;
    }
    const ProgramResult completion =
        runProgram({"bash", "-c",
                    "source \"$0\" && COMP_WORDS=(tidewell-capture --https d) COMP_CWORD=2 && "
                    "_tidewell_capture && echo \"${COMPREPLY[*]}\"",
                    root_ + "/usr/share/bash-completion/completions/tidewell-capture"});
    EXPECT_EQ(completion.output, "decrypt\n") << completion.errors;
}

TEST_F(Package, TheUnpackedProgramsRunAndTellTheirVersion) {
    for (const char* program : {"tidewell", "tidewell-capture"}) {
        const ProgramResult run = runProgram({root_ + "/usr/bin/" + program, "--version"});
        EXPECT_EQ(run.exitCode, 0) << program << run.errors;
        EXPECT_EQ(run.output, std::string(program) + " " + programVersion() + "\n");
    }
}
