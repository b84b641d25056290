#pragma once

#include <QByteArray>

namespace orvik::launcher {

// The window is drawn at a fixed size for 96 dpi and grows with the desktop's scale. On a small
// screen with a large scale (1280 x 800 at 2x) it would no longer fit and its title bar and links
// would lie off the screen: before the application exists, the screen is measured once and Qt's
// scale lowered just enough for the main window and its frame to fit in the available area. The
// player's own setting is restored once the application has read it, so the game client and a
// restarted launcher inherit it unchanged.
class TScreenFit
{
public:
    TScreenFit(int& Argc, char** Argv);
    // Call once the application object exists.
    void restoreEnvironment() const;

private:
    bool m_bChanged = false;
    bool m_bHadFactor = false;
    QByteArray m_PreviousFactor;
};

} // namespace orvik::launcher
