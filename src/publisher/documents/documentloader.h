#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace orvik::publisher {

// The directory of a local document as a URL, against which its relative URLs resolve.
QUrl directoryUrlOf(const QString& documentPath);

// A document's bytes; throws TPublisherError when it cannot be read.
QByteArray readDocument(const QString& path);

// A build's documents read from the local tree exactly as the launcher reads them from the CDN.
// An empty assetsPath means no assets document. Throws TPublisherError when a document cannot
// be read or is not JSON.
launcher::TPackageConfigurationReader loadBuildDocuments(const QString& packagePath,
                                                         const QString& assetsPath);

} // namespace orvik::publisher
