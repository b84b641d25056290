#include "launcher/startup/screenfit.h"

#include "launcher/ui/launchermainwindow.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace orvik::launcher {

namespace {

constexpr char kScaleFactor[] = "QT_SCALE_FACTOR";
// The window at its smallest, with room for the title bar and frame the desktop adds.
constexpr int kFrameAllowance = 40;
const QSize kNeeded(TLauncherMainWindow::kWidth + kFrameAllowance / 2,
                    TLauncherMainWindow::kMinimumHeight + kFrameAllowance);

bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return false;
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

} // namespace

TScreenFit::TScreenFit(int& Argc, char** Argv)
{
    m_bHadFactor = qEnvironmentVariableIsSet(kScaleFactor);
    m_PreviousFactor = qgetenv(kScaleFactor);
    if (!hasDisplay())
        return;
    qreal shrink = 1;
    {
        // A first, short-lived application only to learn the screen in logical pixels.
        int argc = std::min(Argc, 1);
        const QGuiApplication probe(argc, Argv);
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QSize free = screen->availableGeometry().size();
        shrink = std::min({qreal(1), qreal(free.width()) / kNeeded.width(),
                           qreal(free.height()) / kNeeded.height()});
    }
    if (shrink >= 1)
        return;
    const qreal factor = (m_bHadFactor ? m_PreviousFactor.toDouble() : 1.0) * shrink;
    if (factor <= 0)
        return;
    qputenv(kScaleFactor, QByteArray::number(factor, 'f', 3));
    m_bChanged = true;
}

void TScreenFit::restoreEnvironment() const
{
    if (!m_bChanged)
        return;
    if (m_bHadFactor)
        qputenv(kScaleFactor, m_PreviousFactor);
    else
        qunsetenv(kScaleFactor);
}

} // namespace orvik::launcher
