#pragma once
#include "engine/TrayState.h"
#include <QIcon>
#include <QPixmap>

// The window's glyphs by their place in the original image list: 3 empty box, 4 ticked box, 5 delete,
// 6 add, 7 check, 8 settings, 9 exit, 10 change, 11 send, 12 about, 13 help, 14 user guide, 15 log file.
QIcon Glyph(int index);
// The 16 px state images for the codes 0 to 6; a null pixmap for every other code (7: check running).
QPixmap StateImage(int code);
// A state image with the alarm's marks: an amber dot for an alarm not confirmed yet, a blue tick at the
// lower right for an acknowledged one, a slate bar at the upper right for a system in maintenance.
QPixmap MarkedStateImage(int code, bool Unconfirmed, bool Acknowledged, bool Maintenance);
// The application icon.
QIcon AppIcon();
// The tray icon: the application icon with its dot in the colour of the marked systems' state.
QIcon TrayStateIcon(TTrayColour Colour);
