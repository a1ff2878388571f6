// Set-up shared by the capture benchmarks: what a Document needs around it,
// and a private data home for its cache folder, removed at the end.
#pragma once

#include "store/Document.h"
#include "tests/support/DocumentStandIns.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// Answers every question and prints what the user would be shown: a run that
// met a message has measured something else.
struct BenchUi : DocumentUi {
    bool askOkCancel(const std::string&) override { return true; }
    Answer askYesNoCancel(const std::string&) override { return Answer::No; }
    void showMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void setStatusText(const std::string&) override {}
};

// A fresh XDG_DATA_HOME below /tmp for the lifetime of the run.
class BenchDataHome {
public:
    BenchDataHome() {
        char pattern[] = "/tmp/tidewell-bench.XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern;
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
    }
    ~BenchDataHome() { std::filesystem::remove_all(path_); }
    BenchDataHome(const BenchDataHome&) = delete;
    BenchDataHome& operator=(const BenchDataHome&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
