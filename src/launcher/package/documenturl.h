#pragma once

#include <QString>
#include <QUrl>

namespace orvik::launcher {

// A URL as written in a document: absolute URLs stand as they are; a relative one is appended to
// the path of the directory that holds the document, with exactly one "/" between and no query.
// An empty text gives an empty URL.
QUrl resolveDocumentUrl(const QString& text, const QUrl& baseUrl);

// Whether data named by a document at baseUrl may be fetched from url. A document read from the
// local disk (an installed one) may name anything, the disk included; any other document may name
// only http and https, so a downloaded document cannot have the player's own files copied into
// the package. An empty URL names nothing and passes.
bool isFetchableFromDocument(const QUrl& url, const QUrl& baseUrl);

} // namespace orvik::launcher
