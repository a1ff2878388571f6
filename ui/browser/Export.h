// Export of captured response bodies to the user's files: one resource to a file, several into a
// folder one file each or merged into one file, and a folder or group row as a tree of folders.
#pragma once

#include "ui/browser/ListTreeCore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class HttpResource;
class ListTreeAdaptor;
class OutputStream;

// The dialogs and questions an export needs. The procedures below talk only to this, so they run
// without a screen; ExportDialogs is the real one. Texts are UTF-8 and complete; paths are file
// system paths.
class ExportUi {
public:
    enum class Answer { Yes, No, Cancel };
    enum class Icon { None, Information, Question };

    virtual ~ExportUi() = default;
    // The folder picker; false when cancelled.
    virtual bool chooseFolder(std::string& folder) = 0;
    // A save-file dialog that asks before overwriting; `defaultName` may be empty. False when
    // cancelled.
    virtual bool chooseSaveFile(const std::string& defaultName, std::string& path) = 0;
    // Yes and No buttons, and Cancel when `withCancel`.
    virtual Answer ask(const std::string& text, Icon icon, bool withCancel) = 0;
    // A choice between two named things: Yes for the first, No for the second, or Cancel.
    virtual Answer choose(const std::string& text, const std::string& first,
                          const std::string& second) = 0;
    // A short note of what was done, where it does not hold up the user (the status bar).
    virtual void showStatus(const std::string& text) { (void)text; }
    // An OK button and no icon.
    virtual void showMessage(const std::string& text) = 0;
    // The wait cursor, from the start of a long walk to its end.
    virtual void setBusy(bool busy) { (void)busy; }

    void showError(std::uint32_t code);
    // The error naming the file or folder it is about (string `textId`: path, reason).
    void showPathError(unsigned textId, const std::string& path, std::uint32_t code);
};

// Writes the body of `resource` into a new file at `path`, decoded; offers the raw body when its
// coding is not supported and asks whether to go on after a failure. Returns false when the
// user chose to stop further resources; `written` counts the body when it was written.
bool ExportResourceFile(HttpResource& resource, const std::string& path, ExportUi& ui,
                        std::size_t* written = nullptr);
// The same for a body appended to `stream`. A failed attempt leaves nothing behind: the stream
// goes back to where this body began (the merge cuts the file at the final position).
bool AppendResourceBody(HttpResource& resource, OutputStream& stream, ExportUi& ui,
                        std::size_t* written = nullptr);

// `text` of a list row made usable as one file name (exportNameOf: the nine characters file names
// may not hold become "_", controls and bidirectional controls are left out); the dots of "." and
// ".." (which would leave the folder) become "_" too.
std::string exportFolderName(const std::string& text);

// The export commands of the resource list, over its list-tree rows. A row stands for a
// resource when `resourceOf` of its item data gives one; other rows are folders or groups whose
// column-0 text comes from the adaptor.
class ResourceExport {
public:
    using ResourceOf = std::function<HttpResource*(std::uintptr_t data)>;

    ResourceExport(ListTreeCore& tree, ListTreeAdaptor& adaptor, ResourceOf resourceOf,
                   ExportUi& ui);

    // The ribbon's exports take the checked rows; with none checked, the rows the filter shows or
    // all of them, as the user chooses when the filter hides some.
    // Ribbon "导出": those resources, in pre-order, into a chosen folder.
    void exportChecked();
    // Ribbon "合并导出": those resources merged into one file in ascending id.
    void mergeExportChecked();
    // Context "导出" on one resource: to a file the user names.
    void exportResource(HttpResource& resource);
    // Context "导出" on several rows: the selected resources, in selection order, into a folder.
    void exportSelected();
    // Context "合并导出" on several rows: the selected resources merged in ascending id.
    void mergeExportSelected();
    // Context "导出目录" on a folder or group row: its subtree as a new folder tree.
    void exportFolder(ListTreeItem row);
    // Ribbon "导出HAR": those resources as one HAR file in ascending id.
    void exportHarChecked();
    // Context "导出为HAR": the selected resources as one HAR file in ascending id.
    void exportHarSelected();

    // Resources of the rows whose box is Checked (not Mixed), in pre-order.
    std::vector<HttpResource*> checkedResources() const;
    // Resources of the selected rows, in selection order.
    std::vector<HttpResource*> selectedResources() const;
    // Resources of every row, in pre-order.
    std::vector<HttpResource*> allResources() const;
    // Resources of the rows the filter shows and matches (neither hidden nor dimmed), in
    // pre-order.
    std::vector<HttpResource*> shownResources() const;
    // What the ribbon's exports take (see above); false when the user cancelled.
    bool resourcesToExport(std::vector<HttpResource*>& resources);

    // The steps below the chosen folder, without dialogs; each ends with a status note of how
    // many it wrote and where.
    void exportIntoFolder(const std::vector<HttpResource*>& resources, const std::string& folder);
    void mergeIntoFile(std::vector<HttpResource*> resources, const std::string& path);
    void exportTree(ListTreeItem row, const std::string& folder);
    // Nothing is written for no resources; resources that cannot be read are left out and
    // counted in a message.
    void harIntoFile(std::vector<HttpResource*> resources, const std::string& path);

private:
    void mergeExport(bool checked);
    void exportHar(bool checked);
    std::string rowName(ListTreeItem row) const;

    ListTreeCore& tree_;
    ListTreeAdaptor& adaptor_;
    ResourceOf resourceOf_;
    ExportUi& ui_;
};
