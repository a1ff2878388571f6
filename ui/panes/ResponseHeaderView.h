// The status line and the response header fields of the current resource.
#pragma once

#include "ui/panes/HeaderListPane.h"

class ResponseHeaderView : public HeaderListPane {
    Q_OBJECT

public:
    explicit ResponseHeaderView(QWidget* parent = nullptr);

    static constexpr const char* kWidthSection = "Window State\\Response Header\\Column Widths";

protected:
    void paneResource(HttpResource* resource) override;
};
