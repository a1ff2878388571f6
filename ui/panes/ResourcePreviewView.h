// The preview pane: the current resource's response body as a picture or as
// coloured text, or a short message saying why not.
#pragma once

#include "store/DocumentEvents.h"

#include <QString>
#include <QWidget>

#include <memory>

class HttpResource;

class ResourcePreviewView : public QWidget, public DocumentListener {
    Q_OBJECT

public:
    explicit ResourcePreviewView(QWidget* parent = nullptr);
    ~ResourcePreviewView() override;

    // Event 4, the current resource changed.
    void documentEvent(const DocumentNotice& notice) override;
    // Replaces what the pane shows by a preview of `resource` (null: nothing).
    void showResource(HttpResource* resource);

    QWidget* viewer() const { return viewerWindow.get(); }
    const QString& previewFile() const { return previewPath; }
    const QString& message() const { return messageText; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool preview(HttpResource& resource);
    bool createPreviewFile();
    void deletePreviewFile();

    std::unique_ptr<QWidget> viewerWindow;
    QString previewPath;
    QString messageText;
};
