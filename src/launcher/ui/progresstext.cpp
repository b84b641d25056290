#include "launcher/ui/progresstext.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>

namespace orvik::launcher::progresstext {

namespace {

constexpr double kKibi = 1024.0;
constexpr double kMebi = kKibi * 1024.0;
constexpr double kGibi = kMebi * 1024.0;

// As the player writes numbers ("1,5" in German), without thousands separators, which would
// read as decimals in the other half of the world.
QString oneDecimal(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 1);
}

} // namespace

QString rateText(double BytesPerSecond)
{
    const double rate = std::max(0.0, BytesPerSecond);
    if (rate > kGibi)
        return QStringLiteral("%1 GB/s").arg(oneDecimal(rate / 1e9));
    if (rate > kMebi)
        return QStringLiteral("%1 MB/s").arg(oneDecimal(rate / 1e6));
    if (rate > kKibi)
        return QStringLiteral("%1 KB/s").arg(oneDecimal(rate / 1e3));
    return QStringLiteral("%1 B/s").arg(qint64(rate));
}

QString megabytesText(TFileSize Done, TFileSize Total)
{
    return QStringLiteral("%1/%2 MB")
        .arg(oneDecimal(double(Done) / 1e6), oneDecimal(double(Total) / 1e6));
}

QString sizeText(TFileSize Bytes)
{
    if (double(Bytes) >= 1e9)
        return QStringLiteral("%1 GB").arg(oneDecimal(double(Bytes) / 1e9));
    return QStringLiteral("%1 MB").arg(oneDecimal(double(Bytes) / 1e6));
}

QString estimateText(const TInstallEstimate& Estimate, bool Update)
{
    // An update may find much of what it needs already in place.
    QString text = Update
                       ? QCoreApplication::translate("progresstext",
                                                     "Download: at most %1\nOn disk: at most %2")
                       : QCoreApplication::translate("progresstext", "Download: %1\nOn disk: %2");
    text = text.arg(sizeText(Estimate.Download), sizeText(Estimate.Write));
    if (!Estimate.SpaceKnown)
        return text;
    text +=
        QStringLiteral("\n") +
        QCoreApplication::translate("progresstext", "Free: %1").arg(sizeText(Estimate.Available));
    if (!Update && !Estimate.fits())
        text += QStringLiteral("\n") +
                QCoreApplication::translate("progresstext", "Not enough free space to install.");
    return text;
}

int barValue(TFileSize Done, TFileSize Total)
{
    if (Total == 0)
        return 0;
    const double value = std::floor(double(Done) / double(Total) * kBarMaximum + 0.5);
    return int(std::min<double>(value, kBarMaximum));
}

} // namespace orvik::launcher::progresstext
