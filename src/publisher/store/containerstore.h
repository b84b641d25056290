#pragma once

#include "publisher/store/storedpiece.h"
#include "shared/container/containercodec.h"
#include "shared/container/containerwriter.h"

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// The content-addressed half of a CDN tree: "data/<codec>/<xx>/<sha256 of the unpacked bytes>".
// Equal content packed the same way always lands under the same name, so republishing an
// unchanged build writes nothing and versions share their unchanged chunks. Naming by the unpacked
// digest lets a republish skip compression: an existing container is only decoded and checked.
// Safe to call from several threads at once.
class TContainerStore
{
public:
    explicit TContainerStore(const QString& rootDirectory);

    // Throws TPublisherError (or what the container writer throws) on failure.
    // Only the codec names the folder: a container packed at another level or with other
    // settings decodes to the same bytes and is kept.
    TStoredPiece store(const QByteArray& unpacked, const ::shared::TContainerSettings& Codec) const;

    static QString relativeUrlFor(const QByteArray& unpackedHash, ::shared::EContainerCodec codec,
                                  bool empty);

private:
    QString m_RootDirectory;
};

} // namespace orvik::publisher
