#include "ui/panes/ResponseHeaderView.h"

#include "engine/HttpMessageHeader.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "ui/panes/TimingText.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string>

ResponseHeaderView::ResponseHeaderView(QWidget* parent)
    : HeaderListPane(QString::fromUtf8(loadString(IDS_PANE_RESPONSE_HEADER)), kWidthSection, true,
                     parent) {
    setObjectName(QStringLiteral("ResponseHeaderView"));
    timings_ = new QLabel;
    timings_->setObjectName(QStringLiteral("Timings"));
    timings_->setContentsMargins(4, 2, 4, 2);
    timings_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    timings_->hide();
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(timings_);
    layout->addWidget(list(), 1);
    setChild(box);
    setFocusProxy(list());
}

void ResponseHeaderView::paneResource(HttpResource* resource) {
    clearRows();
    timings_->hide();
    if (!resource)
        return;
    const std::string line = timingsText(resource->timings, resource->duration);
    if (!line.empty()) {
        timings_->setText(QString::fromUtf8(line));
        timings_->show();
    }
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
