// The query parameters and the fragment of the current resource's address.
#pragma once

#include "ui/panes/HeaderListPane.h"

#include <string>
#include <utility>
#include <vector>

struct Url;

class AddressParameterView : public HeaderListPane {
    Q_OBJECT

public:
    explicit AddressParameterView(QWidget* parent = nullptr);

    static constexpr const char* kWidthSection = "Window State\\Address Parameter\\Column Widths";

protected:
    void paneResource(HttpResource* resource) override;
};

// The rows the pane shows for `url`, decoded. A name runs up to the next "=",
// so a part without one is joined with the part after it ("a&b=1" is the name
// "a&b"); a fragment, even an empty one, is a last row named "#".
std::vector<std::pair<std::string, std::string>> addressParameters(const Url& url);
