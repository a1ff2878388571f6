#include "ui/panes/AddressParameterView.h"

#include "engine/Url.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"

std::vector<std::pair<std::string, std::string>> addressParameters(const Url& url) {
    std::vector<std::pair<std::string, std::string>> rows;
    const std::string& query = url.query;
    const std::size_t length = query.size();
    if ((url.flags & Url::HasQuery) && length > 0) {
        std::size_t position = 0;
        do {
            std::size_t equals = query.find('=', position);
            if (equals == std::string::npos)
                equals = length;
            std::pair<std::string, std::string> row;
            row.first = percentDecode(std::string_view(query).substr(position, equals - position));
            position = equals + 1;
            if (position < length) {
                std::size_t ampersand = query.find('&', position);
                if (ampersand == std::string::npos)
                    ampersand = length;
                row.second =
                    percentDecode(std::string_view(query).substr(position, ampersand - position));
                position = ampersand + 1;
            }
            rows.push_back(std::move(row));
        } while (position < length);
    }
    if (url.flags & Url::HasFragment)
        rows.emplace_back("#", percentDecode(url.fragment));
    return rows;
}

AddressParameterView::AddressParameterView(QWidget* parent)
    : HeaderListPane(QString::fromUtf8(loadString(IDS_PANE_ADDRESS_PARAMETER)), kWidthSection,
                     false, parent) {
    setObjectName(QStringLiteral("AddressParameterView"));
}

void AddressParameterView::paneResource(HttpResource* resource) {
    clearRows();
    if (!resource)
        return;
    // A listed resource's address never changes.
    for (const auto& [name, value] : addressParameters(resource->url))
        addRow(QString::fromUtf8(name), QString::fromUtf8(value));
}
