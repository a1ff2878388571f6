// The program's string table: every user-visible text, looked up by its id.
#pragma once

#include "resources/Language.h"

#include <span>
#include <string>

// Returns the UTF-8 text of string `id` in the program's language (currentLanguage()), or
// nullptr when the table has none.
const char* loadString(unsigned id);
// The text of string `id` in `language`.
const char* loadString(unsigned id, Language language);

// String `id`, in the program's language, used as a printf format with the arguments that
// follow; empty when the table has no such string.
std::string formatString(unsigned id, ...);

// Each text is kept once per language, side by side under one id: `text` is the Chinese original,
// `english` its English counterpart. A format's placeholders must be the same, in the same order,
// in both.
struct StringEntry {
    unsigned id;
    const char* text;
    const char* english = nullptr;
};

// The whole table, sorted by id.
std::span<const StringEntry> stringTable();

// Ids of the texts the program loads by name. The ribbon's command descriptions are stored under
// their command ids (ID_CATCH_START and so on) and have no names here.
enum : unsigned {
    IDS_OLE_INIT_FAILED = 100,
    IDS_SOCKET_INIT_FAILED = 101,
    IDS_UNKNOWN_ERROR = 102, // printf template, %08x = the error code
    IDS_DATA_INCOMPLETE = 105,
    IDS_STATUS_IDLE = 107,
    IDS_PROXY_STARTED = 108, // %s = address, %d = port
    IDS_COLUMN_NAME = 109,
    IDS_COLUMN_TYPE = 110,
    IDS_COLUMN_SIZE = 111,
    IDS_COLUMN_STATUS = 112,
    IDS_COLUMN_URL = 113,
    IDS_HOST_UNKNOWN = 115,
    IDS_COLUMN_ORDINAL = 117,
    IDS_COLUMN_REFERRER = 118,
    IDS_STATE_DONE = 119,
    IDS_STATE_LOADING = 120,
    IDS_CONFIRM_CLEAR = 121,
    IDS_PANE_REQUEST_HEADER = 122,
    IDS_PANE_REQUEST_DATA = 123,
    IDS_PANE_RESPONSE_HEADER = 124,
    IDS_PANE_RESPONSE_DATA = 125,
    IDS_PANE_PREVIEW = 126,
    IDS_HEADER_FIELD = 127,
    IDS_DOC_TEMPLATE = 128, // title, document name, ..., type ids, separated by line feeds
    IDS_HEADER_VALUE = 129,
    IDS_ROW_REQUEST = 130,
    IDS_ROW_RESPONSE = 132,
    IDS_NO_REQUEST_DATA = 133,
    IDS_NO_RESPONSE_BODY = 134,
    IDS_DATA_LOAD_FAILED = 135,
    IDS_RESOURCE_NOT_READY = 136,
    IDS_IMAGE_NOT_PREVIEWABLE = 137,
    IDS_PREVIEW_UNSUPPORTED = 138,
    IDS_PREVIEW_NO_DATA = 139,
    IDS_PREVIEW_NOT_READY = 140,
    IDS_PREVIEW_FILE_FAILED = 141,
    IDS_MARKUP_MESSAGE = 142,    // markup template, %s = the message (bold grey)
    IDS_MARKUP_IMAGE_INFO = 143, // markup template, %d = width, height, page count
    IDS_CODING_UNSUPPORTED = 144,
    IDS_BAD_CHUNK = 145,
    IDS_CATEGORY_FIRST = 146, // 146 + category index, up to IDS_CATEGORY_OTHER
    IDS_CATEGORY_OTHER = 154,
    IDS_PANE_ADDRESS_PARAMETER = 163,
    IDS_CONFIRM_KEEP_CAPTURES = 164,
    IDS_NO_RESPONSE_DATA = 165,
    IDS_EXPORT_UNDECODED = 166,       // %s = resource name
    IDS_EXPORT_FAILED_CONTINUE = 167, // %s = resource name, %s = reason
    IDS_RESTORE_PROXY = 168,
    IDS_ABOUT = 169,
    IDS_URL_HELP = 170,         // %s = version
    IDS_URL_CHECK_UPDATE = 171, // %s = version, %s = user id
    IDS_UPDATE_AVAILABLE = 172,
    IDS_URL_UNINSTALL = 173,   // %s = version, %s = user id
    IDS_URL_FEEDBACK = 174,    // %s = version
    IDS_URL_THIRD_PARTY = 175, // %s = version
    IDS_URL_HOME = 176,        // %s = version
    // Texts of the program's own that the first design kept in dialogs and menus.
    IDS_BUTTON_OK = 180,
    IDS_BUTTON_YES = 181,
    IDS_BUTTON_NO = 182,
    IDS_BUTTON_CANCEL = 183,
    IDS_ABOUT_VERSION = 184,
    IDS_ABOUT_NOTICE = 185,
    IDS_ABOUT_HOME_LINK = 186,
    IDS_ABOUT_FEEDBACK_LINK = 187,
    IDS_ABOUT_THIRD_PARTY_LINK = 188,
    IDS_TOOLKIT_TEXTS_MISSING = 189, // %s = the toolkit's translation file
    // The ribbon: the style menu, the category, its panels, buttons and menu items.
    IDS_RIBBON_STYLE = 200,
    IDS_STYLE_BLUE = 201,
    IDS_STYLE_BLACK = 202,
    IDS_STYLE_SILVER = 203,
    IDS_STYLE_AQUA = 204,
    IDS_STYLE_WINDOWS_7 = 205,
    IDS_RIBBON_CATEGORY = 210,
    IDS_PANEL_CAPTURE = 211,
    IDS_PANEL_RESOURCES = 212,
    IDS_PANEL_VIEW = 213,
    IDS_BUTTON_START = 220,
    IDS_BUTTON_STOP = 221,
    IDS_BUTTON_OPTIONS = 222,
    IDS_MENU_PREVENT_CACHE = 223,
    IDS_BUTTON_LIST = 224,
    IDS_MENU_BY_ORDER = 225,
    IDS_MENU_BY_TYPE = 226,
    IDS_MENU_BY_DIRECTORY = 227,
    IDS_MENU_BY_REFERRER = 228,
    IDS_BUTTON_CLEAR = 229,
    IDS_BUTTON_EXPORT = 230,
    IDS_BUTTON_MERGE_EXPORT = 231,
    IDS_BUTTON_WINDOWS = 232,
    // The language entries of the capture options menu.
    IDS_MENU_LANGUAGE_SYSTEM = 240,
    IDS_MENU_LANGUAGE_ENGLISH = 241,
    IDS_MENU_LANGUAGE_CHINESE = 242,
    IDS_LANGUAGE_NEXT_START = 243,
    // The hyperlink control's messages, by the result of opening the address.
    IDS_LINK_OPEN_FAILED = 250, // followed by one of the texts below
    IDS_LINK_OUT_OF_MEMORY = 251,
    IDS_LINK_FILE_NOT_FOUND = 252,
    IDS_LINK_PATH_NOT_FOUND = 253,
    IDS_LINK_ACCESS_DENIED = 254,
    IDS_LINK_NOT_ENOUGH_MEMORY = 255,
    IDS_LINK_BAD_PROGRAM = 256,
    IDS_LINK_SHARING_VIOLATION = 257,
    IDS_LINK_ASSOCIATION_INCOMPLETE = 258,
    IDS_LINK_DDE_TIMEOUT = 259,
    IDS_LINK_DDE_FAILED = 260,
    IDS_LINK_DDE_BUSY = 261,
    IDS_LINK_NO_ASSOCIATION = 262,
    IDS_LINK_LIBRARY_NOT_FOUND = 263,
    IDS_LINK_UNKNOWN_ERROR = 264, // %d = the result
    IDS_HEAD_TOO_LONG = 400,
    IDS_CACHE_FOLDER_BUSY = 460,
    IDS_CACHE_FOLDER_BUSY_PID = 461,    // %s = folder, %d = process id
    IDS_CACHE_FOLDER_BUSY_FOLDER = 462, // %s = folder
    IDS_CAPTURE_INTERRUPTED = 463,
    IDS_CAPTURE_NOT_STORED = 464,        // %s = reason
    IDS_CACHE_FOLDER_BUSY_CAPTURE = 465, // %s = folder, %d = process id of tidewell-capture
    IDS_CACHE_FOLDER_BUSY_DESKTOP = 466, // %s = folder, %d = process id of the desktop program
    IDS_CACHE_FOLDER_READ_ONLY = 467,    // %s = folder
    IDS_CACHE_FOLDER_UNUSABLE = 468,     // %s = folder, %s = reason
    IDS_FILES_SKIPPED = 469,             // %d = number of files (two or more), %s = folder
    IDS_FILE_SKIPPED = 470,              // %s = folder
    IDS_NOT_STORED = 471,                // status of a capture not stored whole, %s = reason
    IDS_NEEDS_GRAPHICAL_SESSION = 472,
    IDS_LOOP_REFUSED = 480, // the page answering a request aimed at the proxy itself
    IDS_TUNNEL_OPEN = 481,  // status of a tunnel still carrying bytes
    IDS_TUNNEL_CLIENT_CLOSED = 482,
    IDS_TUNNEL_SERVER_CLOSED = 483,
    IDS_TUNNEL_STOPPED = 484, // cut when capturing stopped
    IDS_TUNNEL_TYPE = 485,    // the type column of a tunnel
    IDS_HTTP_VERSION = 486,   // also an error code of ours
    IDS_HTTP_VERSION_PAGE = 487,
    IDS_OWN_USER_ONLY = 488, // the page refusing another user's program
    IDS_USER_REFUSED = 489,  // %u = the other user's uid
    // HAR export and copy as curl.
    IDS_TUNNEL_NOT_REPEATABLE = 510, // also an error code of ours
    IDS_CURL_FIELDS_LEFT_OUT = 511,  // printf template, %d = number of header fields
    IDS_HAR_LEFT_OUT = 512,          // printf template, %d = number of resources
    IDS_HAR_FILE_NAME = 513,         // default name of an exported HAR file
    IDS_ANSWERED_EARLY = 521,        // also an error code of ours
    IDS_ORIGIN_FAILED_PAGE = 528,    // %s = host, %s = reason
    IDS_HTTPS_OFFER_BROWSER = 620,
    IDS_HTTPS_INSTALL_QUESTION = 621, // %s = database lines, %s = subject, %s = fingerprint
    IDS_HTTPS_NOTHING_TO_INSTALL = 622,
    IDS_HTTPS_INSTALLED = 623,   // %s = database lines
    IDS_HTTPS_NOT_CHANGED = 624, // %s = database lines with the reasons
    IDS_HTTPS_NOTHING_TO_REMOVE = 625,
    IDS_HTTPS_REMOVED = 626, // %s = database lines
    IDS_HTTPS_PASS_THROUGH_HELP = 627,
    IDS_HTTPS_PASS_THROUGH_TITLE = 628,
    IDS_HTTPS_CHOOSE_BROWSER = 629,
    IDS_HTTPS_CHROMIUM_DATABASE = 630, // %s = folder
    IDS_HTTPS_FIREFOX_DATABASE = 631,  // %s = profile name, %s = folder
    IDS_HTTPS_NEW_DATABASE = 632,
    IDS_HTTPS_CERTIFICATE_FILTER = 633,
    IDS_HTTPS_BAD_GATEWAY = 634,           // %s = host, %s = reason, %s = OpenSSL's words
    IDS_HTTPS_PROFILE_OUTSIDE = 635,       // %s = profile name, %s = its path
    IDS_HTTPS_HELD_UNDER_NAME = 636,       // %s = folder, %s = nickname
    IDS_HTTPS_DATABASE_UNREADABLE = 637,   // %s = folder
    IDS_HTTPS_CREATED_DATABASE_KEPT = 638, // %s = folder
    IDS_HTTPS_LEFT_ALONE = 639,            // %s = lines
    // Texts of the HTTPS entries of the capture options menu.
    IDS_MENU_HTTPS_DECRYPT = 640,
    IDS_MENU_HTTPS_OPEN_BROWSER = 641,
    IDS_MENU_HTTPS_PASS_THROUGH = 642,
    IDS_MENU_HTTPS_INSTALL_CA = 643,
    IDS_MENU_HTTPS_REMOVE_CA = 644,
    IDS_MENU_HTTPS_EXPORT_CA = 645,
    // A browser started for the capture that ended at once.
    IDS_BROWSER_EXITED = 646,  // %s = browser, %d = exit status
    IDS_BROWSER_NOT_RUN = 647, // %s = browser, %d = exit status
    IDS_BROWSER_CHROMIUM_AS_ROOT = 648,
    // The resource browser's filter and preview notes.
    IDS_PREVIEW_TEXT_CUT = 700,
    IDS_FILTER_PLACEHOLDER = 701,
    IDS_FILTER_COUNT = 702,      // %d = rows shown, %d = resources in all
    IDS_FILTER_BAD_STATUS = 703, // %s = the value after "status:"
    IDS_FILTER_NO_MATCH = 704,
    // Usage errors of the command-line program.
    IDS_OPTION_NEEDS_VALUE = 750, // %s = the option
    IDS_SEE_HELP = 752,
    // Files and folders that cannot be used, named.
    IDS_FOLDER_NOT_CREATED = 770,   // %s = folder, %s = reason
    IDS_FILE_NOT_WRITTEN = 771,     // %s = file, %s = reason
    IDS_FOLDER_UNUSABLE = 772,      // %s = folder, %s = reason
    IDS_ROOT_FOLDER_UNUSABLE = 773, // %s = the root certificate's folder, %s = reason
    // Exports: which rows when none is checked, and what was written.
    IDS_EXPORT_WHICH_ROWS = 780,
    IDS_EXPORT_SHOWN_ROWS = 781, // %s = the count of rows the filter shows
    IDS_EXPORT_ALL_ROWS = 782,   // %s = the count of all rows
    IDS_EXPORTED_ONE = 783,      // %s = file or folder
    IDS_EXPORTED_MANY = 784,     // %s = count, %s = file or folder
    // Video and audio streams found in the capture, and saving one as a file.
    IDS_STREAM_GROUP = 900, // the group of the by-type arrangement
    IDS_STREAM_SAVE = 901,  // the command on a stream's row
    IDS_STREAM_SAMPLE_AES = 902,
    IDS_STREAM_DRM = 903,
    IDS_STREAM_PLAYLIST_MISSING = 904,
    IDS_STREAM_NOTHING_CAPTURED = 905,
    IDS_STREAM_SEGMENT_UNREADABLE = 906, // %s = address, %s = reason
    IDS_STREAM_BAD_KEY = 907,            // %s = address of the key
    IDS_STREAM_DECRYPT_FAILED = 908,     // %s = address of the segment
    IDS_STREAM_UNKNOWN_FORMAT = 909,     // %s = FFmpeg's reason
    IDS_STREAM_CODEC_UNFIT = 910,        // %s = container, %s = codec
    IDS_STREAM_WRITE_FAILED = 911,       // %s = file, %s = reason
    IDS_STREAM_MISSING = 912,            // %d = missing, %d = listed, %s = time ranges
    IDS_STREAM_CANCELLED = 913,
    IDS_STREAM_NOT_FOUND = 914,       // %u = stream id
    IDS_STREAM_SEGMENT_COUNT = 915,   // %d = captured, %d = listed
    IDS_STREAM_SAVE_FILTER = 916,     // file dialog filter
    IDS_STREAM_SAVING = 917,          // progress dialog
    IDS_STREAM_ASK_MISSING = 918,     // %s = the missing text
    IDS_STREAM_SAVED = 919,           // %s = file
    IDS_STREAM_NO_VARIANT = 920,      // %d = asked, %d = variants
    IDS_STREAM_AUDIO_TRACK = 921,     // names the audio track in the missing text
    IDS_STREAM_SAVED_WITH_GAPS = 922, // %s = file, %s = the missing text
    IDS_STREAM_NO_MEDIA = 923,
    IDS_STREAM_READ_FAILED = 924, // %s = FFmpeg's reason
    IDS_STREAM_LIVE = 925,        // marks a playlist that grew while capturing
    // The stream save dialog.
    IDS_STREAM_VARIANT_LABEL = 926, // the field names, one per line
    IDS_STREAM_REPLACE = 927,       // %s = file
    IDS_STREAM_GAP_NOTE = 928,      // after the missing text
    IDS_STREAM_SAVE_BUTTON = 929,
    IDS_STREAM_BROWSE = 930,
    // The C library's message for errno value e is string IDS_SYSTEM_ERROR_FIRST + e.
    IDS_SYSTEM_ERROR_FIRST = 1000,
    IDS_SYSTEM_ERROR_LAST = 1199,
    // What the programs print on the command line.
    IDS_LANG_TAKES = 1200, // %s = the value given
    IDS_CLI_USAGE = 1201,
    IDS_CLI_HAR_WRITTEN = 1202,        // %zu = exchanges, %s = cache folder, %s = file
    IDS_CLI_HAR_LEFT_OUT = 1203,       // %zu = captures
    IDS_CLI_CANNOT_WRITE = 1204,       // %s = file, %s = reason
    IDS_CLI_CAPTURING = 1205,          // %s = address, %d = port, %s = IDS_CLI_REDIRECTED or ""
    IDS_CLI_REDIRECTED = 1206,         // %s = the desktop whose settings were changed
    IDS_CLI_SET_BY_HAND = 1207,        // %s = address, %d = port
    IDS_CLI_COUNT = 1208,              // %zu = exchanges, %s = size of the response bodies
    IDS_CLI_COUNT_LOADING = 1209,      // %zu
    IDS_CLI_COUNT_NOT_STORED = 1210,   // %zu
    IDS_CLI_STOPPED = 1211,            // %s = IDS_CLI_COUNT, %zu = kept, %s = cache folder
    IDS_CLI_STOPPED_NOT_STORED = 1212, // %zu = captures, %s = reason
    IDS_CLI_DECRYPTING = 1213,         // %s = certificate file, %s = fingerprint
    IDS_CLI_BROWSER_STARTED = 1214,    // %s = browser
    IDS_CLI_SETTINGS_GIVEN_BACK = 1215,
    IDS_CLI_ROOT_CERTIFICATE = 1216, // %s = reason
    IDS_CLI_HAR_ALONE = 1217,
    IDS_CLI_HTTPS_TAKES = 1218,      // %s = the value given
    IDS_CLI_BROWSER_TAKES = 1219,    // %s = the value given
    IDS_CLI_NOT_A_PORT = 1220,       // %s = the value given
    IDS_CLI_UNKNOWN_ARGUMENT = 1221, // %s = the argument
    IDS_CLI_ROOT_IN = 1222,          // %s = folder, %s = reason
    IDS_CLI_LEFT_ALONE = 1223,
    IDS_CLI_WILL_TRUST = 1224, // %s = subject, %s = fingerprint
    IDS_CLI_PROFILE = 1225,    // %s = browser, %s = profile name
    IDS_CLI_NEW_DATABASE = 1226,
    IDS_CLI_RESTART_BROWSERS = 1227,
    IDS_CLI_PROCEED = 1228,
    IDS_CLI_NOTHING_CHANGED = 1229,
    IDS_CLI_INSTALLED_IN = 1230,
    IDS_CLI_NOT_EVERY_DATABASE = 1231,
    IDS_CLI_NOTHING_TO_REMOVE = 1232,
    IDS_CLI_REMOVED_FROM = 1233,
    IDS_CLI_ROOT_WRITTEN = 1234,  // %s = file, %s = fingerprint
    IDS_CLI_NOT_A_STREAM = 1235,  // %s = the value given
    IDS_CLI_NOT_A_VARIANT = 1236, // %s = the value given
    IDS_CLI_STREAMS_ALONE = 1237,
    IDS_CLI_VARIANT_ALONE = 1238,
    IDS_CLI_STREAM_SAVED = 1239, // %s = file, %s = duration, %s = ", " or "", %s = variant
    IDS_CLI_NO_STREAMS = 1240,
    IDS_CLI_STREAM_SAVING = 1241, // %d = percent, %s = done, %s = total
    // Context menu item texts: menu id times 100 plus the item's place (from 1).
    IDS_MENU_COPY_ADDRESS = 31301,          // menu 313, command 32799
    IDS_MENU_EXPORT_RESOURCE = 31302,       // menu 313, command 32809
    IDS_MENU_EXPORT_FOLDER = 31501,         // menu 315, command 32824
    IDS_MENU_EXPAND_ALL = 31503,            // menu 315, command 32812
    IDS_MENU_COLLAPSE_ALL = 31504,          // menu 315, command 32814
    IDS_MENU_EXPORT_SELECTED = 31801,       // menu 318, command 32819
    IDS_MENU_MERGE_EXPORT_SELECTED = 31802, // menu 318, command 32821
    IDS_MENU_COPY_FIELD_VALUE = 31601,      // menu 316, command 32832
    IDS_MENU_COPY_HEADER = 31602,           // menu 316, command 32833
    IDS_MENU_COPY_AS_CURL = 31303,          // menu 313, command 32841
    IDS_MENU_EXPORT_HAR = 31304,            // menu 313, command 32842
    IDS_MENU_EXPORT_HAR_SELECTED = 31803,   // menu 318, command 32842
};
