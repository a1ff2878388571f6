#include "ui/browser/Export.h"

#include "engine/FileStream.h"
#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "resources/Version.h"
#include "store/HarWriter.h"
#include "store/HttpResource.h"
#include "ui/browser/ListTreeAdaptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The string-table text `id` with each "%s" replaced by the next argument; the arguments are
// not scanned again, so a '%' in a resource name stays as it is.
std::string fillIn(unsigned id, std::initializer_list<std::string> arguments) {
    const std::string pattern = loadString(id);
    std::string text;
    auto next = arguments.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
            next != arguments.end()) {
            text += *next++;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

// Exported files are the user's own documents: they get the permissions the user's umask gives
// new files, not the owner-only ones of the temporary file they were written through. The
// umask is read from /proc, as setting it to learn it would race other threads creating files.
mode_t documentMode() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return 0666 & ~mask;
}

bool writeBody(HttpResource& resource, const std::string& path, bool decode) {
    if (!resource.exportBody(path, decode))
        return false;
    ::chmod(path.c_str(), documentMode());
    return true;
}

// An existing folder is fine; an existing file of that name is not.
bool makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    if (errno != EEXIST) {
        setLastErrorFromErrno();
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    setLastError(ENOTDIR);
    return false;
}

// Message 166 for a batch (with Cancel); Cancel becomes a stop, Yes a retry without decoding.
// Returns false to stop, true to go on with `error` as the outcome (0 after a good retry).
template <typename Retry>
bool offerUndecoded(HttpResource& resource, ExportUi& ui, std::uint32_t& error, Retry retry) {
    if (error != kErrorCodingUnsupported)
        return true;
    switch (ui.ask(fillIn(166, {resource.name}), ExportUi::Icon::Information, true)) {
    case ExportUi::Answer::Cancel:
        return false;
    case ExportUi::Answer::Yes:
        error = retry() ? 0 : lastError();
        return true;
    case ExportUi::Answer::No:
        return true;
    }
    return true;
}

bool askContinue(HttpResource& resource, ExportUi& ui, std::uint32_t error) {
    return ui.ask(fillIn(167, {resource.name, errorText(error)}), ExportUi::Icon::Question,
                  false) == ExportUi::Answer::Yes;
}

// 10727 as "10,727", as the list's count is read.
std::string countText(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

void tellWritten(ExportUi& ui, std::size_t written, const std::string& where) {
    ui.showStatus(written == 1 ? fillIn(IDS_EXPORTED_ONE, {where})
                               : fillIn(IDS_EXPORTED_MANY, {countText(written), where}));
}

class BusyScope {
public:
    explicit BusyScope(ExportUi& ui) : ui_(ui) { ui_.setBusy(true); }
    ~BusyScope() { ui_.setBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    ExportUi& ui_;
};

} // namespace

void ExportUi::showError(std::uint32_t code) {
    showMessage(errorText(code));
}

void ExportUi::showPathError(unsigned textId, const std::string& path, std::uint32_t code) {
    // Our own codes are about the resource (not ready, a coding we cannot
    // undo), not about the file: those are said as they are.
    if ((code & customError(0)) == customError(0))
        showMessage(errorText(code));
    else
        showMessage(pathErrorText(textId, path, code));
}

bool ExportResourceFile(HttpResource& resource, const std::string& path, ExportUi& ui,
                        std::size_t* written) {
    std::uint32_t error = 0;
    if (!writeBody(resource, path, true)) {
        error = lastError();
        if (!offerUndecoded(resource, ui, error, [&] { return writeBody(resource, path, false); }))
            return false;
    }
    if (error == 0 && written)
        ++*written;
    return error == 0 || askContinue(resource, ui, error);
}

bool AppendResourceBody(HttpResource& resource, OutputStream& stream, ExportUi& ui,
                        std::size_t* written) {
    const std::int64_t start = stream.position();
    // A merged file holds whole bodies only: what a failed attempt wrote is dropped.
    auto attempt = [&](bool decode) {
        if (resource.copyBody(stream, decode))
            return true;
        const std::uint32_t error = lastError();
        if (start >= 0)
            stream.seek(start);
        setLastError(error);
        return false;
    };
    std::uint32_t error = 0;
    if (!attempt(true)) {
        error = lastError();
        if (!offerUndecoded(resource, ui, error, [&] { return attempt(false); }))
            return false;
    }
    if (error == 0 && written)
        ++*written;
    return error == 0 || askContinue(resource, ui, error);
}

std::string exportFolderName(const std::string& text) {
    std::string name = exportNameOf(text);
    if (name.empty() || name == "." || name == "..")
        name.replace(0, name.size(), std::max<std::size_t>(name.size(), 1), '_');
    return name;
}

ResourceExport::ResourceExport(ListTreeCore& tree, ListTreeAdaptor& adaptor, ResourceOf resourceOf,
                               ExportUi& ui)
    : tree_(tree), adaptor_(adaptor), resourceOf_(std::move(resourceOf)), ui_(ui) {}

std::vector<HttpResource*> ResourceExport::checkedResources() const {
    std::vector<HttpResource*> resources;
    for (ListTreeItem item = tree_.rootItem(); item; item = tree_.NextInPreorder(item)) {
        if (tree_.checkState(item) != Checked)
            continue;
        if (HttpResource* resource = resourceOf_(tree_.itemData(item)))
            resources.push_back(resource);
    }
    return resources;
}

std::vector<HttpResource*> ResourceExport::selectedResources() const {
    std::vector<HttpResource*> resources;
    for (ListTreeItem item : tree_.selection())
        if (HttpResource* resource = resourceOf_(tree_.itemData(item)))
            resources.push_back(resource);
    return resources;
}

std::vector<HttpResource*> ResourceExport::allResources() const {
    std::vector<HttpResource*> resources;
    for (ListTreeItem item = tree_.rootItem(); item; item = tree_.NextInPreorder(item))
        if (HttpResource* resource = resourceOf_(tree_.itemData(item)))
            resources.push_back(resource);
    return resources;
}

std::vector<HttpResource*> ResourceExport::shownResources() const {
    std::vector<HttpResource*> resources;
    for (ListTreeItem item = tree_.rootItem(); item; item = tree_.NextInPreorder(item)) {
        if (tree_.isItemDimmed(item))
            continue;
        bool hidden = false;
        for (ListTreeItem up = item; up && !hidden; up = tree_.parentItem(up))
            hidden = tree_.isItemHidden(up);
        if (hidden)
            continue;
        if (HttpResource* resource = resourceOf_(tree_.itemData(item)))
            resources.push_back(resource);
    }
    return resources;
}

bool ResourceExport::resourcesToExport(std::vector<HttpResource*>& resources) {
    resources = checkedResources();
    if (!resources.empty())
        return true;
    std::vector<HttpResource*> all = allResources();
    std::vector<HttpResource*> shown = shownResources();
    if (shown.size() == all.size()) {
        resources = std::move(all);
        return true;
    }
    switch (ui_.choose(loadString(IDS_EXPORT_WHICH_ROWS),
                       fillIn(IDS_EXPORT_SHOWN_ROWS, {countText(shown.size())}),
                       fillIn(IDS_EXPORT_ALL_ROWS, {countText(all.size())}))) {
    case ExportUi::Answer::Yes:
        resources = std::move(shown);
        return true;
    case ExportUi::Answer::No:
        resources = std::move(all);
        return true;
    case ExportUi::Answer::Cancel:
        break;
    }
    return false;
}

std::string ResourceExport::rowName(ListTreeItem row) const {
    return exportFolderName(adaptor_.GetItemText(tree_.itemData(row), 0));
}

void ResourceExport::exportChecked() {
    std::vector<HttpResource*> resources;
    if (!resourcesToExport(resources) || resources.empty())
        return;
    std::string folder;
    if (!ui_.chooseFolder(folder))
        return;
    exportIntoFolder(resources, folder);
}

void ResourceExport::exportSelected() {
    std::string folder;
    if (!ui_.chooseFolder(folder))
        return;
    exportIntoFolder(selectedResources(), folder);
}

void ResourceExport::exportIntoFolder(const std::vector<HttpResource*>& resources,
                                      const std::string& folder) {
    // A folder that cannot take files is said once, by name, rather than once per resource.
    if (!resources.empty() && ::access(folder.c_str(), W_OK | X_OK) != 0) {
        setLastErrorFromErrno();
        ui_.showPathError(IDS_FOLDER_UNUSABLE, folder, lastError());
        return;
    }
    std::size_t written = 0;
    for (HttpResource* resource : resources)
        if (!ExportResourceFile(*resource, resource->uniqueExportPath(folder), ui_, &written))
            break;
    if (!resources.empty())
        tellWritten(ui_, written, folder);
}

void ResourceExport::mergeExportChecked() {
    mergeExport(true);
}

void ResourceExport::mergeExportSelected() {
    mergeExport(false);
}

void ResourceExport::mergeExport(bool checked) {
    std::vector<HttpResource*> resources;
    if (!checked)
        resources = selectedResources();
    else if (!resourcesToExport(resources) || resources.empty())
        return;
    std::string path;
    if (!ui_.chooseSaveFile(std::string(), path))
        return;
    mergeIntoFile(std::move(resources), path);
}

void ResourceExport::mergeIntoFile(std::vector<HttpResource*> resources, const std::string& path) {
    if (resources.empty())
        return;
    std::stable_sort(resources.begin(), resources.end(),
                     [](const HttpResource* a, const HttpResource* b) { return a->id < b->id; });
    // Created here with the user's usual permissions, then written through a FileStream.
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setLastErrorFromErrno();
        ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, lastError());
        return;
    }
    ::close(fd);
    std::int64_t end = -1;
    std::int64_t size = -1;
    std::size_t written = 0;
    {
        FileStream file;
        if (!file.open(path, FileStream::OpenWrite)) {
            ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, lastError());
            return;
        }
        for (HttpResource* resource : resources)
            if (!AppendResourceBody(*resource, file, ui_, &written))
                break;
        end = file.position();
        size = file.size();
    }
    // A body dropped at the end leaves its bytes past the final position.
    if (end >= 0 && end < size && ::truncate(path.c_str(), end) != 0) {
        setLastErrorFromErrno();
        ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, lastError());
        return;
    }
    tellWritten(ui_, written, path);
}

void ResourceExport::exportResource(HttpResource& resource) {
    std::string path;
    if (!ui_.chooseSaveFile(resource.suggestedFileName(), path))
        return;
    if (writeBody(resource, path, true)) {
        tellWritten(ui_, 1, path);
        return;
    }
    const std::uint32_t error = lastError();
    if (error != kErrorCodingUnsupported) {
        ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, error);
        return;
    }
    if (ui_.ask(fillIn(166, {resource.name}), ExportUi::Icon::Information, false) !=
        ExportUi::Answer::Yes)
        return;
    if (writeBody(resource, path, false))
        tellWritten(ui_, 1, path);
    else
        ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, lastError());
}

void ResourceExport::exportFolder(ListTreeItem row) {
    std::string folder;
    if (!ui_.chooseSaveFile(rowName(row), folder))
        return;
    exportTree(row, folder);
}

void ResourceExport::exportTree(ListTreeItem row, const std::string& folder) {
    // The rows below `row` as the user saw them when choosing: questions asked on the way let
    // queued document events add rows meanwhile. A step's depth counts from `row`'s children
    // (1); a folder step has no resource.
    struct Step {
        int depth;
        std::string name;
        HttpResource* resource;
    };
    std::vector<Step> steps;
    int depth = 1;
    for (ListTreeItem item = tree_.childItem(row); item;) {
        HttpResource* resource = resourceOf_(tree_.itemData(item));
        steps.push_back({depth, resource ? std::string() : rowName(item), resource});
        if (ListTreeItem child = tree_.childItem(item)) {
            item = child;
            ++depth;
            continue;
        }
        while (item != row && !tree_.nextSibling(item)) {
            item = tree_.parentItem(item);
            --depth;
        }
        item = item == row ? nullptr : tree_.nextSibling(item);
    }

    if (!makeFolder(folder)) {
        ui_.showPathError(IDS_FOLDER_NOT_CREATED, folder, lastError());
        return;
    }
    BusyScope busy(ui_);
    // ends[d] is the length of the folder path that rows of depth d + 1 go into; a resource row
    // passes its own folder on to rows below it.
    std::string current = folder;
    std::vector<std::size_t> ends{current.size()};
    for (const Step& step : steps) {
        ends.resize(static_cast<std::size_t>(step.depth));
        current.resize(ends.back());
        if (step.resource) {
            if (!ExportResourceFile(*step.resource, step.resource->uniqueExportPath(current), ui_))
                return;
        } else {
            current += '/';
            current += step.name;
            if (!makeFolder(current)) {
                ui_.showPathError(IDS_FOLDER_NOT_CREATED, current, lastError());
                return;
            }
        }
        ends.push_back(current.size());
    }
}

void ResourceExport::exportHarChecked() {
    exportHar(true);
}

void ResourceExport::exportHarSelected() {
    exportHar(false);
}

void ResourceExport::exportHar(bool checked) {
    std::vector<HttpResource*> resources;
    if (!checked)
        resources = selectedResources();
    else if (!resourcesToExport(resources) || resources.empty())
        return;
    std::string path;
    if (!ui_.chooseSaveFile(loadString(IDS_HAR_FILE_NAME), path))
        return;
    harIntoFile(std::move(resources), path);
}

void ResourceExport::harIntoFile(std::vector<HttpResource*> resources, const std::string& path) {
    if (resources.empty())
        return;
    // Readers prefer entries in the order the exchanges started.
    std::stable_sort(resources.begin(), resources.end(),
                     [](const HttpResource* a, const HttpResource* b) { return a->id < b->id; });
    std::size_t skipped = 0;
    bool written;
    {
        BusyScope busy(ui_);
        written = writeHarFile(path, resources, programVersion(), &skipped);
    }
    if (!written) {
        ui_.showPathError(IDS_FILE_NOT_WRITTEN, path, lastError());
        return;
    }
    if (skipped) {
        char text[512];
        std::snprintf(text, sizeof text, loadString(IDS_HAR_LEFT_OUT), static_cast<int>(skipped));
        ui_.showMessage(text);
    }
    tellWritten(ui_, resources.size() - std::min(skipped, resources.size()), path);
}
