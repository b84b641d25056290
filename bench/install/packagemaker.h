#pragma once

#include <QString>

namespace installbench {

// A build published into a CDN tree once and reused by later runs.
struct TPublishedPackage
{
    QString CdnDirectory;
    QString DocumentPath; // empty when making the package failed
};

// A build of about the given size (game-like mix of incompressible, text-like and structured
// data; DEFLATE, LZMA and stored files) published with the tool at PublisherPath into a tree
// below Directory. Failures are reported on standard error.
TPublishedPackage preparePublishedPackage(qint64 Mebibytes, const QString& Directory,
                                          const QString& PublisherPath);

} // namespace installbench
