#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

// Where an installation keeps the remote package document while its reader no longer holds the
// bytes and the partial marker still holds the installed version: beside that marker, named as
// an interrupted write, so that planning removes it when a killed run left it behind.
QString stagedDocumentPath(const QString& PartialMarker);

// The content of the first of Candidates whose SHA-256 is Digest. Throws std::runtime_error when
// none holds it: a marker changed behind the launcher's back is not written on as its own.
QByteArray readDocumentBack(::shared::TFileSystemHelper& FileSystem, const QStringList& Candidates,
                            const QByteArray& Digest);

} // namespace orvik::launcher
