#pragma once

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

enum class EDurability {
    // Flushed to the disk before it replaces the target: documents, which nothing re-checks.
    Synced,
    // Left to the system's cache: containers, whose content every republish checks anyway, and
    // of which a build has thousands that would each wait for the disk.
    Cached
};

// Writes through a temporary file that replaces the target only once complete, so a reader (or
// a download from a live CDN) never sees half a file. Creates missing parent directories.
// Throws TPublisherError.
void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         EDurability durability = EDurability::Synced);

// As writeFileAtomically, for a secret: the file is readable by its owner only from its first
// byte on, and flushed to the disk before it takes its name.
void writePrivateFileAtomically(const QString& path, const QByteArray& bytes);

// True when the file exists and holds exactly these bytes: writing it again would change nothing.
bool fileHoldsBytes(const QString& path, const QByteArray& bytes);

} // namespace orvik::publisher
