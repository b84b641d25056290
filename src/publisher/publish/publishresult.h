#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QString>

namespace orvik::publisher {

struct TPublishResult
{
    QString PackageDocument; // relative to the CDN directory
    QString AssetsDocument;  // empty without an assets split
    int Files = 0;
    int Pieces = 0; // chunks and whole files, counted where they occur
    int ContainersWritten = 0;
    int ContainersKept = 0;
    int DocumentsWritten = 0;
    int SignaturesWritten = 0;
    TFileSize BytesRead = 0;
    TFileSize PackedBytes = 0;  // of every distinct container the documents list
    TFileSize BytesWritten = 0; // of the containers written in this run
};

} // namespace orvik::publisher
