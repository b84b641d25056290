#include "publishedgame.h"

#include "buildpaths.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace testsupport {

namespace {

constexpr int kToolTimeoutMs = 120000;

} // namespace

const QString TPublishedGame::kClient = QStringLiteral("KestrunOnlineClient");
const QString TPublishedGame::kWorld = QStringLiteral("data/world.pak");
const QString TPublishedGame::kConfigurationPath = QStringLiteral("/launcher/qormetadata.json");

bool TPublishedGame::makeBuild(const QByteArray& world, QString& error) const
{
    QDir(build()).removeRecursively();
    const bool made = QDir().mkpath(build()) &&
                      QFile::copy(KESTRUN_DEMOCLIENT_BINARY, build() + "/" + kClient) &&
                      writeBytes(build() + "/" + kWorld, world) &&
                      writeBytes(build() + "/KestrunOnlineClient_Data/Data/Settings/settings.json",
                                 "{\"GraphicsAPI\": \"OpenGL\"}") &&
                      writeBytes(build() + "/assets/readme.txt", "Assets of the demo realm.\n");
    error = made ? QString() : QStringLiteral("could not write the build in ") + build();
    return made;
}

// Assets versions start at 11: an assets version of exactly "1" always asks for an update.
bool TPublishedGame::publish(const QString& version, QString& output) const
{
    return runTool(
        KESTRUN_PUBLISHER_BINARY,
        QStringList{"publish",       "--build",           build(),        "--cdn",
                    cdn() + "/live", "--package-version", version,        "--executable",
                    kClient,         "--parameter",       "--exit-after", "--parameter",
                    "500",           "--parameter",       "--realm=eu",   "--assets-prefix",
                    "assets/",       "--assets-version",  "1" + version,  "--codec-rule",
                    "*.pak=lzma",    "--codec",           "deflate"} +
            keyArguments(),
        output);
}

bool TPublishedGame::configure(const QString& version, QString& output,
                               const QStringList& extraArguments) const
{
    return runTool(
        KESTRUN_PUBLISHER_BINARY,
        QStringList{"configure", "--output", cdn() + kConfigurationPath, "--package", "Live",
                    "--directory-name", "live", "--install-automatically", "true", "--build",
                    "linux/x86_64=../live/package-" + version + ".json,../live/package-" + version +
                        "-assets-1" + version + ".json"} +
            keyArguments() + extraArguments,
        output);
}

bool TPublishedGame::publishVersion(const QString& version, const QByteArray& world,
                                    QString& output) const
{
    return makeBuild(world, output) && publish(version, output) && configure(version, output);
}

QStringList TPublishedGame::keyArguments() const
{
    return m_SigningKey.isEmpty() ? QStringList() : QStringList{"--key", m_SigningKey};
}

QString TPublishedGame::packageDocument(const QString& version) const
{
    return cdn() + "/live/package-" + version + ".json";
}

QString TPublishedGame::assetsDocument(const QString& version) const
{
    return cdn() + "/live/package-" + version + "-assets-1" + version + ".json";
}

QByteArray TPublishedGame::pseudoRandom(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

bool TPublishedGame::runTool(const QString& program, const QStringList& arguments, QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kToolTimeoutMs);
    output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace testsupport
