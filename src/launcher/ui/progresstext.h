#pragma once

#include "launcher/installation/diskspace.h"
#include "shared/filesystemhelper/filesize.h"

#include <QString>

namespace orvik::launcher::progresstext {

// Bars count in ten-thousandths so that a large package still moves visibly.
constexpr int kBarMaximum = 10000;

// The download rate as a tile shows it: binary thresholds, decimal units ("1048.6 KB/s").
QString rateText(double BytesPerSecond);
// "123.5/987.7 MB": done and total in millions of bytes with one decimal.
QString megabytesText(TFileSize Done, TFileSize Total);
// "1.2 GB" or "640.0 MB": a size as a player reads it.
QString sizeText(TFileSize Bytes);
// The lines of a Download or Update button's tool tip: what travels, what lands on the disk and
// what is free there; an update's figures are upper bounds.
QString estimateText(const TInstallEstimate& Estimate, bool Update);
// Done of total in ten-thousandths, halves rounded up; 0 while the total is unknown.
int barValue(TFileSize Done, TFileSize Total);

} // namespace orvik::launcher::progresstext
