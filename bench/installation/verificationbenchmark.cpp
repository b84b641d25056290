// Verification of an installed package against the hashing limit of the machine: two
// `openssl dgst -sha256` processes over the same page-cached files.
#include "benchdata.h"

#include "launcher/installation/packageinstallation.h"
#include "launcher/package/package.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QtConcurrent>

using namespace installationbench;
using orvik::launcher::TPackageInstallation;

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    keepOnlyWarnings();
    QStringList arguments = application.arguments();
    const bool cold = takeColdDiskOption(arguments);
    const int gibibytes = arguments.size() > 1 ? arguments[1].toInt() : 2;
    const TBenchPackage package =
        preparePackage(gibibytes, arguments.size() > 2 ? arguments[2] : QString());
    QTextStream out(stdout);

    auto installation = std::make_shared<TPackageInstallation>(
        std::make_shared<orvik::launcher::TPackage>(0, QJsonObject(), QUrl()), package.Helper);
    // Cold: every round of either side starts with an empty page cache.
    const auto prepareRound = [&] {
        if (cold)
            dropPageCache();
    };
    if (!cold)
        warmPageCache(package.Files);

    bool passed = true;
    const qint64 verification = bestOf(3, [&] {
        prepareRound();
        QElapsedTimer timer;
        timer.start();
        passed =
            passed && QtConcurrent::run(installation.get(), &TPackageInstallation::VerifyPackage,
                                        QDir(package.Directory), package.Helper,
                                        package.Configuration.getFiles())
                          .result();
        return timer.elapsed();
    });
    const double peak = peakResidentMiB();
    const qint64 reference = bestOf(3, [&] {
        prepareRound();
        return timeOpensslReference(package.Files);
    });

    out << "verification of " << gibibytes << " GiB in " << package.Files.size() << " files, "
        << cacheLabel(cold) << ": " << verification << " ms, openssl x2: " << reference
        << " ms, ratio " << QString::number(double(verification) / double(reference), 'f', 2)
        << (cold ? " (target <= 1.15)\n" : " (target <= 1.20)\n")
        << "peak resident memory: " << QString::number(peak, 'f', 1) << " MiB\n";
    if (!passed || reference < 0) {
        out << "FAILED: " << (passed ? "openssl did not run" : "verification failed") << "\n";
        return 1;
    }
    return 0;
}
