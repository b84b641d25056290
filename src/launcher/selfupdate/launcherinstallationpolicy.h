#pragma once

#include "launcher/filesystem/installationpolicy.h"

namespace orvik::launcher {

// How the launcher installs its own package over itself. The running launcher must start again
// whenever it is killed, so none of its files is ever changed in place or missing: the old file
// is kept as ".old" (a failed update puts it back), the new one is written completely under a
// temporary name and renamed over it. Its folder may be one of the player's own, such as their
// downloads, so nothing else is added or swept there.
class TLauncherInstallationPolicy : public TInstallationPolicy
{
public:
    QString prepareFile(::shared::TFileSystemHelper& FileSystem, const QString& Path,
                        bool KeepsContent) const override;
    void completeFile(const QString& WritePath, const QString& Path) const override;
    void removeFile(::shared::TFileSystemHelper& FileSystem, const QString& Path) const override;

    bool replacesWholeFiles() const override { return true; }
    bool ownsDirectory() const override { return false; }
};

} // namespace orvik::launcher
