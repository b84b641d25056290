#pragma once

#include <QString>

namespace eventloopbench {

// A build of about Mebibytes, three quarters in thousands of files of 8 to 64 KiB and the rest in
// files of 1 to 8 MiB, published with the tool at PublisherPath into Directory/cdn. Made once and
// reused; the document's path, or empty when making it failed (said on standard error).
QString preparePublishedBuild(qint64 Mebibytes, const QString& Directory,
                              const QString& PublisherPath);

// An installed package of about Mebibytes written straight into InstallationDirectory, a quarter
// in small files and the rest in files of 64 MiB, with its package document, which is returned
// (empty on failure). Made once and reused.
QByteArray prepareInstalledTree(qint64 Mebibytes, const QString& InstallationDirectory);

} // namespace eventloopbench
