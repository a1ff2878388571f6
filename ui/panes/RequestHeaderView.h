// The request line and the request header fields of the current resource.
#pragma once

#include "ui/panes/HeaderListPane.h"

class RequestHeaderView : public HeaderListPane {
    Q_OBJECT

public:
    explicit RequestHeaderView(QWidget* parent = nullptr);

    static constexpr const char* kWidthSection = "Window State\\Request Header\\Column Widths";

protected:
    void paneResource(HttpResource* resource) override;
};
