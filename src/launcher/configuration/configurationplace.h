#pragma once

#include <QString>
#include <QUrl>

namespace orvik::launcher {

class TDocumentTrustReader;

// Whether a signed launcher configuration belongs where a launcher found it. A signature and a
// serial alone let the configuration of one tree (beta) be served at the address of another
// (live), as validly signed and as new; a launcher would then install the other tree's builds.
// A configuration is taken where it belongs only:
// - one that names its address is taken only from that address;
// - with a channel pinned by the settings, only one that names that very channel is taken;
// - with none pinned, one that names a channel must also name its address, since the channel
//   alone proves nothing to a launcher that expects none;
// - one that names neither (signed before configurations named their place) is taken only
//   while the settings pin no channel.
//
// Empty when a configuration with this trust may be used by a launcher that fetched it from
// FetchedFrom (empty: not compared, for a tool that checks a tree) and whose settings pin
// PinnedChannel (empty: none); otherwise why not, for the log.
QString placeRefusalReason(const TDocumentTrustReader& Trust, const QUrl& FetchedFrom,
                           const QString& PinnedChannel);

// Two addresses of the same document: query and fragment aside, the default port spelled or not.
bool isSameDocumentAddress(const QUrl& Left, const QUrl& Right);

} // namespace orvik::launcher
