// The preview pane: the current resource's response body as a picture or as
// coloured text, or a short message saying why not.
#pragma once

#include "ui/panes/DockablePane.h"
#include "ui/panes/PreviewFile.h"

#include <QString>

#include <cstdint>
#include <memory>

class HttpResource;
class QLabel;

class ResourcePreviewView : public DockablePane {
    Q_OBJECT

public:
    explicit ResourcePreviewView(QWidget* parent = nullptr);
    ~ResourcePreviewView() override;

    // Replaces what the pane shows by a preview of `resource` (null: nothing).
    void showResource(HttpResource* resource);

    // The pane's content: it paints the message and holds the viewer, which
    // covers it whole.
    QWidget* area() const { return child(); }
    QWidget* viewer() const { return viewerWindow.get(); }
    const QString& previewFile() const { return previewPath; }
    const QString& message() const { return messageText; }
    // The line above a text shown only in part; empty when the text is whole.
    QString note() const;

protected:
    // Shows the resource again once it has finished loading.
    bool followsCompletion() const override { return true; }

    void paneResource(HttpResource* resource) override;

private:
    class Area;

    // Places the note (when shown) at the top of the area and the viewer below it.
    void layoutArea();

    bool preview(HttpResource& resource);
    bool createPreviewFile();
    // The decoded body, cut at `limit` bytes (then `tooLarge` is set).
    bool writePreviewFile(HttpResource& resource, std::int64_t limit, bool& tooLarge);
    void deletePreviewFile();

    std::unique_ptr<QWidget> viewerWindow;
    PreviewFile previewFile_;
    QString previewPath;
    QString messageText;
    QLabel* noteLabel = nullptr;
};
