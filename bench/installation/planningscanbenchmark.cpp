// A full planning scan (no fast scan) of a package that is already installed, against the
// hashing limit of the machine: two `openssl dgst -sha256` processes over the same files. The
// scan cuts every file into content-defined chunks on top of the digest; both run in one pass
// over each buffer, so the cutting costs little beyond the digest. Its memory must not grow with
// the package.
#include "benchdata.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QtConcurrent>

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
    const qint64 scan = timeLauncher(setup, [&] {
        const TPackageDifference difference =
            QtConcurrent::run(setup.Installation.get(),
                              &TPackageInstallation::computeRequiredChanges,
                              QDir(package.Directory), package.Helper, package.Configuration,
                              orvik::launcher::TPackageConfigurationReader(), false)
                .result();
        // Everything is in place: a scan that finds anything to fetch is wrong.
        complete =
            complete && difference.m_ErrorMessage.isEmpty() && difference.m_FilesToDownload.empty();
    });
    const double peak = peakResidentMiB();
    const qint64 reference = timeReference(setup);

    out << "planning scan of " << setup.Gibibytes << " GiB in " << package.Files.size()
        << " files, " << cacheLabel(setup.Cold) << ": " << scan << " ms, openssl x2: " << reference
        << " ms, ratio " << QString::number(double(scan) / double(reference), 'f', 2)
        << (setup.Cold ? " (target <= 1.15)\n" : " (target <= 1.10)\n")
        << "peak resident memory of the scan: " << QString::number(peak, 'f', 1)
        << " MiB (target < 300)\n";
    if (!complete || reference < 0) {
        out << "FAILED: " << (complete ? "openssl did not run" : "the scan asked for data") << "\n";
        return 1;
    }
    return 0;
}
