#include "ui/panes/ResponseHeaderView.h"

#include "engine/HttpMessageHeader.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"

#include <string>

ResponseHeaderView::ResponseHeaderView(QWidget* parent)
    : HeaderListPane(QString::fromUtf8(loadString(IDS_PANE_RESPONSE_HEADER)), kWidthSection, true,
                     parent) {
    setObjectName(QStringLiteral("ResponseHeaderView"));
}

void ResponseHeaderView::paneResource(HttpResource* resource) {
    clearRows();
    if (!resource)
        return;
    HttpResponseHeader header;
    // Read from the cache file (or a copy of the image) with no lock held.
    if (!resource->readResponseHeader(header))
        return;
    addRow(QString::fromUtf8(loadString(IDS_ROW_RESPONSE)),
           QString::fromUtf8(header.version + ' ' + std::to_string(header.statusCode) + ' ' +
                             header.reason));
    for (const HttpHeaderField& field : header.fields)
        addRow(QString::fromUtf8(field.name), QString::fromUtf8(field.value));
}
