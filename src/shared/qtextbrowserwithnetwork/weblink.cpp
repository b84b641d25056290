#include "shared/qtextbrowserwithnetwork/weblink.h"

#include <QDebug>
#include <QDesktopServices>
#include <QThread>
#include <QUrl>

namespace shared {

bool isWebLink(const QUrl& Url)
{
    // QUrl keeps schemes in lower case, whatever the document wrote.
    const QString scheme = Url.scheme();
    return Url.isValid() && !Url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool openWebLink(const QUrl& Url)
{
    if (!isWebLink(Url)) {
        qWarning() << "Link not opened, it is no web address:" << Url.toString()
                   << " Thread: " << QThread::currentThreadId();
        return false;
    }
    return QDesktopServices::openUrl(Url);
}

} // namespace shared
