#include "shared/singleinstance/singleinstanceguard.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUuid>
#include <QtTest>

#include <cstdio>
#include <iostream>
#include <string>

using shared::TSingleInstanceGuard;
using EOutcome = TSingleInstanceGuard::EOutcome;

namespace {

const char* const kHoldGuardVariable = "KESTRUN_TEST_HOLD_GUARD";

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

} // namespace

class TestSingleInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void secondGuardInSameProcess()
    {
        const QString key = uniqueKey();
        {
            TSingleInstanceGuard first(key);
            QCOMPARE(first.acquire(), EOutcome::Acquired);
            // The second one's probing attach must not free the segment the first one holds.
            TSingleInstanceGuard second(key);
            QCOMPARE(second.acquire(), EOutcome::AlreadyRunning);
            TSingleInstanceGuard third(key);
            QCOMPARE(third.acquire(), EOutcome::AlreadyRunning);
        }
        TSingleInstanceGuard afterwards(key);
        QCOMPARE(afterwards.acquire(), EOutcome::Acquired);
    }

    void liveProcessKeepsItsClaim()
    {
        const QString key = uniqueKey();
        QProcess holder;
        startHolder(holder, key);

        TSingleInstanceGuard guard(key);
        QCOMPARE(guard.acquire(), EOutcome::AlreadyRunning);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitCode(), 0);
        TSingleInstanceGuard afterExit(key);
        QCOMPARE(afterExit.acquire(), EOutcome::Acquired);
    }

    void segmentOfKilledProcessIsReclaimed()
    {
        // A killed launcher leaves its segment behind; without reclaiming it every later start
        // would report "already running" until reboot.
        const QString key = uniqueKey();
        QProcess holder;
        startHolder(holder, key);
        holder.kill(); // SIGKILL: no destructor runs
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitStatus(), QProcess::CrashExit);

        TSingleInstanceGuard guard(key);
        QCOMPARE(guard.acquire(), EOutcome::Acquired);
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
