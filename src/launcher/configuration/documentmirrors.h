#pragma once

#include "shared/network/mirrorset.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <optional>

namespace orvik::launcher {

// Where the documents a configuration names (package documents, assets, signatures, hints) are
// asked for when it names mirrors: of the primary first, then of each mirror in turn, until one
// place serves a usable document. Answers are reported under the address the configuration
// named, whichever place served them, so that signatures, pins and relative addresses are
// checked and resolved against the primary's tree as always.
class TDocumentMirrors
{
public:
    TDocumentMirrors(const QUrl& PrimaryFolder, const QList<QUrl>& MirrorFolders);

    bool hasMirrors() const { return m_Places.size() > 1; }
    // The address the configuration named for an address that was asked.
    QUrl namedAddress(const QUrl& Asked) const;
    // For the log: the root of the tree on the place a document was asked of last.
    QString placeAskedLast(const QUrl& Named) const;
    // The address to ask next for a document that failed (Reason, for the log) where it was
    // asked last; none when every place has failed it or it lies outside the tree.
    std::optional<QUrl> nextAddress(const QUrl& Named, const QString& Reason);

private:
    ::shared::TMirrorSet m_Places;
    // The place each document was asked of last; absent for the primary.
    QHash<QUrl, int> m_PlaceOf;
    QHash<QUrl, QUrl> m_NamedOf;
};

} // namespace orvik::launcher
