#include "ui/browser/ExportCommands.h"

#include "engine/PathErrorText.h"
#include "resources/StringTable.h"
#include "store/CurlCommand.h"
#include "ui/browser/Export.h"
#include "ui/browser/ExportDialogs.h"
#include "ui/browser/ResourceListView.h"

namespace {

const char* const kObjectName = "ExportCommands";

} // namespace

ExportCommands::ExportCommands(ResourceListView& view) : QObject(&view), view_(view) {
    setObjectName(QString::fromLatin1(kObjectName));
    connect(&view, &ResourceListView::exportRequested, this, &ExportCommands::onExportRequested);
}

ExportCommands* ExportCommands::attach(ResourceListView& view) {
    if (auto* existing = view.findChild<ExportCommands*>(QString::fromLatin1(kObjectName),
                                                         Qt::FindDirectChildrenOnly))
        return existing;
    return new ExportCommands(view);
}

HttpResource* ExportCommands::resourceOf(std::uintptr_t data) {
    const ResourceListItem* item = ResourceListItem::of(data);
    return item && item->kind == ResourceListItem::ResourceItem ? item->resource : nullptr;
}

void ExportCommands::run(ResourceListView& view, int commandId, ListTreeItem row, ExportUi& ui) {
    ResourceExport exporter(*view.tree(), view.adaptor(), &ExportCommands::resourceOf, ui);
    switch (commandId) {
    case ID_RESOURCES_EXPORT:
        exporter.exportChecked();
        break;
    case ID_RESOURCES_MERGE_EXPORT:
        exporter.mergeExportChecked();
        break;
    case ID_EXPORT_RESOURCE:
        if (HttpResource* resource = row ? resourceOf(row->data) : nullptr)
            exporter.exportResource(*resource);
        break;
    case ID_EXPORT_SELECTED:
        exporter.exportSelected();
        break;
    case ID_MERGE_EXPORT_SELECTED:
        exporter.mergeExportSelected();
        break;
    case ID_EXPORT_FOLDER:
        if (row && !resourceOf(row->data))
            exporter.exportFolder(row);
        break;
    case ID_RESOURCES_EXPORT_HAR:
        exporter.exportHarChecked();
        break;
    case ID_EXPORT_HAR_SELECTED:
        exporter.exportHarSelected();
        break;
    case ID_COPY_AS_CURL:
        if (HttpResource* resource = row ? resourceOf(row->data) : nullptr)
            copyAsCurl(view, *resource, ui);
        break;
    default:
        break;
    }
}

void ExportCommands::copyAsCurl(ResourceListView& view, HttpResource& resource, ExportUi& ui) {
    std::string folder;
    CurlCommand command;
    if (!curlBodyFolder(folder)) {
        if (folder.empty())
            ui.showError(lastError());
        else
            ui.showPathError(IDS_FOLDER_UNUSABLE, folder, lastError());
        return;
    }
    if (!buildCurlCommand(resource, folder, command)) {
        if (command.unwrittenFile.empty())
            ui.showError(lastError());
        else
            ui.showPathError(IDS_FILE_NOT_WRITTEN, command.unwrittenFile, lastError());
        return;
    }
    view.copyToClipboard(QString::fromStdString(command.text));
}

void ExportCommands::onExportRequested(int commandId, ListTreeItem row) {
    ExportDialogs dialogs(&view_);
    run(view_, commandId, row, dialogs);
}
