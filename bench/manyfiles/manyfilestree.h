#pragma once

#include <QString>

namespace manyfilesbench {

// A CDN tree below Root: one package document listing Entries small files (plus the client
// "bin/client"), each travelling whole and stored, their contents cycling through Containers
// distinct ones. Made once and kept: a later call with the same shape finds it complete.
struct TManyFilesTree
{
    QString Root;
    QString Document; // path below Root
    qint64 DocumentBytes = 0;
};

bool makeManyFilesTree(const QString& Root, int Entries, int Containers, TManyFilesTree& Tree,
                       QString& Error);

} // namespace manyfilesbench
