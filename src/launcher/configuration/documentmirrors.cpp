#include "launcher/configuration/documentmirrors.h"

#include "launcher/logging/logging.h"

#include <QDebug>

namespace orvik::launcher {

TDocumentMirrors::TDocumentMirrors(const QUrl& PrimaryFolder, const QList<QUrl>& MirrorFolders)
    : m_Places(PrimaryFolder, MirrorFolders)
{}

QUrl TDocumentMirrors::namedAddress(const QUrl& Asked) const
{
    return m_NamedOf.value(Asked, Asked);
}

QString TDocumentMirrors::placeAskedLast(const QUrl& Named) const
{
    return m_Places.describe(m_PlaceOf.value(Named, 0));
}

std::optional<QUrl> TDocumentMirrors::nextAddress(const QUrl& Named, const QString& Reason)
{
    const int failed = m_PlaceOf.value(Named, 0);
    const int next = failed + 1;
    qWarning().noquote() << "Download of" << Named.toString() << "failed on base"
                         << m_Places.describe(failed) << Reason << threadSuffix;
    if (next >= m_Places.size())
        return std::nullopt;
    const QUrl address = m_Places.onBase(Named, next);
    if (address == Named)
        return std::nullopt;
    qInfo().noquote() << "Asking base" << m_Places.describe(next) << "for" << Named.toString()
                      << threadSuffix;
    m_PlaceOf.insert(Named, next);
    m_NamedOf.insert(address, Named);
    return address;
}

} // namespace orvik::launcher
