#pragma once

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// Writes through a temporary file that replaces the target only once complete, so a reader (or
// a download from a live CDN) never sees half a file. Creates missing parent directories.
// Throws TPublisherError.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

// True when the file exists and holds exactly these bytes: writing it again would change nothing.
bool fileHoldsBytes(const QString& path, const QByteArray& bytes);

} // namespace orvik::publisher
