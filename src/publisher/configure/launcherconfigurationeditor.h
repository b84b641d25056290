#pragma once

#include "publisher/configure/configurationedit.h"

#include <QByteArray>

namespace orvik::publisher {

// Applies an edit to a launcher configuration document (empty: a new one) and returns the new
// document. Keys the edit does not name, other packages and their order are kept, so the tool
// can maintain a document that people also edit by hand. Throws TPublisherError when the
// existing document is not a JSON object or the edit names an unknown system or architecture.
QByteArray editLauncherConfiguration(const QByteArray& existing, const TConfigurationEdit& edit);

} // namespace orvik::publisher
