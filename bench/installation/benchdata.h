#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/packageinstallation.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace installationbench {

// A package of pseudo-random files (natural chunk boundaries) with its package document, made
// once in the directory and reused by later runs.
struct TBenchPackage
{
    QString Directory;
    QStringList Files; // absolute paths
    orvik::launcher::TPackageConfigurationReader Configuration;
    std::shared_ptr<orvik::launcher::TLauncherFilesystemHelper> Helper;
};

// Total size in GiB; the data directory defaults to one below the temporary directory.
TBenchPackage preparePackage(int gibibytes, const QString& directory);

// Reads every file once so both contenders find the data in the page cache.
void warmPageCache(const QStringList& files);

// Takes "--cold" out of the arguments: true when it was there and this process may empty the
// page cache (root). When that is refused, says so on standard output and returns false, so the
// run measures page-cached files as without the option.
bool takeColdDiskOption(QStringList& arguments);

// Before each round of a cold run: writes back dirty pages and empties the page cache, so both
// contenders read the files from the disk. False when refused.
bool dropPageCache();

// The label of a run's cache mode for the result lines.
inline QString cacheLabel(bool cold)
{
    return cold ? QStringLiteral("cold disk") : QStringLiteral("page-cached");
}

// Wall time in ms of two `openssl dgst -sha256` processes side by side, each over half of the
// files (balanced by size); -1 when one failed.
qint64 timeOpensslReference(const QStringList& files);

// Best of a few rounds, in ms; -1 when any round failed.
qint64 bestOf(int rounds, const std::function<qint64()>& run);

// The per-file and per-chunk lines of the launcher would drown the results.
void keepOnlyWarnings();

// Peak resident memory of this process so far, in MiB.
double peakResidentMiB();

// What the planning scan and the verification benchmark both start from, made from their
// arguments ([--cold] [GiB, default 2] [data directory]): the installed package and an
// installation to run on it, the page cache warmed unless the run is cold.
struct TBenchSetup
{
    bool Cold = false;
    int Gibibytes = 2;
    TBenchPackage Package;
    std::shared_ptr<orvik::launcher::TPackageInstallation> Installation;
};
TBenchSetup setUpBenchmark(QStringList arguments);

// Before each round of either side: a cold run starts with an empty page cache.
void prepareRound(const TBenchSetup& setup);

// The launcher's side: the best of Rounds timed rounds of Round, in ms.
qint64 timeLauncher(const TBenchSetup& Setup, const std::function<void()>& Round, int Rounds = 3);

// The reference's best of Rounds rounds over the package's files, in ms; -1 when it failed.
qint64 timeReference(const TBenchSetup& setup, int Rounds = 3);

} // namespace installationbench
