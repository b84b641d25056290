#pragma once

#include <QString>

namespace orvik::launcher {

// Tells the desktop that something the player waits for has ended, through the freedesktop
// notification service on the session bus. Without a session bus or a notification service
// nothing happens: a notification is a courtesy, never a failure.
class TDesktopNotification
{
public:
    // True when a notification service took it.
    static bool send(const QString& Summary, const QString& Body);
};

} // namespace orvik::launcher
