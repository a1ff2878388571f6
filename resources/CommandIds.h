// Command ids shared by the ribbon, the frame, the document, the views, the panes and the
// application, one list so that no two of them can drift apart.
#pragma once

enum CommandId : int {
    // Visual styles (radio group).
    ID_VIEW_APPLOOK_OFF_2007_BLUE = 215,
    ID_VIEW_APPLOOK_OFF_2007_BLACK = 216,
    ID_VIEW_APPLOOK_OFF_2007_SILVER = 217,
    ID_VIEW_APPLOOK_OFF_2007_AQUA = 218,
    ID_VIEW_APPLOOK_WINDOWS_7 = 219,

    ID_CATCH_START = 32771,
    ID_CATCH_STOP = 32772,
    ID_RESOURCES_EXPORT = 32781,
    ID_RESOURCES_CLEAR = 32786,
    ID_ONLINE_HELP = 32788,
    ID_RESOURCES_LIST_VIEW_BY_ORDER = 32792,
    ID_RESOURCES_LIST_VIEW_BY_DIRECTORY = 32793,
    ID_RESOURCES_LIST_VIEW_BY_TYPE = 32794,
    ID_RESOURCES_LIST_VIEW_BY_REFERRER = 32795,
    ID_RESOURCES_LIST_VIEW_MODE = 32796,
    ID_RESOURCES_MERGE_EXPORT = 32797,
    ID_VIEW_WINDOWS = 32801,
    ID_VIEW_REQUEST_HEADER = 32802,
    ID_VIEW_REQUEST_DATA = 32803,
    ID_VIEW_RESPONSE_HEADER = 32804,
    ID_VIEW_RESPONSE_DATA = 32805,
    ID_VIEW_RESOURCE_PREVIEW = 32806,
    ID_VIEW_ADDRESS_PARAMETER = 32807,
    ID_VIEW_WEBSOCKET_MESSAGES = 32808,
    ID_CHECK_UPDATE = 32818,
    ID_CATCH_OPTIONS = 32825,
    ID_PREVENT_CACHE = 32834,
    ID_RESOURCES_EXPORT_HAR = 32840,
    // HTTPS entries of the capture options menu.
    ID_HTTPS_DECRYPT = 32860,
    ID_HTTPS_OPEN_BROWSER = 32861,
    ID_HTTPS_PASS_THROUGH = 32862,
    ID_HTTPS_INSTALL_CA = 32863,
    ID_HTTPS_REMOVE_CA = 32864,
    ID_HTTPS_EXPORT_CA = 32865,
    // The language entries of the capture options menu (radio group).
    ID_LANGUAGE_SYSTEM = 32870,
    ID_LANGUAGE_ENGLISH = 32871,
    ID_LANGUAGE_CHINESE = 32872,

    // Context-menu commands of the resource list; acted on directly, never routed.
    ID_COPY_ADDRESS = 32799,
    ID_EXPORT_RESOURCE = 32809,
    ID_EXPAND_ALL = 32812,
    ID_COLLAPSE_ALL = 32814,
    ID_EXPORT_SELECTED = 32819,
    ID_MERGE_EXPORT_SELECTED = 32821,
    ID_EXPORT_FOLDER = 32824,
    ID_COPY_AS_CURL = 32841,
    ID_EXPORT_HAR_SELECTED = 32842,
    ID_SAVE_STREAM = 32843, // the one command of a stream's or variant's row
    // Context menu of the header panes.
    ID_COPY_FIELD_VALUE = 32832,
    ID_COPY_HEADER = 32833,

    // The application button: opens the About box.
    ID_APP_ABOUT = 57664,
};
