#include "shared/signature/signeddocumentfile.h"

#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/signature/documentsignature.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace shared::signature {

namespace {

QString nextPath(const QString& Path)
{
    return Path + QStringLiteral(".next");
}

// Renamed and made durable: each step of the replacement is on the disk before the next.
void moveInPlace(const QString& From, const QString& To)
{
    if (std::rename(QFile::encodeName(From).constData(), QFile::encodeName(To).constData()) != 0)
        throw ioError(To, QString::fromLocal8Bit(std::strerror(errno)));
    syncDirectory(QFileInfo(To).absolutePath());
}

} // namespace

void completeSignedDocumentReplacement(const QString& Path)
{
    const QString next = nextPath(Path);
    const QString nextSignature = signaturePath(next);
    // Each of the two is there only complete: they are written through replaceFileAtomically.
    const bool hasDocument = QFileInfo::exists(next);
    const bool hasSignature = QFileInfo::exists(nextSignature);
    if (hasDocument && !hasSignature) {
        // The new pair was never complete: the old one stands.
        QFile::remove(next);
        return;
    }
    if (hasDocument)
        moveInPlace(next, Path);
    if (hasSignature)
        moveInPlace(nextSignature, signaturePath(Path));
}

void replaceSignedDocument(const QString& Path, const QByteArray& Document,
                           const QByteArray& Signature)
{
    completeSignedDocumentReplacement(Path);
    if (Signature.isEmpty()) {
        replaceFileAtomically(Path, Document);
        return;
    }
    const QString next = nextPath(Path);
    replaceFileAtomically(next, Document);
    replaceFileAtomically(signaturePath(next), Signature);
    completeSignedDocumentReplacement(Path);
}

} // namespace shared::signature
