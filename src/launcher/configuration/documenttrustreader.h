#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <map>
#include <optional>

namespace orvik::launcher {

// What a signed launcher configuration vouches for, from its "trust" object. A signature alone
// covers one document's bytes; these bind the whole tree to one publish: the serial grows with
// every publish so an older configuration can be told apart, the expiry keeps a stale one from
// being served forever, and every document the configuration names is pinned by digest and size
// so that no other document, however validly signed, can be served in its place. One key signs
// every tree a studio publishes (live, beta, a test realm), so the configuration also names where
// it belongs: the address it is served at, a channel, or both.
struct TDocumentPin
{
    QByteArray Sha256; // raw
    TFileSize Size = 0;
};

class TDocumentTrustReader
{
public:
    TDocumentTrustReader() = default;
    // Reads the "trust" object of a configuration whose folder is BaseUrl; pinned addresses are
    // resolved against it as build addresses are.
    TDocumentTrustReader(const QJsonObject& Trust, const QUrl& BaseUrl);

    // A configuration signed before serials and pins existed has none of them.
    bool isPresent() const { return m_bPresent; }
    // Why the object cannot be used at all, for the log; empty when it can.
    const QString& getInvalidReason() const { return m_InvalidReason; }
    qint64 getSerial() const { return m_Serial; }
    const QDateTime& getExpires() const { return m_Expires; }
    const std::map<QUrl, TDocumentPin>& getPins() const { return m_Pins; }
    // Where the configuration belongs: the address it is served at (invalid: not named) and
    // its channel (empty: not named).
    const QUrl& getAddress() const { return m_Address; }
    const QString& getChannel() const { return m_Channel; }
    // Signed before configurations named their place, it names neither.
    bool namesPlace() const { return m_Address.isValid() || !m_Channel.isEmpty(); }

    // Empty when Document is exactly the document pinned for Url; otherwise why not, for the log.
    // A query (cache busting) is not part of the address.
    QString refusalReason(const QUrl& Url, const QByteArray& Document) const;
    // The pinned size, for limiting the download; nullopt when Url is not pinned.
    std::optional<TFileSize> pinnedSize(const QUrl& Url) const;

    // The key under which an address is pinned: resolved, without query or fragment.
    static QUrl pinKey(const QUrl& Url);

private:
    // Reads the address and the channel; why they are unusable, or empty.
    QString readPlace(const QJsonObject& Trust);

    bool m_bPresent = false;
    QString m_InvalidReason;
    qint64 m_Serial = -1;
    QDateTime m_Expires;
    QUrl m_Address;
    QString m_Channel;
    std::map<QUrl, TDocumentPin> m_Pins;
};

} // namespace orvik::launcher
