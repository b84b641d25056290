#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// One downloadable piece (a chunk or a whole file) as it lies in the CDN tree.
struct TStoredPiece
{
    QString RelativeUrl; // from the tree's root, where the documents lie
    TFileSize PackedSize = 0;
    QByteArray PackedHash; // SHA-256, raw bytes
    TFileSize UnpackedSize = 0;
    QByteArray UnpackedHash;
    bool Unpack = true;
    // False when an identical container was already there and was kept.
    bool Written = false;
};

} // namespace orvik::publisher
