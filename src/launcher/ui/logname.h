#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

// Widgets speak the player's language while the log stays English, as support reads it there. A
// widget whose name is translated keeps its English name beside it for the log.
namespace orvik::launcher::logname {

inline const char* const kProperty = "kestrunLogName";

inline void set(QWidget* pWidget, const QString& EnglishName)
{
    pWidget->setProperty(kProperty, EnglishName);
}

// The English name the widget was given, or Otherwise.
inline QString of(const QWidget* pWidget, const QString& Otherwise)
{
    const QVariant name = pWidget->property(kProperty);
    return name.isValid() ? name.toString() : Otherwise;
}

} // namespace orvik::launcher::logname
