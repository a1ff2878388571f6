#include "ui/shell/RibbonLayout.h"

#include "resources/CommandIds.h"
#include "resources/StringTable.h"

#include <cstring>

namespace {

// Buttons added since the first ribbon take their label from the string
// table: the short text after the line feed of their description.
const char* tableLabel(int id) {
    const char* text = loadString(static_cast<unsigned>(id));
    const char* label = text ? std::strchr(text, '\n') : nullptr;
    return label ? label + 1 : "";
}

} // namespace

const RibbonDescription& mainRibbonDescription() {
    using E = RibbonElement;
    static const RibbonDescription description{
        "H",
        {
            {E::MenuButton,
             0,
             "样式",
             "S",
             -1,
             -1,
             false,
             {{ID_VIEW_APPLOOK_OFF_2007_BLUE, "Office 2007 (蓝色)", "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_BLACK, "Office 2007 (黑色)", "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_SILVER, "Office 2007 (银色)", "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_OFF_2007_AQUA, "Office 2007 (墨绿)", "", RibbonMenuItem::Radio},
              {ID_VIEW_APPLOOK_WINDOWS_7, "Windows 7", "", RibbonMenuItem::Radio}}},
            {E::Button, ID_CHECK_UPDATE, "", "G", kSmallCheckUpdate, -1, false, {}},
            {E::Button, ID_ONLINE_HELP, "", "\\", kSmallHelp, -1, false, {}},
        },
        {{"开始",
          {
              {"捕捉",
               "D",
               kLargeCaptureStop,
               {
                   {E::Button, ID_CATCH_START, "开始", "K", 0, kLargeCaptureStart, false, {}},
                   {E::Button, ID_CATCH_STOP, "停止", "T", 0, kLargeCaptureStop, false, {}},
                   {E::Separator, 0, "", "", -1, -1, false, {}},
                   {E::MenuButton,
                    ID_CATCH_OPTIONS,
                    "选项",
                    "O",
                    -1,
                    kLargeOptions,
                    true,
                    {{ID_PREVENT_CACHE, "阻止客服端缓存资源", "P", RibbonMenuItem::Check}}},
               }},
              {"资源",
               "",
               -1,
               {
                   {E::MenuButton,
                    ID_RESOURCES_LIST_VIEW_MODE,
                    "列表",
                    "L",
                    -1,
                    kLargeListMode,
                    true,
                    {{ID_RESOURCES_LIST_VIEW_BY_ORDER, "按顺序查看", "", RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_TYPE, "按类型查看", "", RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_DIRECTORY, "按目录查看", "", RibbonMenuItem::Check},
                     {ID_RESOURCES_LIST_VIEW_BY_REFERRER, "按引用查看", "",
                      RibbonMenuItem::Check}}},
                   {E::Button, ID_RESOURCES_CLEAR, "清空", "Q", -1, kLargeClear, true, {}},
                   {E::Separator, 0, "", "", -1, -1, false, {}},
                   {E::Button, ID_RESOURCES_EXPORT, "导出", "D", -1, kLargeExport, true, {}},
                   {E::Button,
                    ID_RESOURCES_MERGE_EXPORT,
                    "合并导出",
                    "B",
                    -1,
                    kLargeMergeExport,
                    true,
                    {}},
                   {E::Button,
                    ID_RESOURCES_EXPORT_HAR,
                    tableLabel(ID_RESOURCES_EXPORT_HAR),
                    "R",
                    -1,
                    kLargeExportHar,
                    true,
                    {}},
               }},
              {"视图",
               "",
               kLargeViewPanel,
               {
                   {E::MenuButton,
                    ID_VIEW_WINDOWS,
                    "窗口",
                    "C",
                    -1,
                    kLargeWindows,
                    true,
                    {{ID_VIEW_ADDRESS_PARAMETER, "地址参数", "", RibbonMenuItem::NoMark},
                     {ID_VIEW_REQUEST_HEADER, "请求头", "", RibbonMenuItem::NoMark},
                     {ID_VIEW_REQUEST_DATA, "请求数据", "", RibbonMenuItem::NoMark},
                     {ID_VIEW_RESPONSE_HEADER, "响应头", "", RibbonMenuItem::NoMark},
                     {ID_VIEW_RESPONSE_DATA, "响应数据", "", RibbonMenuItem::NoMark},
                     {ID_VIEW_RESOURCE_PREVIEW, "预览", "", RibbonMenuItem::NoMark}}},
               }},
          }}},
    };
    return description;
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
