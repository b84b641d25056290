#pragma once

#include <QString>
#include <QStringList>

namespace codecbench {

// A game's real data: Debian's supertuxkart-data package, downloaded with apt-get and unpacked
// with dpkg-deb into Directory once; later runs reuse it. Returns the game's data folder, or an
// empty string after reporting the failure on standard error.
QString prepareRealData(const QString& Directory);

// The build published with the tool at PublisherPath and the codec (as --codec takes it) into
// a tree of its own below Directory, once per codec. Returns the package document's path, or an
// empty string after reporting the failure.
QString publishOnce(const QString& PublisherPath, const QString& Build, const QString& Codec,
                    const QString& Directory);

} // namespace codecbench
