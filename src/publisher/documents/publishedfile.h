#pragma once

#include "publisher/store/storedpiece.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace orvik::publisher {

// A build file once its pieces are in the store: what its document entry is made from.
struct TPublishedFile
{
    QString RelativePath;
    TFileSize Size = 0;
    QByteArray Hash; // SHA-256 of the whole file, raw bytes
    bool Executable = false;
    // Cut into content-defined chunks; otherwise Pieces holds the one whole-file piece.
    bool Chunked = false;
    std::vector<TStoredPiece> Pieces;
};

} // namespace orvik::publisher
