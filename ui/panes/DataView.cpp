#include "ui/panes/DataView.h"

#include "resources/StringTable.h"
#include "store/HttpResourceData.h"
#include "ui/panes/BinaryView.h"

namespace {

QString stringText(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

} // namespace

DataView::DataView(const QString& title, QWidget* parent)
    : DockablePane(title, parent), view_(new BinaryView) {
    setChild(view_);
}

DataView::~DataView() {
    view_->setData(nullptr);
}

void DataView::paneResource(HttpResource* resource) {
    std::unique_ptr<HttpResourceData> data;
    if (resource) {
        // Capture threads may still be appending to the resource; the stream
        // reads a copy or a file handle of its own, and making it holds no
        // lock a connection needs.
        data = openBody(*resource);
        view_->emptyText = stringText(data ? emptyBodyText() : IDS_DATA_LOAD_FAILED);
    }
    view_->setData(data.get());
    data_ = std::move(data);
}

RequestDataView::RequestDataView(QWidget* parent)
    : DataView(stringText(IDS_PANE_REQUEST_DATA), parent) {
    setObjectName(QStringLiteral("RequestDataView"));
}

std::unique_ptr<HttpResourceData> RequestDataView::openBody(HttpResource& resource) {
    return HttpResourceData::requestBody(resource);
}

unsigned RequestDataView::emptyBodyText() const {
    return IDS_NO_REQUEST_DATA;
}

ResponseDataView::ResponseDataView(QWidget* parent)
    : DataView(stringText(IDS_PANE_RESPONSE_DATA), parent) {
    setObjectName(QStringLiteral("ResponseDataView"));
}

std::unique_ptr<HttpResourceData> ResponseDataView::openBody(HttpResource& resource) {
    return HttpResourceData::responseBody(resource);
}

unsigned ResponseDataView::emptyBodyText() const {
    return IDS_NO_RESPONSE_BODY;
}
