// The status line and the response header fields of the current resource.
#pragma once

#include "ui/panes/HeaderListPane.h"

class QLabel;

class ResponseHeaderView : public HeaderListPane {
    Q_OBJECT

public:
    explicit ResponseHeaderView(QWidget* parent = nullptr);

    static constexpr const char* kWidthSection = "Window State\\Response Header\\Column Widths";

    // How long the exchange took and its phases, above the fields; hidden
    // when the capture has no times.
    QLabel* timingsLabel() const { return timings_; }

protected:
    void paneResource(HttpResource* resource) override;
    bool followsCompletion() const override { return true; }

private:
    QLabel* timings_;
};
