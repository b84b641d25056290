#pragma once

#include <QString>
#include <QUrl>

namespace orvik::launcher {

// A URL as written in a document: absolute URLs stand as they are; a relative one is appended to
// the path of the directory that holds the document, with exactly one "/" between and no query.
// An empty text gives an empty URL.
QUrl resolveDocumentUrl(const QString& text, const QUrl& baseUrl);

} // namespace orvik::launcher
