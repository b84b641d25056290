#include "otherusers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool makeFolder(const QString& Path, uint Uid, mode_t Mode)
{
    const QByteArray path = QFile::encodeName(Path);
    return QDir().mkpath(Path) && ::chown(path.constData(), Uid, Uid) == 0 &&
           ::chmod(path.constData(), Mode) == 0;
}

} // namespace

TOtherUsers::TOtherUsers() : m_Directory(QStringLiteral("/tmp/kestrun-users-XXXXXX"))
{
    m_bValid = m_Directory.isValid() && makeFolder(path(), ::getuid(), 0755) &&
               makeFolder(sharedTemporaryFolder(), ::getuid(), 01777);
}

QString TOtherUsers::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("starting programs as another user needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("starting programs as another user needs setpriv");
    return {};
}

QProcessEnvironment TOtherUsers::environment(uint Uid)
{
    const QString home = path() + QStringLiteral("/%1").arg(Uid);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("TMPDIR"), sharedTemporaryFolder());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const std::pair<const char*, mode_t> folders[] = {{"XDG_DATA_HOME", 0755},
                                                      {"XDG_CONFIG_HOME", 0755},
                                                      {"XDG_CACHE_HOME", 0755},
                                                      {"XDG_RUNTIME_DIR", 0700}};
    m_bValid = m_bValid && makeFolder(home, Uid, 0755);
    for (const auto& [variable, mode] : folders) {
        const QString folder = home + QLatin1Char('/') + QString::fromLatin1(variable).toLower();
        m_bValid = m_bValid && makeFolder(folder, Uid, mode);
        environment.insert(QLatin1String(variable), folder);
    }
    return environment;
}

QString TOtherUsers::launcherDataFolder(uint Uid)
{
    return environment(Uid).value(QStringLiteral("XDG_DATA_HOME")) +
           QStringLiteral("/Halvern GmbH/Kestrun Online");
}

void TOtherUsers::start(QProcess& Process, uint Uid, const QProcessEnvironment& Environment,
                        const QString& Program, const QStringList& Arguments)
{
    const QString id = QString::number(Uid);
    Process.setProcessEnvironment(Environment);
    Process.start(QStringLiteral("setpriv"),
                  QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", "--", Program} +
                      Arguments);
}

int serveFakeDoor(int argc, char** argv, const QString& Path)
{
    QCoreApplication application(argc, argv);
    QLocalServer server;
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(Path))
        return 2;
    QObject::connect(&server, &QLocalServer::newConnection, [&server] {
        QLocalSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (!socket->canReadLine())
                return;
            socket->write("done the patch ran\n");
            socket->flush();
            std::cout << "answered" << std::endl;
        });
    });
    std::cout << "listening" << std::endl;
    return application.exec();
}

} // namespace testsupport
