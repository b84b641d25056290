#pragma once

#include "shared/filesystemhelper/filereplacement.h"

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// Documents are Synced: nothing checks them again. Containers are Cached: every republish checks
// their content anyway, and a build has thousands that would each wait for the disk.
using ::shared::EDurability;

// Writes through a temporary file that replaces the target only once complete, so a reader (or
// a download from a live CDN) never sees half a file. Creates missing parent directories; the
// file is readable by the web server that serves the tree. Throws TPublisherError.
void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         EDurability durability = EDurability::Synced);

// As writeFileAtomically, for a secret: the file is readable by its owner only from its first
// byte on, and flushed to the disk before it takes its name.
void writePrivateFileAtomically(const QString& path, const QByteArray& bytes);

// True when the file exists and holds exactly these bytes: writing it again would change nothing.
bool fileHoldsBytes(const QString& path, const QByteArray& bytes);

} // namespace orvik::publisher
