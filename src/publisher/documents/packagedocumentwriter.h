#pragma once

#include "publisher/documents/publishedfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace orvik::publisher {

struct TPackageDocumentHeader
{
    QString Version;
    QString Executable;
    QStringList Parameters;
    QString Generation;
    QString Variant;
};

// The package document for files sorted by path. Equal input gives equal bytes: object keys come
// out sorted and arrays keep the order given.
QByteArray writePackageDocument(const TPackageDocumentHeader& header,
                                const std::vector<TPublishedFile>& files);

// The assets document. Its chunk indexes count on from the package document's chunk list,
// because the launcher reads both lists as one; chunkIndexOffset is that list's length.
QByteArray writeAssetsDocument(const QString& version, const std::vector<TPublishedFile>& files,
                               int chunkIndexOffset);

// How many chunk entries the package document for these files lists.
int countDocumentChunks(const std::vector<TPublishedFile>& files);

} // namespace orvik::publisher
