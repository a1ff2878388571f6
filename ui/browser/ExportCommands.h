// The export commands of the resource list view carried out on its rows: the view asks for them
// through its exportRequested signal.
#pragma once

#include "ui/browser/ListTreeCore.h"

#include <QObject>

#include <cstdint>

class ExportUi;
class HttpResource;
class ResourceListView;

class ExportCommands : public QObject {
    Q_OBJECT
public:
    // Connects the view's export commands to the real dialogs; the application calls it once
    // for its view (further calls find the first connection and add none). Tests that drive the
    // view without dialogs leave it out.
    static ExportCommands* attach(ResourceListView& view);

    // One export command (ribbon 32781 or 32797, context 32809, 32819, 32821 or 32824) on the
    // view's check states, selection and the right-clicked `row`, with the given dialogs.
    static void run(ResourceListView& view, int commandId, ListTreeItem row, ExportUi& ui);

    // The resource a row of the view stands for; null for folder and group rows.
    static HttpResource* resourceOf(std::uintptr_t data);

    // The curl command repeating the request of `resource` onto the view's clipboard; what
    // fails is shown through `ui`.
    static void copyAsCurl(ResourceListView& view, HttpResource& resource, ExportUi& ui);

private:
    explicit ExportCommands(ResourceListView& view);
    void onExportRequested(int commandId, ListTreeItem row);

    ResourceListView& view_;
};
