#include "installrun.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/package/package.h"
#include "shared/filesystemhelper/durability.h"
#include "shared/network/mirrorset.h"
#include "shared/platform/memorypolicy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtConcurrent>

#include <sys/resource.h>

namespace installbench {

using namespace orvik::launcher;

namespace {

double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int runInstallChild(const QStringList& Arguments)
{
    // As the launcher's main() does: the peak measured is the launcher's.
    shared::platform::returnLargeBuffersToTheSystem();
    QTextStream out(stdout);
    QFile document(Arguments.value(0));
    if (Arguments.size() < 3 || Arguments.size() > 5 || !document.open(QIODevice::ReadOnly)) {
        out << "install-child: wants a readable document, a base URL and a directory\n";
        return 2;
    }
    const QUrl base(Arguments[1]);
    const TPackageConfigurationReader remote(document.readAll(), QByteArray(), base, base);
    QTemporaryDir settings;
    QFile ini(settings.filePath(QStringLiteral("launchersettings.ini")));
    // The launcher's defaults, spelled out so the measured setting is visible here.
    QString options = Arguments.value(3);
    if (options.isEmpty())
        options = QStringLiteral("maxConcurrentDownloads=10\nmaxCachedChunks=100\n");
    QList<QUrl> mirrors;
    for (const QString& mirror : Arguments.value(4).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        mirrors.append(QUrl(mirror));
    if (!remote.isValid() || !ini.open(QIODevice::WriteOnly) ||
        ini.write("[OPTIONS]\n" + options.toUtf8() + "\n") < 0) {
        out << "install-child: invalid document or no settings\n";
        return 2;
    }
    ini.close();
    auto helper = std::make_shared<TLauncherFilesystemHelper>(settings.path());
    auto package = std::make_shared<TPackage>(0, QJsonObject(), QUrl());
    const QDir directory(Arguments[2]);

    TInstallOutcome outcome;
    {
        TPackageInstallation installation(package, helper);
        installation.setInstallationDirectory(directory);
        if (!mirrors.isEmpty())
            installation.setMirrors(std::make_shared<shared::TMirrorSet>(base, mirrors));
        QEventLoop loop;
        QObject::connect(&installation, &TPackageInstallation::downloadFinished, &loop,
                         &QEventLoop::quit);
        QObject::connect(&installation, &TPackageInstallation::diskAccessFailed, &loop,
                         &QEventLoop::quit);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer timer;
        timer.start();
        installation.startPlanning(remote, TPackageConfigurationReader(), true);
        loop.exec();
        outcome.Milliseconds = timer.elapsed();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        outcome.CpuSeconds = cpuSeconds(after) - cpuSeconds(before);
        outcome.PeakMiB = double(after.ru_maxrss) / 1024.0;
        outcome.Installed = installation.isWithoutError();
        if (outcome.Installed) {
            QStringList files;
            for (const TFileInPackage& file : remote.getFiles())
                files.append(directory.filePath(file.LocalFile));
            QElapsedTimer durable;
            durable.start();
            shared::makeDurable(directory.absolutePath(), files);
            outcome.DurableMilliseconds = durable.elapsed();
        }
        if (outcome.Installed)
            outcome.Verified =
                QtConcurrent::run(&installation, &TPackageInstallation::VerifyPackage, directory,
                                  helper, remote.getFiles())
                    .result()
                    .Passed;
    }
    out << "installed " << int(outcome.Installed) << " verified " << int(outcome.Verified) << " ms "
        << outcome.Milliseconds << " cpu " << outcome.CpuSeconds << " peak " << outcome.PeakMiB
        << " durable " << outcome.DurableMilliseconds << "\n";
    return outcome.Installed && outcome.Verified ? 0 : 1;
}

TInstallOutcome installInChildProcess(const QString& DocumentPath, const QUrl& BaseUrl,
                                      const QString& InstallDirectory, const QString& Options,
                                      const QList<QUrl>& Mirrors)
{
    TInstallOutcome outcome;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{kInstallChildArgument, DocumentPath, BaseUrl.toString(),
                          InstallDirectory};
    QStringList mirrors;
    for (const QUrl& mirror : Mirrors)
        mirrors << mirror.toString();
    if (!Options.isEmpty() || !mirrors.isEmpty())
        arguments << Options;
    if (!mirrors.isEmpty())
        arguments << mirrors.join(QLatin1Char(' '));
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1))
        return outcome;
    const QStringList words =
        QString::fromUtf8(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (words.size() != 12 || words[0] != QLatin1String("installed")) {
        QTextStream(stderr) << "install child said: " << words.join(QLatin1Char(' ')) << "\n";
        return outcome;
    }
    outcome.Installed = words[1] == QLatin1String("1");
    outcome.Verified = words[3] == QLatin1String("1");
    outcome.Milliseconds = words[5].toLongLong();
    outcome.CpuSeconds = words[7].toDouble();
    outcome.PeakMiB = words[9].toDouble();
    outcome.DurableMilliseconds = words[11].toLongLong();
    return outcome;
}

} // namespace installbench
