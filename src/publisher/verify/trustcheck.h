#pragma once

#include "publisher/verify/fault.h"

#include <QDateTime>
#include <QString>

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

} // namespace orvik::publisher
