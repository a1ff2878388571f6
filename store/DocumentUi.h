// What the capture document needs from the application around it: questions,
// message boxes, the status text, and the per-user settings store.
#pragma once

#include "engine/Platform.h"

#include <cstdint>
#include <string>

// Called on the user-interface thread only.
class DocumentUi {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~DocumentUi() = default;
    // OK and Cancel buttons, information icon; true for OK.
    virtual bool askOkCancel(const std::string& text) = 0;
    // Yes, No and Cancel buttons, information icon.
    virtual Answer askYesNoCancel(const std::string& text) = 0;
    // A message box with an OK button and no icon.
    virtual void showMessage(const std::string& text) = 0;
    // The first element of the status bar, redrawn at once.
    virtual void setStatusText(const std::string& text) = 0;
    // Captures are not being stored, and why; once per start of capturing.
    virtual void showStorageProblem(const std::string& text) { setStatusText(text); }
    // What the start found in the cache folder and left alone (a read-only
    // folder, files that could not be read); the folder is named.
    virtual void showFolderNote(const std::string& text) { setStatusText(text); }
    // A program of another user tried to use the proxy; once per start of
    // capturing.
    virtual void showUserRefused(const std::string& text) { showMessage(text); }

    void showError(std::uint32_t code) { showMessage(errorText(code)); }
    void showLastError() { showError(lastError()); }
};

// Integer values of the application's settings, by section and name.
class DocumentSettings {
public:
    virtual ~DocumentSettings() = default;
    virtual int readInt(const std::string& section, const std::string& name, int defaultValue) = 0;
    virtual void writeInt(const std::string& section, const std::string& name, int value) = 0;
};
