#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace orvik::publisher {

struct TTrustOptions
{
    QDateTime Now;
    int ExpiresInDays = 30;
    // The hints document as it will be served at the configuration's hints address, which
    // usually lies outside the tree. Empty: the previous pin of that address is kept.
    QString HintsFile;
    // Where the configuration belongs: the address it will be served at, and its channel, which
    // launchers pin in their settings. Unset: what the previous document named is kept; empty:
    // none is named.
    std::optional<QString> Address;
    std::optional<QString> Channel;
};

// Binds a launcher configuration to one publish before it is signed: a "trust" object with a
// serial that grows with every call, an expiry, and the SHA-256 and size of every document the
// configuration names (package and assets documents of every build, the launcher's own
// included, and the hints). Addresses relative to the configuration are read from the tree
// beside ConfigurationPath. An absolute address keeps the pin the previous document had for
// it; one that was never pinned cannot be vouched for and fails. The trust object also names
// the address and the channel the configuration belongs to, so that launchers take it nowhere
// else. Throws TPublisherError.
QByteArray bindDocuments(const QByteArray& Document, const QByteArray& Previous,
                         const QString& ConfigurationPath, const TTrustOptions& Options);

// The document without its "trust" object: what an unsigned configuration must not carry, as
// its pins would no longer describe the tree once it is edited.
QByteArray withoutTrust(const QByteArray& Document);

} // namespace orvik::publisher
