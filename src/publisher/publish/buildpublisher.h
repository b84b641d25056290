#pragma once

#include "publisher/publish/publishoptions.h"
#include "publisher/publish/publishresult.h"

namespace orvik::publisher {

// Turns a build directory into containers and documents in the CDN directory. The documents are
// written last and only when every container is in place, so a failed run leaves no document
// that points at missing data. Throws TPublisherError with a one-line reason.
TPublishResult publishBuild(const TPublishOptions& options, const TProgressReporter& progress = {});

} // namespace orvik::publisher
