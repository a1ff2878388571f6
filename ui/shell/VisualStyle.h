// The five looks of the program (palette, style sheet and the ribbon's colours), switched live
// for the whole application, and the profile value that remembers the user's choice.
#pragma once

#include "resources/CommandIds.h"

#include <QColor>

class DocumentSettings;

enum VisualStyleId : int {
    kLookOffice2007Blue = ID_VIEW_APPLOOK_OFF_2007_BLUE,
    kLookOffice2007Black = ID_VIEW_APPLOOK_OFF_2007_BLACK,
    kLookOffice2007Silver = ID_VIEW_APPLOOK_OFF_2007_SILVER,
    kLookOffice2007Aqua = ID_VIEW_APPLOOK_OFF_2007_AQUA,
    kLookWindows7 = ID_VIEW_APPLOOK_WINDOWS_7,
    kLookFirst = kLookOffice2007Blue,
    kLookLast = kLookWindows7,
    kLookDefault = kLookOffice2007Blue,
};

// Profile value (in the application's own section) holding the last chosen look.
inline constexpr const char* kApplicationLookValue = "ApplicationLook";

// The colours the ribbon paints itself with.
struct RibbonLook {
    QColor tabRowTop, tabRowBottom, tabText;
    QColor tabSelectedTop, tabSelectedBottom, tabBorder, tabSelectedText;
    QColor bodyTop, bodyBottom, bodyBorder;
    QColor panelTop, panelBottom, panelBorder;
    QColor captionTop, captionBottom, captionText;
    QColor text, disabledText, separator;
    QColor hoverTop, hoverBottom, hoverBorder;
    QColor pressedTop, pressedBottom, pressedBorder;
    QColor appTop, appBottom, appBorder, appText;
    QColor keyTipBack, keyTipBorder, keyTipText;
    // Round "orb" application button (Office 2007) or a coloured tab (Windows 7).
    bool roundApplicationButton;
};

bool isVisualStyle(int id);
// Restyles every widget of the application at once: palette, style sheet, the ribbon's colours.
// False (and nothing changes) for an id that is not one of the five looks.
bool applyVisualStyle(int id);
// The look last applied (kLookDefault before any).
int currentVisualStyle();
const RibbonLook& ribbonLook();
const RibbonLook& ribbonLook(int id);

// The style command: applies the look under a wait cursor and writes it to the profile.
bool switchVisualStyle(int id, DocumentSettings& profile);
// At start: the look stored in the profile, or the default when there is none or it is unknown.
int savedVisualStyle(DocumentSettings& profile);
// Applies savedVisualStyle() and returns it.
int restoreVisualStyle(DocumentSettings& profile);
