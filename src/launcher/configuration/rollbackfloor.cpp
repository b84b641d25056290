#include "launcher/configuration/rollbackfloor.h"

#include "launcher/configuration/documenttrustreader.h"
#include "launcher/configuration/signaturepolicy.h"
#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/signature/documentsignature.h"
#include "shared/signature/signeddocumentfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>
#include <utility>

namespace orvik::launcher {

TRollbackFloor::TRollbackFloor(::shared::TFileSystemHelper& FileSystem, QString SerialPath,
                               QString LocalCopyPath)
    : m_FileSystem(FileSystem)
    , m_SerialPath(std::move(SerialPath))
    , m_LocalCopyPath(std::move(LocalCopyPath))
{}

THeldSerial TRollbackFloor::highest(const TSignaturePolicy& Policy) const
{
    THeldSerial held{storedSerial(), QFileInfo(m_SerialPath).fileName()};
    if (const qint64 local = localCopySerial(Policy); local > held.Serial)
        held = {local, QFileInfo(m_LocalCopyPath).fileName()};
    return held;
}

void TRollbackFloor::raise(qint64 Serial) const
{
    if (Serial <= storedSerial())
        return;
    m_FileSystem.writeFileAtomically(m_SerialPath, QByteArray::number(Serial) + '\n');
}

qint64 TRollbackFloor::storedSerial() const
{
    try {
        const QByteArray text = m_FileSystem.readFileIfExists(m_SerialPath);
        bool ok = false;
        const qint64 serial = text.trimmed().toLongLong(&ok);
        if (ok && serial >= 0)
            return serial;
        if (!text.isEmpty())
            qWarning() << "Accepted serial unreadable, taken as none:" << m_SerialPath
                       << threadSuffix;
    } catch (const std::runtime_error& error) {
        qWarning() << "Accepted serial unreadable, taken as none:" << error.what() << threadSuffix;
    }
    return -1;
}

qint64 TRollbackFloor::localCopySerial(const TSignaturePolicy& Policy) const
{
    if (!Policy.isRequired())
        return -1;
    try {
        // Whoever reads the pair first finishes a replacement that a crash cut short.
        ::shared::signature::completeSignedDocumentReplacement(m_LocalCopyPath);
        const QByteArray document = m_FileSystem.readFileIfExists(m_LocalCopyPath);
        if (document.isEmpty() ||
            !Policy
                 .refusalReason(document, m_FileSystem.readFileIfExists(
                                              ::shared::signature::signaturePath(m_LocalCopyPath)))
                 .isEmpty())
            return -1;
        const QJsonObject trust =
            QJsonDocument::fromJson(document).object().value(QLatin1String("trust")).toObject();
        const TDocumentTrustReader reader(trust, QUrl::fromLocalFile(m_LocalCopyPath));
        return reader.getInvalidReason().isEmpty() && reader.isPresent() ? reader.getSerial() : -1;
    } catch (const std::runtime_error& error) {
        qWarning() << "Local copy of the launcher configuration unreadable for its serial:"
                   << error.what() << threadSuffix;
    }
    return -1;
}

} // namespace orvik::launcher
