#pragma once

#include "shared/network/contentencoding.h"

#include <QtGlobal>

namespace orvik::launcher {

// The most the launcher reads of a document whose size nothing vouches for. Bodies are held in
// memory, so each kind gets room for the largest sound document of its kind and no more: an
// endless answer is cut off there instead of taking the machine's memory.
constexpr qint64 kLauncherConfigurationLimit = 4 << 20;
constexpr qint64 kHintsDocumentLimit = 4 << 20;
// A signature is 88 characters of base64; the rest is room for line ends.
constexpr qint64 kSignatureLimit = 4 << 10;
// 200,000 files take about 65 MB; a signed tree pins the exact size instead.
constexpr qint64 kPackageDocumentLimit = qint64(256) << 20;

// JSON documents compress well, and a CDN gzips them when asked; the launcher inflates them
// itself and counts the inflated bytes against their limit. A few megabytes of gzip fill any
// limit, so only a document whose limit the launcher can hold without harm is asked for gzip'ed:
// one of an unsigned tree's package documents may be as long as kPackageDocumentLimit and comes
// as it is, while a signed tree pins the exact size of each.
constexpr qint64 kLargestGzipDocumentLimit = qint64(64) << 20;

constexpr ::shared::EAcceptedEncoding documentEncoding(qint64 Limit)
{
    return Limit <= kLargestGzipDocumentLimit ? ::shared::EAcceptedEncoding::Gzip
                                              : ::shared::EAcceptedEncoding::Identity;
}

} // namespace orvik::launcher
