// The running launcher's door between two local users: neither side takes the other for the
// player's own.
#include "launcher/startup/runninginstance.h"
#include "otherusers.h"

#include <QtTest>

#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

using orvik::launcher::TRunningInstance;
using testsupport::TOtherUsers;

namespace {

constexpr int kTimeoutMs = 30000;
constexpr uint kOtherUser = 4343;
const char* const kHandOverVariable = "KESTRUN_TEST_HAND_OVER";
const char* const kFakeDoorVariable = "KESTRUN_TEST_FAKE_DOOR";

// Child mode: a later start of another user's, handing its command line to the door in Folder.
int handOver(int argc, char** argv, const QString& Folder)
{
    QCoreApplication application(argc, argv);
    const auto handOver = TRunningInstance::handOver(Folder, {"--patch", "x"}, kTimeoutMs);
    std::cout << "answer: " << handOver.Answer.toStdString() << std::endl;
    return 0;
}

bool setMode(const QString& Path, mode_t Mode)
{
    return ::chmod(QFile::encodeName(Path).constData(), Mode) == 0;
}

} // namespace

class TestRunningInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QProcess::ExitStatus>(); }
    void init()
    {
        if (const QString reason = TOtherUsers::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void doorRefusesAnotherUser()
    {
        // The running launcher acted on any local user's command line that reached its door.
        TOtherUsers users;
        const QString folder = users.path() + "/door";
        QVERIFY(QDir().mkpath(folder));
        // Open to the other user here, as no folder of the launcher's is.
        QVERIFY(setMode(folder, 0711));
        int calls = 0;
        TRunningInstance door(folder, [&calls](const QStringList&) {
            ++calls;
            return QStringLiteral("done taken");
        });
        QVERIFY(door.listen());
        QVERIFY(setMode(folder + "/door", 0777));

        QProcessEnvironment environment = users.environment(kOtherUser);
        environment.insert(kHandOverVariable, folder);
        QVERIFY(users.isValid());
        QProcess later;
        QSignalSpy ended(&later, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        TOtherUsers::start(later, kOtherUser, environment, QCoreApplication::applicationFilePath());
        QVERIFY(ended.wait(kTimeoutMs));
        const QByteArray output = later.readAllStandardOutput();
        QCOMPARE(output.trimmed(), QByteArray("answer:"));
        QCOMPARE(calls, 0);
    }

    void laterStartRefusesAnotherUsersDoor()
    {
        // A later start took any answer at the door's path for its own launcher's.
        TOtherUsers users;
        QProcessEnvironment environment = users.environment(kOtherUser);
        const QString folder = environment.value("HOME");
        environment.insert(kFakeDoorVariable, folder + "/door");
        QVERIFY(users.isValid());
        QProcess fake;
        const auto stop = qScopeGuard([&fake] {
            fake.terminate();
            fake.waitForFinished(kTimeoutMs);
        });
        TOtherUsers::start(fake, kOtherUser, environment, QCoreApplication::applicationFilePath());
        QVERIFY(fake.waitForReadyRead(kTimeoutMs));
        QCOMPARE(fake.readLine().trimmed(), QByteArray("listening"));

        const auto handOver = TRunningInstance::handOver(folder, {"--patch", "x"}, kTimeoutMs);
        QCOMPARE(handOver.Answer, QString());
        QVERIFY2(handOver.Problem.contains("user 4343 answered in its place"),
                 qPrintable(handOver.Problem));
        QVERIFY(!fake.readAllStandardOutput().contains("answered"));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kHandOverVariable))
        return handOver(argc, argv, qEnvironmentVariable(kHandOverVariable));
    if (qEnvironmentVariableIsSet(kFakeDoorVariable))
        return testsupport::serveFakeDoor(argc, argv, qEnvironmentVariable(kFakeDoorVariable));
    QCoreApplication application(argc, argv);
    TestRunningInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runninginstance.moc"
