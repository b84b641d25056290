#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// Local users other than the one running the tests, for what one user's programs may do to
// another's. A user is a bare number, without a passwd entry. Their homes lie in a folder every
// user may enter, outside the test's private temporary folder, beside a temporary folder open to
// all (mode 1777) that stands for a shared /tmp. Switching users needs root and setpriv: CI runs
// the tests as root; elsewhere unavailableReason() says why a test skips.
class TOtherUsers
{
public:
    TOtherUsers();

    // Empty when this machine can start programs as other users.
    static QString unavailableReason();

    bool isValid() const { return m_bValid; }
    // The folder every user may enter.
    QString path() const { return m_Directory.path(); }
    QString sharedTemporaryFolder() const { return path() + QStringLiteral("/tmp"); }

    // The user's own HOME, XDG folders (the runtime one with mode 0700) and the shared temporary
    // folder, made on first use; the rest of this process's environment, headless.
    QProcessEnvironment environment(uint Uid);
    // The launcher's data folder (where its log is) in that user's home.
    QString launcherDataFolder(uint Uid);
    // Starts Program as the user with that environment.
    static void start(QProcess& Process, uint Uid, const QProcessEnvironment& Environment,
                      const QString& Program, const QStringList& Arguments = {});

private:
    QTemporaryDir m_Directory;
    bool m_bValid = false;
};

// Child mode: another user's program posing as the player's launcher. Listens at Path, open to
// every user, and answers each command line as done; writes "listening" once bound and "answered"
// for each command line. Returns only when it cannot listen.
int serveFakeDoor(int argc, char** argv, const QString& Path);

} // namespace testsupport
