#include "launcher/package/documenturl.h"

namespace orvik::launcher {

QUrl resolveDocumentUrl(const QString& text, const QUrl& baseUrl)
{
    if (text.isEmpty())
        return {};
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isRelative())
        return url;

    QString basePath = baseUrl.path();
    const QString relativePath = url.path();
    if (!basePath.endsWith(QLatin1Char('/')) && !relativePath.startsWith(QLatin1Char('/')))
        basePath += QLatin1Char('/');

    QUrl resolved;
    resolved.setScheme(baseUrl.scheme());
    resolved.setAuthority(baseUrl.authority());
    resolved.setPath(basePath + relativePath);
    return resolved;
}

bool isFetchableFromDocument(const QUrl& url, const QUrl& baseUrl)
{
    if (url.isEmpty() || baseUrl.isLocalFile())
        return true;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace orvik::launcher
