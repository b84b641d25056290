// The download pool against servers that compress their answers: what each request asks for,
// what the pool does with an encoding it did not ask for or a gzip stream that is not sound,
// and gzip bombs that must fail in little memory whatever kind of answer they stand in for.
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "gzipbomb.h"
#include "memorypeak.h"
#include "testhttpserver.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using shared::EAcceptedEncoding;
using shared::TDownloadPool;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 60000;
constexpr qint64 kGiB = qint64(1) << 30;

std::unique_ptr<TDownloadPool> makePool()
{
    return std::make_unique<TDownloadPool>(6,
                                           std::make_shared<shared::QNetworkAccessManagerWrapper>(
                                               std::make_shared<QNetworkAccessManager>()),
                                           true);
}

EAcceptedEncoding accepted(bool Gzip)
{
    return Gzip ? EAcceptedEncoding::Gzip : EAcceptedEncoding::Identity;
}

// Bytes that do not compress, so that even gzip'ed they arrive in many pieces.
QByteArray noise(int Size)
{
    QByteArray bytes(Size, Qt::Uninitialized);
    quint32 state = 7;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

TTestHttpRoute encodedRoute(const QByteArray& Body, const QByteArray& Encoding)
{
    TTestHttpRoute route;
    route.body = Body;
    if (!Encoding.isEmpty())
        route.headers.append(qMakePair(QByteArray("Content-Encoding"), Encoding));
    return route;
}

const QByteArray kDocument = "{\"packages\": [" +
                             QByteArray("{\"name\": \"Live\"}, ").repeated(500) +
                             "{\"name\": \"Last\"}]}";

} // namespace

class TestDownloadPoolEncoding : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qRegisterMetaType<QNetworkReply::NetworkError>();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
    }

    void requestsNameWhatTheyAccept_data()
    {
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<bool>("redirected");
        QTest::newRow("identity") << false << false;
        QTest::newRow("gzip") << true << false;
        QTest::newRow("identity, redirected") << false << true;
        QTest::newRow("gzip, redirected") << true << true;
    }
    // A request that names no encoding gets Qt's own "gzip, deflate", which Qt then inflates
    // without bound; a redirect must not lose what the first request named.
    void requestsNameWhatTheyAccept()
    {
        QFETCH(bool, gzip);
        QFETCH(bool, redirected);
        m_pServer->serve("/document", kDocument);
        TTestHttpRoute redirect;
        redirect.redirectTo = "/document";
        m_pServer->setRoute("/moved", redirect);
        auto pool = makePool();
        QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
        pool->queueDownload(m_pServer->url(redirected ? "/moved" : "/document"), 1 << 20,
                            accepted(gzip));
        QVERIFY(succeeded.wait(kWaitMs));
        const auto requests = m_pServer->requests();
        QCOMPARE(requests.size(), redirected ? 2 : 1);
        for (const auto& request : requests)
            QCOMPARE(request.header("Accept-Encoding"), QByteArray(gzip ? "gzip" : "identity"));
    }

    void bodyArrivesAsSent_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<qint64>("streamBytes");
        QTest::addColumn<qint64>("rate");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray packed = testsupport::gzip(kDocument);
        QTest::newRow("gzip") << packed << QByteArray("gzip") << qint64(-1) << qint64(0)
                              << qint64(1 << 20) << kDocument;
        QTest::newRow("gzip by its older name") << packed << QByteArray("x-gzip") << qint64(-1)
                                                << qint64(0) << qint64(1 << 20) << kDocument;
        QTest::newRow("gzip inflating to exactly the limit")
            << packed << QByteArray("GZip") << qint64(-1) << qint64(0) << qint64(kDocument.size())
            << kDocument;
        QTest::newRow("members one after another")
            << packed + testsupport::gzip("tail") << QByteArray("gzip") << qint64(-1) << qint64(0)
            << qint64(1 << 20) << kDocument + "tail";
        // Without a length the body ends with the connection; the server repeats its body.
        QTest::newRow("members without a length")
            << packed << QByteArray("gzip") << qint64(packed.size()) * 3 << qint64(0)
            << qint64(1 << 20) << kDocument.repeated(3);
        const QByteArray large = noise(3 << 20);
        QTest::newRow("rate limited, in many pieces")
            << testsupport::gzip(large) << QByteArray("gzip") << qint64(-1) << qint64(12 << 20)
            << qint64(4 << 20) << large;
        // A server need not compress what it may.
        QTest::newRow("sent as it is")
            << kDocument << QByteArray() << qint64(-1) << qint64(0) << qint64(1 << 20) << kDocument;
        QTest::newRow("sent as it is, said so") << kDocument << QByteArray("identity") << qint64(-1)
                                                << qint64(0) << qint64(1 << 20) << kDocument;
    }
    // Catches an inflater that drops or repeats pieces across arrivals, members or reads held
    // back by the rate limit, or that counts the compressed bytes against the limit.
    void bodyArrivesAsSent()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, encoding);
        QFETCH(qint64, streamBytes);
        QFETCH(qint64, rate);
        QFETCH(qint64, limit);
        QFETCH(QByteArray, expected);
        TTestHttpRoute route = encodedRoute(body, encoding);
        route.streamBytes = streamBytes;
        m_pServer->setRoute("/document", route);
        auto pool = makePool();
        pool->setMaxDownloadRate(rate);
        QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
        QSignalSpy failed(pool.get(), &TDownloadPool::failed);
        pool->queueDownload(m_pServer->url("/document"), limit, EAcceptedEncoding::Gzip);
        QVERIFY(succeeded.wait(kWaitMs));
        QCOMPARE(failed.count(), 0);
        const QByteArray received = succeeded[0][1].toByteArray();
        QCOMPARE(received.size(), expected.size());
        QVERIFY(received == expected);
    }

    void answerFails_data()
    {
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        const QByteArray packed = testsupport::gzip(kDocument);
        const int unknown = QNetworkReply::UnknownContentError;
        QTest::newRow("gzip, not asked for")
            << false << 200 << QByteArray("gzip") << packed << qint64(1 << 20) << unknown
            << "encoded as \"gzip\", which was not asked for";
        QTest::newRow("brotli") << true << 200 << QByteArray("br") << packed << qint64(1 << 20)
                                << unknown << "encoded as \"br\", which was not asked for";
        QTest::newRow("deflate") << true << 200 << QByteArray("deflate") << packed
                                 << qint64(1 << 20) << unknown << "encoded as \"deflate\"";
        QTest::newRow("gzip twice") << true << 200 << QByteArray("gzip, gzip") << packed
                                    << qint64(1 << 20) << unknown << "encoded as \"gzip, gzip\"";
        QTest::newRow("one byte past the limit")
            << true << 200 << QByteArray("gzip") << packed << qint64(kDocument.size() - 1)
            << unknown
            << QString("longer than the %1 bytes expected once inflated").arg(kDocument.size() - 1);
        QTest::newRow("cut short")
            << true << 200 << QByteArray("gzip") << packed.left(packed.size() - 6)
            << qint64(1 << 20) << unknown << "gzip stream is cut short";
        QTest::newRow("not gzip at all") << true << 200 << QByteArray("gzip") << kDocument
                                         << qint64(1 << 20) << unknown << "not a sound gzip stream";
        // Empty stored blocks inflate to nothing: without a bound on the compressed bytes too, an
        // endless run of them would hold the download forever.
        QTest::newRow("compressed past any honest length")
            << true << 200 << QByteArray("gzip")
            << packed.left(10) + QByteArray("\x00\x00\x00\xff\xff", 5).repeated(20000)
            << qint64(4 << 10) << unknown << "longer than the 4096 bytes expected";
        // The error is the news, whatever its page is encoded in.
        QTest::newRow("error page in an encoding not asked for")
            << false << 404 << QByteArray("br") << packed << qint64(1 << 20)
            << int(QNetworkReply::ContentNotFoundError) << "Not Found";
    }
    void answerFails()
    {
        QFETCH(bool, gzip);
        QFETCH(int, status);
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, body);
        QFETCH(qint64, limit);
        QFETCH(int, code);
        QFETCH(QString, reason);
        TTestHttpRoute route = encodedRoute(body, encoding);
        route.status = status;
        m_pServer->setRoute("/document", route);
        auto pool = makePool();
        QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
        QSignalSpy failed(pool.get(), &TDownloadPool::failed);
        pool->queueDownload(m_pServer->url("/document"), limit, accepted(gzip));
        QVERIFY(failed.wait(kWaitMs));
        QCOMPARE(succeeded.count(), 0);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(int(failed[0][1].value<QNetworkReply::NetworkError>()), code);
        QVERIFY2(failed[0][2].toString().contains(reason), qPrintable(failed[0][2].toString()));
        QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(0));
    }

    void gzipBombFailsInLittleMemory_data()
    {
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("inflated");
        QTest::addColumn<QString>("reason");
        // The limits and encodings of the launcher's kinds of answer.
        struct TKind
        {
            const char* Name;
            bool Gzip;
            qint64 Limit;
        };
        const QString unasked = "which was not asked for";
        // A signed tree pins its package documents' sizes, and gzip is asked for up to 64 MiB.
        for (const TKind& kind : {TKind{"configuration", true, 4 << 20},
                                  TKind{"pinned package document", true, 64 << 20},
                                  TKind{"package document", false, qint64(256) << 20},
                                  TKind{"signature", false, 4 << 10}, TKind{"body", false, 8 << 20},
                                  TKind{"hints", false, 4 << 20}, TKind{"image", false, 4 << 20}})
            for (const qint64 inflated : {3 * kGiB, 10 * kGiB})
                QTest::addRow("%s, %lld GiB", kind.Name, inflated / kGiB)
                    << kind.Gzip << kind.Limit << inflated
                    << (kind.Gzip ? QString("longer than the %1 bytes expected once inflated")
                                        .arg(kind.Limit)
                                  : unasked);
    }
    // Qt inflated a gzip answer on its own thread, without bound, before any limit saw it: a
    // few megabytes took the launcher to gigabytes, and ten gigabytes of zeros killed it.
    void gzipBombFailsInLittleMemory()
    {
        QFETCH(bool, gzip);
        QFETCH(qint64, limit);
        QFETCH(qint64, inflated);
        QFETCH(QString, reason);
        m_pServer->setRoute("/bomb", testsupport::gzipRoute(testsupport::gzipBomb(inflated)));
        auto pool = makePool();
        QSignalSpy failed(pool.get(), &TDownloadPool::failed);
        QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
        QVERIFY(testsupport::resetPeakResident());

        pool->queueDownload(m_pServer->url("/bomb"), limit, accepted(gzip));
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty() || !succeeded.isEmpty() ||
                                     testsupport::peakResidentKiB() >
                                         testsupport::kMemoryCeilingKiB,
                                 kWaitMs);
        const qint64 peak = testsupport::peakResidentKiB();
        qInfo("peak %lld KiB", peak);
        QVERIFY2(peak < testsupport::kMemoryCeilingKiB, qPrintable(QString::number(peak)));
        QCOMPARE(succeeded.count(), 0);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(),
                 QNetworkReply::UnknownContentError);
        QVERIFY2(failed[0][2].toString().contains(reason), qPrintable(failed[0][2].toString()));
    }

private:
    std::unique_ptr<TTestHttpServer> m_pServer;
};

QTEST_GUILESS_MAIN(TestDownloadPoolEncoding)
#include "tst_downloadpoolencoding.moc"
