#include "launcher/configuration/documenttrustreader.h"

#include "launcher/package/documenturl.h"
#include "shared/hash/sha256.h"

#include <QJsonValue>

#include <cmath>

namespace orvik::launcher {

namespace {

// JSON numbers are doubles: only integers below 2^53 survive the trip exactly.
constexpr double kLargestExactInteger = 9007199254740992.0;

std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number >= kLargestExactInteger || std::floor(number) != number)
        return std::nullopt;
    return static_cast<qint64>(number);
}

} // namespace

TDocumentTrustReader::TDocumentTrustReader(const QJsonObject& Trust, const QUrl& BaseUrl)
    : m_bPresent(!Trust.isEmpty())
{
    if (!m_bPresent)
        return;
    const auto serial = wholeNumber(Trust.value(QLatin1String("serial")));
    m_Expires =
        QDateTime::fromString(Trust.value(QLatin1String("expires")).toString(), Qt::ISODate);
    const QJsonValue documents = Trust.value(QLatin1String("documents"));
    if (!serial) {
        m_InvalidReason = QStringLiteral("its serial is not a whole number");
        return;
    }
    if (!m_Expires.isValid()) {
        m_InvalidReason = QStringLiteral("its expiry is not a date and time");
        return;
    }
    if (!documents.isObject()) {
        m_InvalidReason = QStringLiteral("it pins no documents");
        return;
    }
    if (const QString problem = readPlace(Trust); !problem.isEmpty()) {
        m_InvalidReason = problem;
        return;
    }
    m_Serial = *serial;
    const QJsonObject pins = documents.toObject();
    for (auto it = pins.begin(); it != pins.end(); ++it) {
        const QJsonObject pin = it.value().toObject();
        const QByteArray digest =
            QByteArray::fromHex(pin.value(QLatin1String("sha256")).toString().toLatin1());
        const auto size = wholeNumber(pin.value(QLatin1String("size")));
        // Resolved exactly as the build addresses are, so both name a document alike.
        const QUrl address = resolveDocumentUrl(it.key(), BaseUrl);
        if (digest.size() != shared::TSha256::DigestLength || !size || !address.isValid()) {
            m_InvalidReason =
                QStringLiteral("the pin of '%1' is not a digest and a size").arg(it.key());
            m_Pins.clear();
            return;
        }
        m_Pins[pinKey(address)] = {digest, TFileSize(*size)};
    }
}

QString TDocumentTrustReader::readPlace(const QJsonObject& Trust)
{
    const QJsonValue channel = Trust.value(QLatin1String("channel"));
    const QJsonValue address = Trust.value(QLatin1String("address"));
    if (!channel.isUndefined() && channel.toString().isEmpty())
        return QStringLiteral("its channel is not a name");
    if (!address.isUndefined()) {
        m_Address = QUrl(address.toString(), QUrl::StrictMode);
        if (!m_Address.isValid() || m_Address.isRelative())
            return QStringLiteral("its address is not an absolute address");
    }
    m_Channel = channel.toString();
    return {};
}

QUrl TDocumentTrustReader::pinKey(const QUrl& Url)
{
    return Url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::NormalizePathSegments);
}

std::optional<TFileSize> TDocumentTrustReader::pinnedSize(const QUrl& Url) const
{
    const auto found = m_Pins.find(pinKey(Url));
    if (found == m_Pins.end())
        return std::nullopt;
    return found->second.Size;
}

QString TDocumentTrustReader::refusalReason(const QUrl& Url, const QByteArray& Document) const
{
    const auto found = m_Pins.find(pinKey(Url));
    if (found == m_Pins.end())
        return QStringLiteral("not pinned by the launcher configuration");
    if (TFileSize(Document.size()) != found->second.Size)
        return QStringLiteral("size %1 differs from the %2 bytes the launcher configuration pins")
            .arg(Document.size())
            .arg(found->second.Size);
    if (shared::sha256(Document) != found->second.Sha256)
        return QStringLiteral("digest differs from the one the launcher configuration pins");
    return {};
}

} // namespace orvik::launcher
