#include "ui/panes/RequestHeaderView.h"

#include "engine/HttpMessageHeader.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"

RequestHeaderView::RequestHeaderView(QWidget* parent)
    : HeaderListPane(QString::fromUtf8(loadString(IDS_PANE_REQUEST_HEADER)), kWidthSection, true,
                     parent) {
    setObjectName(QStringLiteral("RequestHeaderView"));
}

void RequestHeaderView::paneResource(HttpResource* resource) {
    clearRows();
    if (!resource)
        return;
    HttpRequestHeader header;
    // Read from the cache file (or a copy of the image) with no lock held.
    if (!resource->readRequestHeader(header))
        return;
    addRow(QString::fromUtf8(loadString(IDS_ROW_REQUEST)),
           QString::fromUtf8(header.method + ' ' + header.target + ' ' + header.version));
    for (const HttpHeaderField& field : header.fields)
        addRow(QString::fromUtf8(field.name), QString::fromUtf8(field.value));
}
