#include "publisher/configure/trustbinding.h"

#include "publisher/publishererror.h"
#include "shared/hash/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace orvik::publisher {

namespace {

const QLatin1String kTrust("trust");

QJsonObject objectOf(const QByteArray& document)
{
    return QJsonDocument::fromJson(document).object();
}

QJsonObject pinOf(const QString& path, const QString& address)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TPublisherError(QStringLiteral("cannot pin '%1': cannot read '%2': %3")
                                  .arg(address, path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TPublisherError(QStringLiteral("cannot pin '%1': cannot read '%2': %3")
                                  .arg(address, path, file.errorString()));
    return {{QStringLiteral("sha256"), QString::fromLatin1(shared::sha256(bytes).toHex())},
            {QStringLiteral("size"), double(bytes.size())}};
}

// Every document address the configuration names, as written.
QStringList namedAddresses(const QJsonObject& configuration)
{
    QStringList addresses;
    QJsonArray packages = configuration.value(QLatin1String("packages")).toArray();
    if (configuration.value(QLatin1String("launcher")).isObject())
        packages.append(configuration.value(QLatin1String("launcher")));
    for (const QJsonValue& package : packages)
        for (const QJsonValue& build : package.toObject().value(QLatin1String("builds")).toArray())
            for (const char* key : {"url", "assetsurl"})
                addresses.append(build.toObject().value(QLatin1String(key)).toString());
    addresses.append(configuration.value(QLatin1String("hints")).toString());
    addresses.removeAll(QString());
    addresses.removeDuplicates();
    return addresses;
}

// The place the trust object names: the option, or what the previous one named.
QString placeMember(const std::optional<QString>& Option, const QJsonObject& PreviousTrust,
                    const char* Key)
{
    return Option ? Option->trimmed() : PreviousTrust.value(QLatin1String(Key)).toString();
}

// A launcher compares the address it fetched the configuration from with this one.
void checkAddress(const QString& Address)
{
    const QUrl url(Address, QUrl::StrictMode);
    if (!Address.isEmpty() && (!url.isValid() || url.isRelative() || url.host().isEmpty()))
        throw TPublisherError(
            QStringLiteral("address '%1' is not the absolute address the configuration is "
                           "served at")
                .arg(Address));
}

// Launchers read the channel from their settings file, where a comma, a blank or a quote
// would not read back as written.
void checkChannel(const QString& Channel)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._-]*$"));
    if (!name.match(Channel).hasMatch())
        throw TPublisherError(
            QStringLiteral("channel '%1' is not a name of letters, digits, '.', '_' and '-'")
                .arg(Channel));
}

} // namespace

QByteArray bindDocuments(const QByteArray& Document, const QByteArray& Previous,
                         const QString& ConfigurationPath, const TTrustOptions& Options)
{
    if (Options.ExpiresInDays < 1)
        throw TPublisherError(QStringLiteral("a configuration must stay valid for a day at least"));
    QJsonObject configuration = objectOf(Document);
    const QJsonObject previousTrust = objectOf(Previous).value(kTrust).toObject();
    const QJsonObject previousPins = previousTrust.value(QLatin1String("documents")).toObject();
    const QString hints = configuration.value(QLatin1String("hints")).toString();
    const QUrl base = QUrl::fromLocalFile(QFileInfo(ConfigurationPath).absolutePath() + '/');

    QJsonObject pins;
    for (const QString& address : namedAddresses(configuration)) {
        const QUrl resolved = base.resolved(QUrl(address, QUrl::TolerantMode));
        if (address == hints && !Options.HintsFile.isEmpty())
            pins.insert(address, pinOf(Options.HintsFile, address));
        else if (resolved.isLocalFile())
            pins.insert(address, pinOf(resolved.toLocalFile(), address));
        else if (previousPins.contains(address))
            pins.insert(address, previousPins.value(address));
        else
            throw TPublisherError(
                QStringLiteral("cannot pin '%1': it lies outside the tree (name documents "
                               "relative to the configuration, or give the hints with "
                               "--hints-file)")
                    .arg(address));
    }

    // Seconds since the epoch keep the serial growing even when the previous document is lost.
    const qint64 previousSerial = qint64(previousTrust.value(QLatin1String("serial")).toDouble(-1));
    const qint64 serial = std::max(previousSerial + 1, Options.Now.toSecsSinceEpoch());
    QJsonObject trust{{QStringLiteral("serial"), double(serial)},
                      {QStringLiteral("expires"),
                       Options.Now.toUTC().addDays(Options.ExpiresInDays).toString(Qt::ISODate)},
                      {QStringLiteral("documents"), pins}};
    const QString address = placeMember(Options.Address, previousTrust, "address");
    const QString channel = placeMember(Options.Channel, previousTrust, "channel");
    checkAddress(address);
    checkChannel(channel);
    if (!address.isEmpty())
        trust.insert(QStringLiteral("address"), address);
    if (!channel.isEmpty())
        trust.insert(QStringLiteral("channel"), channel);
    configuration.insert(kTrust, trust);
    return QJsonDocument(configuration).toJson(QJsonDocument::Indented);
}

QByteArray withoutTrust(const QByteArray& Document)
{
    QJsonObject configuration = objectOf(Document);
    if (!configuration.contains(kTrust))
        return Document;
    configuration.remove(kTrust);
    return QJsonDocument(configuration).toJson(QJsonDocument::Indented);
}

} // namespace orvik::publisher
