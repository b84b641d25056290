#include "launcherinstall.h"

#include "buildpaths.h"
#include "testfiles.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

namespace testsupport {

TLauncherInstall::TLauncherInstall(const QString& launcherBinary) : m_Path(m_Directory.path())
{
    const QString source =
        launcherBinary.isEmpty() ? QStringLiteral(KESTRUN_LAUNCHER_BINARY) : launcherBinary;
    m_bValid = m_Directory.isValid() && QFile::copy(source, executablePath());
    // Every translation, as the packages carry them: the launcher picks one by the locale.
    for (const char* translation : {"launcher.en.qm", "launcher.de.qm"})
        m_bValid = m_bValid && QFile::copy(QStringLiteral(KESTRUN_BIN_DIR "/") + translation,
                                           m_Directory.filePath(QLatin1String(translation)));
    m_bValid = m_bValid &&
               writeSettings(settingsFor(QUrl(QStringLiteral("http://127.0.0.1:1/closed.json"))));
}

TLauncherInstall::TLauncherInstall(TUnpack, const QString& archive)
{
    QProcess tar;
    tar.setProcessChannelMode(QProcess::MergedChannels);
    tar.start(QStringLiteral("tar"), {"-xzf", archive, "-C", m_Directory.path()});
    const bool unpacked = m_Directory.isValid() && tar.waitForFinished(120000) &&
                          tar.exitStatus() == QProcess::NormalExit && tar.exitCode() == 0;
    if (!unpacked)
        qWarning().noquote() << "could not unpack" << archive << tar.readAll();
    // The archive holds one folder named like itself.
    m_Path = m_Directory.filePath(QFileInfo(archive).fileName().remove(QStringLiteral(".tar.gz")));
    m_bValid = unpacked && QFileInfo(executablePath()).isExecutable() &&
               writeSettings(settingsFor(QUrl(QStringLiteral("http://127.0.0.1:1/closed.json"))));
}

std::unique_ptr<TLauncherInstall> TLauncherInstall::fromBundle(const QString& archive)
{
    return std::unique_ptr<TLauncherInstall>(new TLauncherInstall(TUnpack{}, archive));
}

QByteArray TLauncherInstall::settingsFor(const QUrl& launcherConfiguration)
{
    return "[URLS]\nlauncherConfiguration=" + launcherConfiguration.toEncoded() +
           "\n[DIRECTORIES]\npackages=packages\nsettingsTarget=KestrunOnlineClient_Data/Data/"
           "Settings\n"
           "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\n"
           "assetFile=assets.json\naccountGroupFile=accountgroup.json\n"
           "[TIMING]\nwaitNotificationTimeout=500\ndownloadErrorTimeout=10000\n"
           "clientStartTimeout=30000\n";
}

TLauncherInstall::~TLauncherInstall()
{
    stopAll();
}

void TLauncherInstall::stopAll()
{
    for (const auto& process : m_Processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(30000))
            process->kill();
    }
}

QString TLauncherInstall::executablePath() const
{
    return m_Path + QStringLiteral("/launcher");
}

bool TLauncherInstall::writeSettings(const QByteArray& iniContent)
{
    return writeBytes(m_Path + QStringLiteral("/launchersettings.ini"), iniContent);
}

QProcess& TLauncherInstall::start(const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(directory());
    process->start(executablePath(), arguments);
    m_Processes.push_back(std::move(process));
    return *m_Processes.back();
}

int TLauncherInstall::run(const QStringList& arguments, int timeoutMs)
{
    QProcess& launcher = start(arguments);
    QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    if (!ended.wait(timeoutMs) || launcher.exitStatus() != QProcess::NormalExit) {
        qWarning().noquote() << "launcher did not end well:" << launcher.state()
                             << readBytes(logFilePath()).right(1500);
        return -1;
    }
    return launcher.exitCode();
}

QString TLauncherInstall::logFilePath()
{
    return kestrunDataDirectory() + QStringLiteral("/launcher.log");
}

QByteArray TLauncherInstall::logContent()
{
    return readBytes(logFilePath());
}

} // namespace testsupport
