// Verification of an installed package against the hashing limit of the machine: two
// `openssl dgst -sha256` processes over the same page-cached files.
#include "benchdata.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QtConcurrent>

using namespace installationbench;
using orvik::launcher::TPackageInstallation;

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    keepOnlyWarnings();
    const TBenchSetup setup = setUpBenchmark(application.arguments());
    const TBenchPackage& package = setup.Package;
    QTextStream out(stdout);

    bool passed = true;
    const qint64 verification = timeLauncher(setup, [&] {
        passed = passed &&
                 QtConcurrent::run(setup.Installation.get(), &TPackageInstallation::VerifyPackage,
                                   QDir(package.Directory), package.Helper,
                                   package.Configuration.getFiles())
                     .result()
                     .Passed;
    });
    const double peak = peakResidentMiB();
    const qint64 reference = timeReference(setup);

    out << "verification of " << setup.Gibibytes << " GiB in " << package.Files.size() << " files, "
        << cacheLabel(setup.Cold) << ": " << verification << " ms, openssl x2: " << reference
        << " ms, ratio " << QString::number(double(verification) / double(reference), 'f', 2)
        << (setup.Cold ? " (target <= 1.15)\n" : " (target <= 1.20)\n")
        << "peak resident memory: " << QString::number(peak, 'f', 1) << " MiB\n";
    if (!passed || reference < 0) {
        out << "FAILED: " << (passed ? "openssl did not run" : "verification failed") << "\n";
        return 1;
    }
    return 0;
}
