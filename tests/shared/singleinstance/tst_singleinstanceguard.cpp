#include "shared/singleinstance/singleinstanceguard.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using shared::TSingleInstanceGuard;
using EOutcome = TSingleInstanceGuard::EOutcome;

namespace {

const char* const kHoldGuardVariable = "KESTRUN_TEST_HOLD_GUARD";
constexpr uint kOtherUser = 65534;

// Child mode: hold the guard for the key in the variable until standard input closes.
int holdGuard(const QString& key)
{
    TSingleInstanceGuard guard(key);
    if (guard.acquire() != EOutcome::Acquired)
        return 2;
    std::cout << "acquired" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

QString uniqueKey()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool isPrivate(const QString& folder)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(folder).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 0777) == 0700;
}

} // namespace

class TestSingleInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_Environment = QProcessEnvironment::systemEnvironment();
        // Each row its own: rows change the folders' owners and modes.
        m_pRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pRoot->isValid());
    }
    void cleanup()
    {
        for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"})
            qputenv(variable, m_Environment.value(variable).toLocal8Bit());
    }

    void secondGuardInSameProcess()
    {
        const QString key = uniqueKey();
        {
            TSingleInstanceGuard first(key);
            QCOMPARE(first.acquire(), EOutcome::Acquired);
            TSingleInstanceGuard second(key);
            QCOMPARE(second.acquire(), EOutcome::AlreadyRunning);
            QCOMPARE(second.folder(), first.folder());
        }
        TSingleInstanceGuard afterwards(key);
        QCOMPARE(afterwards.acquire(), EOutcome::Acquired);
    }

    void liveProcessKeepsItsClaim_data()
    {
        QTest::addColumn<bool>("ownTemporaryFolder");
        QTest::newRow("same temporary folder") << false;
        // The guard followed TMPDIR: the same player ran two launchers at once.
        QTest::newRow("own temporary folder") << true;
    }
    void liveProcessKeepsItsClaim()
    {
        QFETCH(bool, ownTemporaryFolder);
        const QString key = uniqueKey();
        QProcess holder;
        startHolder(holder, key);
        if (ownTemporaryFolder)
            qputenv("TMPDIR", QFile::encodeName(m_pRoot->path()));

        TSingleInstanceGuard guard(key);
        QCOMPARE(guard.acquire(), EOutcome::AlreadyRunning);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitCode(), 0);
        TSingleInstanceGuard afterExit(key);
        QCOMPARE(afterExit.acquire(), EOutcome::Acquired);
    }

    void lockOfKilledProcessIsReclaimed()
    {
        // A killed launcher must not leave anything behind that refuses later starts.
        const QString key = uniqueKey();
        QProcess holder;
        startHolder(holder, key);
        holder.kill(); // SIGKILL: no destructor runs
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitStatus(), QProcess::CrashExit);

        TSingleInstanceGuard guard(key);
        QCOMPARE(guard.acquire(), EOutcome::Acquired);
    }

    void folderIsTheUsersOwn_data()
    {
        QTest::addColumn<QString>("runtime");       // own, unset, other user's, writable by all
        QTest::addColumn<QString>("privateFolder"); // as made, other user's, link, open to all
        QTest::addColumn<bool>("temporaryFolderUnusable");
        QTest::addColumn<QString>("result"); // where the folder is, or why there is none
        QTest::newRow("runtime folder") << "own"
                                        << "as made" << false << "runtime";
        QTest::newRow("no runtime folder") << "unset"
                                           << "as made" << false << "data";
        QTest::newRow("runtime folder of another user") << "other user's"
                                                        << "as made" << false << "data";
        QTest::newRow("runtime folder writable by all") << "writable by all"
                                                        << "as made" << false << "data";
        // A temporary folder that cannot be written aborted the launcher.
        QTest::newRow("temporary folder unusable") << "own"
                                                   << "as made" << true << "runtime";
        QTest::newRow("private folder of another user")
            << "own"
            << "other user's" << false << "belongs to user 65534";
        QTest::newRow("private folder is a link")
            << "own"
            << "link" << false << "cannot be opened as a folder";
        QTest::newRow("private folder open to all") << "own"
                                                    << "open to all" << false << "runtime";
    }
    void folderIsTheUsersOwn()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, privateFolder);
        QFETCH(bool, temporaryFolderUnusable);
        QFETCH(QString, result);
        if ((runtime == "other user's" || privateFolder == "other user's") && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        const QString key = uniqueKey();
        const QByteArray runtimeFolder = QFile::encodeName(m_pRoot->filePath("runtime"));
        QVERIFY(QDir().mkpath(m_pRoot->filePath("runtime")));
        QCOMPARE(::chmod(runtimeFolder.constData(), runtime == "writable by all" ? 0777 : 0700), 0);
        if (runtime == "other user's")
            QCOMPARE(::chown(runtimeFolder.constData(), kOtherUser, kOtherUser), 0);
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
        if (runtime == "unset")
            qunsetenv("XDG_RUNTIME_DIR");
        if (temporaryFolderUnusable) {
            // Not even root can make a file below a file.
            QVERIFY(testsupport::writeBytes(m_pRoot->filePath("file"), "not a folder"));
            qputenv("TMPDIR", QFile::encodeName(m_pRoot->filePath("file")));
        }

        QString made;
        {
            TSingleInstanceGuard first(key);
            QCOMPARE(first.acquire(), EOutcome::Acquired);
            made = first.folder();
        }
        const QByteArray path = QFile::encodeName(made);
        if (privateFolder == "other user's")
            QCOMPARE(::chown(path.constData(), kOtherUser, kOtherUser), 0);
        if (privateFolder == "open to all")
            QCOMPARE(::chmod(path.constData(), 0777), 0);
        if (privateFolder == "link") {
            QVERIFY(QDir().rename(made, made + ".moved"));
            QVERIFY(QFile::link(made + ".moved", made));
        }

        TSingleInstanceGuard guard(key);
        const EOutcome outcome = guard.acquire();
        if (result != "runtime" && result != "data") {
            QCOMPARE(outcome, EOutcome::Failed);
            QVERIFY2(guard.errorString().contains(result), qPrintable(guard.errorString()));
            return;
        }
        QCOMPARE(outcome, EOutcome::Acquired);
        QCOMPARE(guard.folder(), made);
        const QString parent =
            result == "runtime" ? QFile::decodeName(runtimeFolder)
                                : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(QFileInfo(made).path(), parent);
        QVERIFY(isPrivate(made));
        TSingleInstanceGuard second(key);
        QCOMPARE(second.acquire(), EOutcome::AlreadyRunning);
    }

private:
    void startHolder(QProcess& holder, const QString& key)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kHoldGuardVariable, key);
        holder.setProcessEnvironment(environment);
        holder.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(holder.waitForStarted(30000));
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("acquired"));
    }

    QProcessEnvironment m_Environment;
    std::unique_ptr<QTemporaryDir> m_pRoot;
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kHoldGuardVariable))
        return holdGuard(qEnvironmentVariable(kHoldGuardVariable));
    QCoreApplication application(argc, argv);
    TestSingleInstanceGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstanceguard.moc"
