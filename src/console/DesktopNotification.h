#pragma once
#include <QString>

// Hands a notification to the desktop's notification service on the session bus. Never waits: false at
// once when no service is there (then the caller shows it another way). The text is escaped for a
// service that reads markup in the body.
bool SendDesktopNotification(const QString &Title, const QString &Text);
