#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace orvik::launcher {

// Where an installation keeps the remote package document while its reader no longer holds the
// bytes and the partial marker still holds the installed version: beside that marker, named as
// an interrupted write, so that planning removes it when a killed run left it behind.
QString stagedDocumentPath(const QString& PartialMarker);

// Whether the file at Path exists and its SHA-256 is Digest, read a piece at a time.
bool holdsDocument(const QString& Path, const QByteArray& Digest);

// The first of Candidates whose SHA-256 is Digest, read a piece at a time. Throws
// std::runtime_error when none holds it: a marker changed behind the launcher's back is not
// written on as its own.
QString findDocument(const QStringList& Candidates, const QByteArray& Digest);

} // namespace orvik::launcher
