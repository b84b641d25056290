#include "shared/translation/translationmanager.h"

#include "buildpaths.h"

#include <QCoreApplication>
#include <QDate>
#include <QTemporaryDir>
#include <QtTest>

using orvik::shared::TTranslationManager;

class TestTranslationManager : public QObject
{
    Q_OBJECT

private slots:
    void aboutTextsComeFromTheShippedTranslation()
    {
        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher.en", KESTRUN_BIN_DIR));

        const QString title = qtTrId("launcher.about.title");
        QVERIFY(!title.isEmpty());
        QVERIFY(title != "launcher.about.title");

        // The about dialog fills exactly six placeholders; a seventh or a missing one would leave
        // a stray "%n" on screen or swallow an address.
        const QString text = qtTrId("launcher.about.text");
        for (int i = 1; i <= 6; ++i)
            QVERIFY2(text.contains(QStringLiteral("%%1").arg(i)), qPrintable(text));
        QVERIFY(!text.contains("%7"));
        const QString filled = text.arg("2002")
                                   .arg(QDate::currentDate().year())
                                   .arg("https://lgpl.example/", "https://lgpl.example/")
                                   .arg("https://qtbase.example/", "https://qtbase.example/");
        QVERIFY2(!filled.contains(QRegularExpression("%\\d")), qPrintable(filled));
        QCOMPARE(filled.count("https://lgpl.example/"), 2);
    }

    void failedLoadRemovesThePreviousTranslation()
    {
        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher.en", KESTRUN_BIN_DIR));
        QTemporaryDir empty;
        QVERIFY(!manager.installTranslation("launcher.en", empty.path()));
        // Without a translation the identifiers themselves show.
        QCOMPARE(qtTrId("launcher.about.title"), QString("launcher.about.title"));
    }

    void destructionUninstalls()
    {
        {
            TTranslationManager manager;
            QVERIFY(manager.installTranslation("launcher.en", KESTRUN_BIN_DIR));
        }
        QCOMPARE(qtTrId("launcher.about.title"), QString("launcher.about.title"));
    }
};

QTEST_GUILESS_MAIN(TestTranslationManager)
#include "tst_translationmanager.moc"
