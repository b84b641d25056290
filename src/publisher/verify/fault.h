#pragma once

#include <QString>

namespace orvik::publisher {

// One thing wrong in a published tree: where (a document or a container) and what.
struct TFault
{
    QString Path;
    QString Reason;
};

} // namespace orvik::publisher
