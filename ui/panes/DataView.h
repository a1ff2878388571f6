// The two body panes: the current resource's raw request body and raw
// response body as hex dumps.
#pragma once

#include "ui/panes/DockablePane.h"

#include <memory>

class BinaryView;
class HttpResourceData;

// A pane whose only child is a BinaryView over one body of the current
// resource. The pane owns the data stream the view reads; a new resource
// replaces it. A null resource empties the view and keeps its last note.
class DataView : public DockablePane {
    Q_OBJECT

public:
    ~DataView() override;

    BinaryView* binaryView() const { return view_; }

protected:
    DataView(const QString& title, QWidget* parent);

    void paneResource(HttpResource* resource) override;
    // The body of `resource` (null when its data cannot be reached, with the
    // reason in lastError()), and the note for an empty one. Called under
    // the capture lock.
    virtual std::unique_ptr<HttpResourceData> openBody(HttpResource& resource) = 0;
    virtual unsigned emptyBodyText() const = 0;

private:
    BinaryView* view_;
    std::unique_ptr<HttpResourceData> data_;
};

// The request body: what follows the request head, up to the response head.
class RequestDataView : public DataView {
    Q_OBJECT

public:
    explicit RequestDataView(QWidget* parent = nullptr);

protected:
    std::unique_ptr<HttpResourceData> openBody(HttpResource& resource) override;
    unsigned emptyBodyText() const override;
};

// The response body as relayed, codings and chunk framing included: the
// bytes received when the resource became current.
class ResponseDataView : public DataView {
    Q_OBJECT

public:
    explicit ResponseDataView(QWidget* parent = nullptr);

protected:
    // The bytes that came after the resource became current show once it
    // has finished.
    bool followsCompletion() const override { return true; }
    std::unique_ptr<HttpResourceData> openBody(HttpResource& resource) override;
    unsigned emptyBodyText() const override;
};
