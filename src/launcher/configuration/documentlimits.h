#pragma once

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

} // namespace orvik::launcher
