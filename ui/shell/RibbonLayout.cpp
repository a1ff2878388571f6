#include "ui/shell/RibbonLayout.h"

#include "resources/CommandIds.h"
#include "resources/StringTable.h"

#include <cstring>

namespace {

// Buttons added since the first ribbon take their label from the string
// table: the short text after the line feed of their description.
const char* tableLabel(int id, Language language) {
    const char* text = loadString(static_cast<unsigned>(id), language);
    const char* label = text ? std::strchr(text, '\n') : nullptr;
    return label ? label + 1 : "";
}

RibbonDescription describeMainRibbon(Language language) {
    using E = RibbonElement;
    const auto t = [language](unsigned id) { return loadString(id, language); };
    return RibbonDescription{
        "H",
        {
            {E::MenuButton,
             0,
             t(IDS_RIBBON_STYLE),
             "S",
             -1,
             -1,
             false,
             {{ID_VIEW_APPLOOK_OFF_2007_BLUE, t(IDS_STYLE_BLUE), "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_BLACK, t(IDS_STYLE_BLACK), "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_SILVER, t(IDS_STYLE_SILVER), "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_AQUA, t(IDS_STYLE_AQUA), "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_WINDOWS_7, t(IDS_STYLE_WINDOWS_7), "", RibbonMenuItem::Radio}}},
            {E::Button, ID_CHECK_UPDATE, "", "G", kSmallCheckUpdate, -1, false, {}},
            {E::Button, ID_ONLINE_HELP, "", "\\", kSmallHelp, -1, false, {}},
        },
        {{t(IDS_RIBBON_CATEGORY),
          {
              {t(IDS_PANEL_CAPTURE),
               "D",
               kLargeCaptureStop,
               {
                   {E::Button,
                    ID_CATCH_START,
                    t(IDS_BUTTON_START),
                    "K",
                    0,
                    kLargeCaptureStart,
                    false,
                    {}},
                   {E::Button,
                    ID_CATCH_STOP,
                    t(IDS_BUTTON_STOP),
                    "T",
                    0,
                    kLargeCaptureStop,
                    false,
                    {}},
                   {E::Separator, 0, "", "", -1, -1, false, {}},
                   {E::MenuButton,
                    ID_CATCH_OPTIONS,
                    t(IDS_BUTTON_OPTIONS),
                    "O",
                    -1,
                    kLargeOptions,
                    true,
                    {{ID_PREVENT_CACHE, t(IDS_MENU_PREVENT_CACHE), "P", RibbonMenuItem::Check},
                     {0, "", "", RibbonMenuItem::NoMark},
                     {ID_HTTPS_DECRYPT, t(IDS_MENU_HTTPS_DECRYPT), "H", RibbonMenuItem::Check},
                     {ID_HTTPS_OPEN_BROWSER, t(IDS_MENU_HTTPS_OPEN_BROWSER), "B",
                      RibbonMenuItem::NoMark},
                     {ID_HTTPS_PASS_THROUGH, t(IDS_MENU_HTTPS_PASS_THROUGH), "N",
                      RibbonMenuItem::NoMark},
                     {0, "", "", RibbonMenuItem::NoMark},
                     {ID_HTTPS_INSTALL_CA, t(IDS_MENU_HTTPS_INSTALL_CA), "I",
                      RibbonMenuItem::NoMark},
                     {ID_HTTPS_REMOVE_CA, t(IDS_MENU_HTTPS_REMOVE_CA), "R", RibbonMenuItem::NoMark},
                     {ID_HTTPS_EXPORT_CA, t(IDS_MENU_HTTPS_EXPORT_CA), "E", RibbonMenuItem::NoMark},
                     {0, "", "", RibbonMenuItem::NoMark},
                     {ID_LANGUAGE_SYSTEM, t(IDS_MENU_LANGUAGE_SYSTEM), "Y", RibbonMenuItem::Radio},
                     {ID_LANGUAGE_ENGLISH, t(IDS_MENU_LANGUAGE_ENGLISH), "G",
                      RibbonMenuItem::Radio},
                     {ID_LANGUAGE_CHINESE, t(IDS_MENU_LANGUAGE_CHINESE), "Z",
                      RibbonMenuItem::Radio}}},
               }},
              {t(IDS_PANEL_RESOURCES),
               "",
               -1,
               {
                   {E::MenuButton,
                    ID_RESOURCES_LIST_VIEW_MODE,
                    t(IDS_BUTTON_LIST),
                    "L",
                    -1,
                    kLargeListMode,
                    true,
                    {{ID_RESOURCES_LIST_VIEW_BY_ORDER, t(IDS_MENU_BY_ORDER), "",
                      RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_TYPE, t(IDS_MENU_BY_TYPE), "",
                      RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_DIRECTORY, t(IDS_MENU_BY_DIRECTORY), "",
                      RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_REFERRER, t(IDS_MENU_BY_REFERRER), "",
                      RibbonMenuItem::Check}}},
                   {E::Button,
                    ID_RESOURCES_CLEAR,
                    t(IDS_BUTTON_CLEAR),
                    "Q",
                    -1,
                    kLargeClear,
                    true,
                    {}},
                   {E::Separator, 0, "", "", -1, -1, false, {}},
                   {E::Button,
                    ID_RESOURCES_EXPORT,
                    t(IDS_BUTTON_EXPORT),
                    "D",
                    -1,
                    kLargeExport,
                    true,
                    {}},
                   {E::Button,
                    ID_RESOURCES_MERGE_EXPORT,
                    t(IDS_BUTTON_MERGE_EXPORT),
                    "B",
                    -1,
                    kLargeMergeExport,
                    true,
                    {}},
                   {E::Button,
                    ID_RESOURCES_EXPORT_HAR,
                    tableLabel(ID_RESOURCES_EXPORT_HAR, language),
                    "R",
                    -1,
                    kLargeExportHar,
                    true,
                    {}},
               }},
              {t(IDS_PANEL_VIEW),
               "",
               kLargeViewPanel,
               {
                   {E::MenuButton,
                    ID_VIEW_WINDOWS,
                    t(IDS_BUTTON_WINDOWS),
                    "C",
                    -1,
                    kLargeWindows,
                    true,
                    {{ID_VIEW_ADDRESS_PARAMETER, t(IDS_PANE_ADDRESS_PARAMETER), "",
                      RibbonMenuItem::NoMark},
                     {ID_VIEW_REQUEST_HEADER, t(IDS_PANE_REQUEST_HEADER), "",
                      RibbonMenuItem::NoMark},
                     {ID_VIEW_REQUEST_DATA, t(IDS_PANE_REQUEST_DATA), "", RibbonMenuItem::NoMark},
                     {ID_VIEW_RESPONSE_HEADER, t(IDS_PANE_RESPONSE_HEADER), "",
                      RibbonMenuItem::NoMark},
                     {ID_VIEW_RESPONSE_DATA, t(IDS_PANE_RESPONSE_DATA), "", RibbonMenuItem::NoMark},
                     {ID_VIEW_RESOURCE_PREVIEW, t(IDS_PANE_PREVIEW), "", RibbonMenuItem::NoMark},
                     {ID_VIEW_WEBSOCKET_MESSAGES, t(IDS_PANE_WEBSOCKET_MESSAGES), "",
                      RibbonMenuItem::NoMark}}},
               }},
          }}},
    };
}

} // namespace

const RibbonDescription& mainRibbonDescription() {
    // One description per language: the ribbon keeps pointers into the one it was built from.
    static const RibbonDescription chinese = describeMainRibbon(Language::Chinese);
    static const RibbonDescription english = describeMainRibbon(Language::English);
    return currentLanguage() == Language::English ? english : chinese;
}

const char* largeImageName(int index) {
    static const char* const names[kLargeImageCount] = {
        ":/ribbon/capture-start-32.png", ":/ribbon/capture-stop-32.png", ":/ribbon/view-32.png",
        ":/ribbon/list-mode-32.png",     ":/ribbon/resources-32.png",    ":/ribbon/clear-32.png",
        ":/ribbon/merge-export-32.png",  ":/ribbon/export-32.png",       ":/ribbon/windows-32.png",
        ":/ribbon/options-32.png",       ":/ribbon/export-har-32.png",
    };
    return index >= 0 && index < kLargeImageCount ? names[index] : nullptr;
}

const char* smallImageName(int index) {
    static const char* const names[kSmallImageCount] = {
        ":/ribbon/check-update-16.png",
        ":/ribbon/help-16.png",
    };
    return index >= 0 && index < kSmallImageCount ? names[index] : nullptr;
}
