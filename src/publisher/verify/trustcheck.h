#pragma once

#include "publisher/verify/fault.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <vector>

namespace orvik::launcher {
class TLauncherConfigurationReader;
}

namespace orvik::publisher {

// What a launcher with the studio's key would refuse in a signed configuration's binding to the
// tree: no serial, expiry and pins at all, an expiry already past, a document it names without
// a pin, a pinned document missing from the tree or changed since it was pinned. Documents
// outside the tree (the hints, usually) are not read.
std::vector<TFault> checkTrust(const launcher::TLauncherConfigurationReader& Configuration,
                               const QString& ConfigurationDocument, const QDateTime& Now);

// The launchers that should take a configuration: the address they fetch it from (empty:
// unknown) and the channel their settings pin (empty: none, once anything is known).
struct TExpectedPlace
{
    QUrl Address;
    QString Channel;

    bool isKnown() const { return !Address.isEmpty() || !Channel.isEmpty(); }
};

// What those launchers would refuse in the place a signed configuration names: another address,
// another channel, or no channel where they pin one. Nothing when nothing is known of them.
std::vector<TFault> checkPlace(const launcher::TLauncherConfigurationReader& Configuration,
                               const QString& ConfigurationDocument,
                               const TExpectedPlace& Expected);

} // namespace orvik::publisher
