#include "launcher/package/documenturl.h"

namespace orvik::launcher {

QUrl resolveDocumentUrl(const QString& text, const QUrl& baseUrl)
{
    if (text.isEmpty())
        return {};
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isRelative())
        return url;

    const QString basePath = baseUrl.path();
    const QString relativePath = url.path();
    const bool separate =
        !basePath.endsWith(QLatin1Char('/')) && !relativePath.startsWith(QLatin1Char('/'));
    // A document of many files holds one such URL per file. The path is made at its exact size
    // (the URL keeps the string as given), and the scheme and host stay shared with the base.
    QString path;
    path.reserve(basePath.size() + int(separate) + relativePath.size());
    path += basePath;
    if (separate)
        path += QLatin1Char('/');
    path += relativePath;

    QUrl resolved = baseUrl;
    resolved.setQuery(QString());
    resolved.setFragment(QString());
    resolved.setPath(path);
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
