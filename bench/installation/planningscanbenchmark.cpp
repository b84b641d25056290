// A full planning scan (no fast scan) of a package that is already installed, against the
// hashing limit of the machine: two `openssl dgst -sha256` processes over the same files. The
// scan cuts every file into content-defined chunks on top of the digest; both run in one pass
// over each buffer, so the cutting costs little beyond the digest. Its memory must not grow with
// the package.
#include "benchdata.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QtConcurrent>

#include <sys/resource.h>

#include <algorithm>

namespace {

double cpuSeconds(int Who)
{
    rusage usage{};
    getrusage(Who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

using namespace installationbench;
using orvik::launcher::TPackageDifference;
using orvik::launcher::TPackageInstallation;

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    keepOnlyWarnings();
    const TBenchSetup setup = setUpBenchmark(application.arguments());
    const TBenchPackage& package = setup.Package;
    QTextStream out(stdout);

    bool complete = true;
    const auto scanRound = [&] {
        const TPackageDifference difference =
            QtConcurrent::run(setup.Installation.get(),
                              &TPackageInstallation::computeRequiredChanges,
                              QDir(package.Directory), package.Helper, package.Configuration,
                              orvik::launcher::TPackageConfigurationReader(), false)
                .result();
        // Everything is in place: a scan that finds anything to fetch is wrong.
        complete =
            complete && difference.m_ErrorMessage.isEmpty() && difference.m_FilesToDownload.empty();
    };
    // The sides take turns, so a burst of other work on the machine slows both alike; the best
    // round of each counts.
    qint64 scan = -1;
    qint64 reference = -1;
    // CPU time does not depend on what else the machine runs: a second view of the same ratio.
    const double scanCpuBefore = cpuSeconds(RUSAGE_SELF);
    const double referenceCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    for (int round = 0; round < 5 && (round == 0 || reference >= 0); ++round) {
        const qint64 scanned = timeLauncher(setup, scanRound, 1);
        scan = scan < 0 ? scanned : std::min(scan, scanned);
        const qint64 hashed = timeReference(setup, 1);
        reference = hashed < 0 ? -1 : reference < 0 ? hashed : std::min(reference, hashed);
    }
    const double scanCpu = cpuSeconds(RUSAGE_SELF) - scanCpuBefore;
    const double referenceCpu = cpuSeconds(RUSAGE_CHILDREN) - referenceCpuBefore;
    const double peak = peakResidentMiB();

    out << "planning scan of " << setup.Gibibytes << " GiB in " << package.Files.size()
        << " files, " << cacheLabel(setup.Cold) << ": " << scan << " ms, openssl x2: " << reference
        << " ms, ratio " << QString::number(double(scan) / double(reference), 'f', 2)
        << (setup.Cold ? " (target <= 1.15)\n" : " (target <= 1.10)\n")
        << "CPU time over all rounds: scan " << QString::number(scanCpu, 'f', 1) << " s, openssl "
        << QString::number(referenceCpu, 'f', 1) << " s, ratio "
        << QString::number(scanCpu / std::max(referenceCpu, 0.001), 'f', 2) << "\n"
        << "peak resident memory of the scan: " << QString::number(peak, 'f', 1)
        << " MiB (target < 300)\n";
    if (!complete || reference < 0) {
        out << "FAILED: " << (complete ? "openssl did not run" : "the scan asked for data") << "\n";
        return 1;
    }
    return 0;
}
