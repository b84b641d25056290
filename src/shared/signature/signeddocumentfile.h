#pragma once

#include <QByteArray>
#include <QString>

namespace shared::signature {

// A local copy of a signed document and its signature change as a pair: a crash between the two
// renames left a new document beside the old signature, and the offline start refused a copy
// that was intact. The new pair is first written complete beside the old one ("<path>.next" and
// its ".sig"), then the document takes its place, then the signature. Whoever reads the pair
// first completes what a crash cut short, so that it always finds a pair that matches: the old
// one, or the new one.
//
// Replaces the pair at Path; an empty Signature replaces the document alone. Throws the uniform
// I/O error.
void replaceSignedDocument(const QString& Path, const QByteArray& Document,
                           const QByteArray& Signature);

// Finishes or drops a replacement of the pair at Path that was cut short. Throws the uniform I/O
// error.
void completeSignedDocumentReplacement(const QString& Path);

} // namespace shared::signature
