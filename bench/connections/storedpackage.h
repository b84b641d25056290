#pragma once

#include <QString>

namespace connectionsbench {

// A build of incompressible files of 256 to 768 KiB, published stored into Directory/cdn once and
// reused by later runs: every container is about the same size and costs almost no CPU to
// install, so a run measures the network. The document's path, or empty after a failure
// (reported on standard error).
QString prepareStoredPackage(qint64 Mebibytes, const QString& Directory,
                             const QString& PublisherPath);

} // namespace connectionsbench
