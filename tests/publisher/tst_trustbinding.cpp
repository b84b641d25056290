// The binding of a signed launcher configuration to its tree, as configure writes it and as
// verify and launchers read it back.
#include "launcher/configuration/launcherconfigurationreader.h"
#include "publisher/configure/trustbinding.h"
#include "publisher/publishererror.h"
#include "publisher/verify/trustcheck.h"

#include "testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::publisher;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

const QByteArray kConfiguration =
    "{\"packages\": [{\"name\": \"Live\", \"builds\": [{\"os\": \"linux\", \"architecture\": "
    "\"x86_64\", \"url\": \"../live/package-2.json\", \"assetsurl\": \"../live/assets.json\"}]}],"
    " \"hints\": \"https://news.example/hints.json\"}";

QJsonObject trustOf(const QByteArray& document)
{
    return QJsonDocument::fromJson(document).object().value("trust").toObject();
}

} // namespace

class TestTrustBinding : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_Tree.isValid());
        QVERIFY(writeBytes(path("live/package-2.json"), "{\"version\": \"2\", \"files\": []}"));
        QVERIFY(writeBytes(path("live/assets.json"), "{\"version\": 12}"));
        QVERIFY(writeBytes(path("hints.json"), "[]"));
        m_Options = {};
        m_Options.Now = QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
        m_Options.HintsFile = path("hints.json");
    }

    // Catches a serial that does not grow when the studio configures twice within a second, or
    // after the previous document was lost (launchers would refuse the newer one as a replay).
    void serialGrowsAndExpiryFollowsTheOption()
    {
        const QByteArray first = bind(kConfiguration, {});
        const QByteArray second = bind(first, first);
        const qint64 now = m_Options.Now.toSecsSinceEpoch();
        QCOMPARE(qint64(trustOf(first).value("serial").toDouble()), now);
        QCOMPARE(qint64(trustOf(second).value("serial").toDouble()), now + 1);
        QCOMPARE(trustOf(first).value("expires").toString(), QString("2027-01-06T12:00:00Z"));
        QVERIFY(!withoutTrust(first).contains("trust"));
    }

    // Catches a hints address outside the tree that is either left unpinned (launchers with the
    // key would refuse the hints) or silently pinned to nothing.
    void absoluteAddressesNeedAFileOrTheirEarlierPin()
    {
        m_Options.HintsFile.clear();
        QVERIFY_EXCEPTION_THROWN(bind(kConfiguration, {}), TPublisherError);
        const QByteArray pinned = bindWithHints(kConfiguration);
        m_Options.HintsFile.clear();
        const QByteArray kept = bind(pinned, pinned);
        QCOMPARE(
            trustOf(kept).value("documents").toObject().value("https://news.example/hints.json"),
            trustOf(pinned).value("documents").toObject().value("https://news.example/hints.json"));
    }

    // Catches a configure that forgets where the configuration belongs: a scheduled run without
    // --channel or --address dropped the place, and launchers pinning the channel refused it.
    void placeIsWrittenThenKept()
    {
        m_Options.Address = "https://cdn.example/live/launcher/qormetadata.json";
        m_Options.Channel = "live";
        const QByteArray placed = bind(kConfiguration, {});
        QCOMPARE(trustOf(placed).value("address").toString(), *m_Options.Address);
        QCOMPARE(trustOf(placed).value("channel").toString(), QString("live"));
        m_Options.Address.reset();
        m_Options.Channel.reset();
        const QByteArray kept = bind(placed, placed);
        QCOMPARE(trustOf(kept).value("address"), trustOf(placed).value("address"));
        QCOMPARE(trustOf(kept).value("channel"), trustOf(placed).value("channel"));
        m_Options.Channel = "";
        const QByteArray removed = bind(kept, kept);
        QVERIFY(!trustOf(removed).contains("channel"));
        QCOMPARE(trustOf(removed).value("address"), trustOf(placed).value("address"));
    }

    void placeThatLaunchersCannotMatchFails_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("channel");
        QTest::newRow("relative address") << "launcher/qormetadata.json"
                                          << "live";
        QTest::newRow("address without a host") << "https:///qormetadata.json"
                                                << "live";
        // A settings file reads "live, beta" as a list.
        QTest::newRow("channel with a comma") << ""
                                              << "live, beta";
        QTest::newRow("channel with a blank") << ""
                                              << "live beta";
    }
    // Catches a place written that no launcher could ever match: every launcher would refuse.
    void placeThatLaunchersCannotMatchFails()
    {
        QFETCH(QString, address);
        QFETCH(QString, channel);
        m_Options.Address = address;
        m_Options.Channel = channel;
        QVERIFY_EXCEPTION_THROWN(bind(kConfiguration, {}), TPublisherError);
    }

    void verifyReportsWhatLaunchersWouldRefuse_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("fault"); // empty: none
        QTest::newRow("as configured") << ""
                                       << "";
        QTest::newRow("package document changed after configure") << "changed"
                                                                  << "digest differs";
        QTest::newRow("package document republished with another size") << "resized"
                                                                        << "size 3 differs";
        QTest::newRow("expired") << "expired"
                                 << "expired on";
        QTest::newRow("signed the old way") << "unbound"
                                            << "carries no serial";
        QTest::newRow("document named but not pinned") << "unpinned"
                                                       << "without pinning";
    }
    // Catches a verify that passes a tree every launcher with the key would refuse.
    void verifyReportsWhatLaunchersWouldRefuse()
    {
        QFETCH(QString, change);
        QFETCH(QString, fault);
        QByteArray document = bindWithHints(kConfiguration);
        QDateTime now = m_Options.Now;
        if (change == "changed")
            QVERIFY(writeBytes(path("live/package-2.json"), "{\"version\": \"3\", \"files\": []}"));
        if (change == "resized")
            QVERIFY(writeBytes(path("live/package-2.json"), "{ }"));
        if (change == "expired")
            now = now.addDays(31);
        if (change == "unbound")
            document = withoutTrust(document);
        if (change == "unpinned")
            document.replace("\"assetsurl\": \"../live/assets.json\"",
                             "\"assetsurl\": \"../live/assets-13.json\"");
        const QString configuration = path("launcher/qormetadata.json");
        const orvik::launcher::TLauncherConfigurationReader reader(
            document, QUrl::fromLocalFile(path("launcher/")));
        const auto faults = checkTrust(reader, configuration, now);
        QStringList reasons;
        for (const TFault& each : faults)
            reasons << each.Path + ": " + each.Reason;
        if (fault.isEmpty())
            QVERIFY2(faults.empty(), qPrintable(reasons.join('\n')));
        else
            QVERIFY2(reasons.join('\n').contains(fault), qPrintable(reasons.join('\n')));
    }

    void verifyReportsAPlaceLaunchersRefuse_data()
    {
        QTest::addColumn<QString>("address"); // as configured
        QTest::addColumn<QString>("channel"); // as configured
        QTest::addColumn<QString>("expectedAddress");
        QTest::addColumn<QString>("expectedChannel");
        QTest::addColumn<QString>("fault"); // empty: none
        const QString live = "https://cdn.example/live/launcher/qormetadata.json";
        const QString beta = "https://cdn.example/beta/launcher/qormetadata.json";
        QTest::newRow("its address") << live << "" << live << ""
                                     << "";
        QTest::newRow("another address") << beta << "" << live << ""
                                         << "launchers refuse it: it belongs at " + beta;
        QTest::newRow("its channel") << ""
                                     << "live"
                                     << ""
                                     << "live"
                                     << "";
        QTest::newRow("another channel") << live << "beta"
                                         << ""
                                         << "live"
                                         << "launchers refuse it: it belongs to the channel 'beta'";
        QTest::newRow("no channel where one is pinned")
            << live << ""
            << ""
            << "live"
            << "launchers refuse it: it names no channel";
        // Which launchers should take it is not known: nothing to hold it to.
        QTest::newRow("a channel alone, nothing expected") << ""
                                                           << "beta"
                                                           << ""
                                                           << ""
                                                           << "";
        QTest::newRow("a channel alone, launchers pinning none at its address")
            << ""
            << "beta" << live << ""
            << "launchers refuse it: it belongs to the channel 'beta' and names no address";
    }
    // Catches a verify that passes a configuration the launchers it is meant for would refuse.
    void verifyReportsAPlaceLaunchersRefuse()
    {
        QFETCH(QString, address);
        QFETCH(QString, channel);
        QFETCH(QString, expectedAddress);
        QFETCH(QString, expectedChannel);
        QFETCH(QString, fault);
        m_Options.Address = address;
        m_Options.Channel = channel;
        const orvik::launcher::TLauncherConfigurationReader reader(
            bind(kConfiguration, {}), QUrl::fromLocalFile(path("launcher/")));
        const auto faults =
            checkPlace(reader, "qormetadata.json", {QUrl(expectedAddress), expectedChannel});
        QStringList reasons;
        for (const TFault& each : faults)
            reasons << each.Reason;
        QCOMPARE(reasons.size(), fault.isEmpty() ? 0 : 1);
        if (!fault.isEmpty())
            QVERIFY2(reasons.first().startsWith(fault), qPrintable(reasons.first()));
    }

private:
    QString path(const QString& relative) const { return m_Tree.filePath(relative); }
    QByteArray bind(const QByteArray& document, const QByteArray& previous) const
    {
        return bindDocuments(document, previous, path("launcher/qormetadata.json"), m_Options);
    }
    QByteArray bindWithHints(const QByteArray& document)
    {
        m_Options.HintsFile = path("hints.json");
        return bind(document, {});
    }

    QTemporaryDir m_Tree;
    TTrustOptions m_Options;
};

QTEST_GUILESS_MAIN(TestTrustBinding)
#include "tst_trustbinding.moc"
