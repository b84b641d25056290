#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace testsupport {

// A copy of the built launcher in a temporary directory, with its translation beside it,
// to be run as a player would run it.
class TLauncherInstall
{
public:
    // A copy of the given launcher binary (by default the launcher as players get it).
    explicit TLauncherInstall(const QString& launcherBinary = QString());
    // The portable bundle as players get it, unpacked with tar; the install is its folder.
    static std::unique_ptr<TLauncherInstall> fromBundle(const QString& archive);
    // Ends running launchers with SIGTERM, so they release their single-instance lock.
    ~TLauncherInstall();

    bool isValid() const { return m_bValid; }
    QString directory() const { return m_Path; }
    QString executablePath() const;

    // Puts a "launchersettings.ini" with this content beside the executable. Until then the
    // install has settings that point at a closed loopback port, so no test reaches the internet.
    bool writeSettings(const QByteArray& iniContent);
    // Settings as compiled into the launcher, with another configuration address.
    static QByteArray settingsFor(const QUrl& launcherConfiguration);

    // Starts the launcher; it is ended when the install goes away, or by stopAll.
    QProcess& start(const QStringList& arguments = {});
    // Ends every launcher started here that still runs: terminated, killed if it lingers.
    void stopAll();
    // Starts the launcher and waits for its end while this thread's event loop runs, so servers
    // living in it keep answering. Its exit status; -1, with the log's tail as a warning, when
    // it did not end normally in time.
    int run(const QStringList& arguments, int timeoutMs);

    // The log the launcher writes in this test's private per-user data directory.
    static QString logFilePath();
    // What that log holds now; empty when there is none.
    static QByteArray logContent();

private:
    struct TUnpack
    {
    };
    TLauncherInstall(TUnpack, const QString& archive);

    QTemporaryDir m_Directory;
    QString m_Path;
    bool m_bValid = false;
    std::vector<std::unique_ptr<QProcess>> m_Processes;
};

} // namespace testsupport
