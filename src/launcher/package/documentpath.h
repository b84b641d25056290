#pragma once

#include <QString>

namespace orvik::launcher {

// Whether a document's "localfile" can name one file of an installation: its last component must
// be a name. An empty path, ".", "dir/..", "dir/." or "dir/" name the installation or one of its
// folders, and installing a file there would replace the folder with everything the player keeps
// in it. Whether the path also stays inside a given installation is the resolver's question.
bool namesFileInInstallation(const QString& LocalFile);

} // namespace orvik::launcher
