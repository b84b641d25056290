#include "launcher/configuration/configurationplace.h"

#include "launcher/configuration/documenttrustreader.h"

namespace orvik::launcher {

namespace {

QUrl comparable(const QUrl& Url)
{
    QUrl result = TDocumentTrustReader::pinKey(Url);
    // The settings may spell the default port where the configuration does not, or the other
    // way round.
    if ((result.scheme() == QLatin1String("http") && result.port() == 80) ||
        (result.scheme() == QLatin1String("https") && result.port() == 443))
        result.setPort(-1);
    return result;
}

} // namespace

bool isSameDocumentAddress(const QUrl& Left, const QUrl& Right)
{
    return comparable(Left) == comparable(Right);
}

QString placeRefusalReason(const TDocumentTrustReader& Trust, const QUrl& FetchedFrom,
                           const QString& PinnedChannel)
{
    const QUrl& address = Trust.getAddress();
    const QString& channel = Trust.getChannel();
    if (address.isValid() && !FetchedFrom.isEmpty() && !isSameDocumentAddress(address, FetchedFrom))
        return QStringLiteral("it belongs at %1, not at %2")
            .arg(address.toDisplayString(), FetchedFrom.toDisplayString());
    if (!PinnedChannel.isEmpty()) {
        if (channel.isEmpty())
            return QStringLiteral("it names no channel, and the settings pin the channel '%1'")
                .arg(PinnedChannel);
        if (channel != PinnedChannel)
            return QStringLiteral("it belongs to the channel '%1', and the settings pin the "
                                  "channel '%2'")
                .arg(channel, PinnedChannel);
        return {};
    }
    if (!channel.isEmpty() && !address.isValid())
        return QStringLiteral("it belongs to the channel '%1' and names no address, and the "
                              "settings pin no channel")
            .arg(channel);
    return {};
}

} // namespace orvik::launcher
