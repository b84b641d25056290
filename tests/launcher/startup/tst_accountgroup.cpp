#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/startup/accountgroup.h"

#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using orvik::launcher::TLauncherFilesystemHelper;

namespace {

QStringList g_Messages;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_Messages << message;
}

} // namespace

class TestAccountGroup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::useLauncherIdentity();
        QVERIFY(m_ApplicationDir.isValid());
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<QString>("expectedGroup");
        QTest::addColumn<QStringList>("expectedWarnings");

        QTest::newRow("no file") << QByteArray() << ""
                                 << QStringList{"AccountGroupSetting Error: KeyNotExists"};
        QTest::newRow("key as string")
            << QByteArray("{\"Key\": \"beta-testers\"}") << "beta-testers" << QStringList{};
        QTest::newRow("key as number") << QByteArray("{\"Key\": 5}") << ""
                                       << QStringList{"AccountGroupSetting Error: KeyNoString"};
        QTest::newRow("other member only")
            << QByteArray("{\"Group\": \"x\"}") << ""
            << QStringList{"AccountGroupSetting Error: KeyNotExists"};
        QTest::newRow("empty object")
            << QByteArray("{}") << "" << QStringList{"AccountGroupSetting Error: Empty"};
        QTest::newRow("array") << QByteArray("[]") << ""
                               << QStringList{"JSON file does not contain a valid JSON object.",
                                              "AccountGroupSetting Error: Empty"};
        QTest::newRow("syntax error") << QByteArray("{\"Key\": ") << ""
                                      << QStringList{"JSON parse error: \"unterminated object\"",
                                                     "AccountGroupSetting Error: Empty"};
    }
    void outcomes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expectedGroup);
        QFETCH(QStringList, expectedWarnings);

        TLauncherFilesystemHelper helper(m_ApplicationDir.path());
        QFile::remove(accountGroupPath());
        if (!content.isNull())
            QVERIFY(testsupport::writeBytes(accountGroupPath(), content));

        QCOMPARE(readCapturing(helper), expectedGroup);
        QCOMPARE(g_Messages, expectedWarnings);
    }

    void unopenableFileCountsAsMissingKey()
    {
        QFile::remove(accountGroupPath());
        QVERIFY(QDir().mkpath(accountGroupPath())); // a directory cannot be opened as a file
        TLauncherFilesystemHelper helper(m_ApplicationDir.path());
        QCOMPARE(readCapturing(helper), QString());
        QCOMPARE(g_Messages.size(), 2);
        QVERIFY2(g_Messages[0].startsWith("Failed to open file: "), qPrintable(g_Messages[0]));
        QCOMPARE(g_Messages[1], QString("AccountGroupSetting Error: KeyNotExists"));
        QVERIFY(QDir(accountGroupPath()).removeRecursively());
    }

private:
    static QString accountGroupPath()
    {
        return testsupport::kestrunDataDirectory() + "/accountgroup.json";
    }

    static QString readCapturing(TLauncherFilesystemHelper& helper)
    {
        g_Messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        const QString group = orvik::launcher::readAccountGroup(helper);
        qInstallMessageHandler(previous);
        return group;
    }

    QTemporaryDir m_ApplicationDir;
};

QTEST_GUILESS_MAIN(TestAccountGroup)
#include "tst_accountgroup.moc"
