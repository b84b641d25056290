// The download pool against the local test server: queue order, de-duplication, the bound, slot
// release, one report per download, URL validation, redirects and the transfer time-out.
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "testhttpproxy.h"
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using shared::TDownloadPool;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 15000;

// Remembers every request the pool makes, then lets the real manager run it.
class TRecordingManager : public shared::QNetworkAccessManagerWrapper
{
public:
    TRecordingManager() : QNetworkAccessManagerWrapper(std::make_shared<QNetworkAccessManager>()) {}
    shared::QNetworkReplyWrapper* get(const QNetworkRequest& Request) override
    {
        m_Requests.append(Request);
        return QNetworkAccessManagerWrapper::get(Request);
    }
    QList<QNetworkRequest> m_Requests;
};

std::unique_ptr<TDownloadPool> makePool(int bound, bool releaseSlotOnFinish)
{
    return std::make_unique<TDownloadPool>(bound, std::make_shared<TRecordingManager>(),
                                           releaseSlotOnFinish);
}

// The paths the server was asked for, in arrival order.
QStringList requestedPaths(const TTestHttpServer& server)
{
    QStringList paths;
    for (const auto& request : server.requests())
        paths << request.path;
    return paths;
}

TTestHttpRoute delayedRoute(const QByteArray& body, int delayMs)
{
    TTestHttpRoute route;
    route.body = body;
    route.delayMs = delayMs;
    return route;
}

// Waits until the spy holds at least count signals.
bool waitForCount(QSignalSpy& spy, int count)
{
    while (spy.count() < count)
        if (!spy.wait(kWaitMs))
            return false;
    return true;
}

} // namespace

class TestDownloadPool : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void requeueingMovesWaitingUrl_data();
    void requeueingMovesWaitingUrl();
    void queueingManyUrlsTakesLinearTime();
    void queueingRunningUrlAddsNothing();
    void zeroBoundStartsNothingUntilRaised();
    void manualReleaseHoldsSlotPastSuccess();
    void failingDownloadReportsOnce_data();
    void failingDownloadReportsOnce();
    void retryFromFailedHandlerReportsEachAttemptOnce_data();
    void retryFromFailedHandlerReportsEachAttemptOnce();
    void invalidUrlFailsAtOnce_data();
    void invalidUrlFailsAtOnce();
    void redirectReportsUnderQueuedUrl_data();
    void redirectReportsUnderQueuedUrl();
    void stalledDownloadFailsAfterTransferTimeout();
    void unansweredAuthenticationChallengeFails_data();
    void unansweredAuthenticationChallengeFails();
    void everyDownloadHasItsOwnConnection_data();
    void everyDownloadHasItsOwnConnection();
    void everyConnectionGoesThroughTheProxy();
    void rateLimitHoldsAcrossDownloads();
    void liftedRateLimitAppliesToRunningDownloads();
    void abortAllDropsEverythingSilently_data();
    void abortAllDropsEverythingSilently();
    void requestsCarryDefaultTransferTimeout();
    void bodyPastItsLimitIsCutOff_data();
    void bodyPastItsLimitIsCutOff();
    void bodyArrivesWhole_data();
    void bodyArrivesWhole();

private:
    std::unique_ptr<TTestHttpServer> m_pServer;
};

void TestDownloadPool::init()
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    m_pServer = std::make_unique<TTestHttpServer>();
    QVERIFY(m_pServer->start());
    for (const char* path : {"/a", "/b", "/c", "/d"})
        m_pServer->serve(path, QByteArray("body of ") + path);
}

// Catches a re-queue that duplicates the entry or leaves it in place, also once the places left
// behind by many moves are cleared away; with a bound of 1 the server sees the start order.
// Moves marked "+" are queued with priority.
void TestDownloadPool::requeueingMovesWaitingUrl_data()
{
    QTest::addColumn<QStringList>("moves");
    QTest::addColumn<QStringList>("expectedOrder");
    QTest::newRow("to the back") << QStringList{"/a"} << QStringList{"/b", "/c", "/a"};
    QTest::newRow("to the front") << QStringList{"+/c"} << QStringList{"/c", "/a", "/b"};
    QStringList backAndForth;
    for (int i = 0; i < 200; ++i)
        backAndForth << "/a"
                     << "+/a"
                     << "+/c";
    backAndForth << "/b";
    QTest::newRow("back and forth many times") << backAndForth << QStringList{"/c", "/a", "/b"};
}

void TestDownloadPool::requeueingMovesWaitingUrl()
{
    QFETCH(QStringList, moves);
    QFETCH(QStringList, expectedOrder);
    auto pool = makePool(0, true);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);

    for (const char* path : {"/a", "/b", "/c"})
        pool->queueDownload(m_pServer->url(path));
    for (const QString& move : moves) {
        if (move.startsWith(QLatin1Char('+')))
            pool->queueDownloadWithPriority(m_pServer->url(move.mid(1)));
        else
            pool->queueDownload(m_pServer->url(move));
    }
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(3));

    pool->setMaxConcurrentDownloads(1);
    QVERIFY(waitForCount(succeeded, 3));
    QCOMPARE(requestedPaths(*m_pServer), expectedOrder);
}

// Catches a queue that searches itself for every URL queued: a package of 200,000 small files
// then spent tens of minutes queueing. 100,000 URLs take well under a second when each is
// queued in constant time, and minutes with a search.
void TestDownloadPool::queueingManyUrlsTakesLinearTime()
{
    constexpr int kUrls = 100000;
    auto pool = makePool(0, false);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kUrls; ++i)
        pool->queueDownload(QUrl(QStringLiteral("http://127.0.0.1:1/data/%1").arg(i)), 16);
    pool->queueDownload(QUrl(QStringLiteral("http://127.0.0.1:1/data/0")), 16);
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(kUrls));
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
}

// Catches a second download of a running URL or a second report for it. The sentinel download
// queued behind it proves that any duplicate report would already have arrived.
void TestDownloadPool::queueingRunningUrlAddsNothing()
{
    m_pServer->setRoute("/slow", delayedRoute("slow body", 300));
    auto pool = makePool(1, true);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);

    pool->queueDownload(m_pServer->url("/slow"));
    pool->queueDownload(m_pServer->url("/slow"));
    pool->queueDownloadWithPriority(m_pServer->url("/slow"));
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(1));
    pool->queueDownload(m_pServer->url("/a"));

    QVERIFY(waitForCount(succeeded, 2));
    QCOMPARE(succeeded[0][0].toUrl(), m_pServer->url("/slow"));
    QCOMPARE(succeeded[0][1].toByteArray(), QByteArray("slow body"));
    QCOMPARE(succeeded[1][0].toUrl(), m_pServer->url("/a"));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(requestedPaths(*m_pServer), (QStringList{"/slow", "/a"}));
}

// Catches a pool that starts downloads with a bound of 0, or that starts them out of order or
// beyond the bound once it is raised.
void TestDownloadPool::zeroBoundStartsNothingUntilRaised()
{
    for (const char* path : {"/a", "/b", "/c"})
        m_pServer->setRoute(path, delayedRoute(path, 200));
    auto pool = makePool(0, true);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy received(m_pServer.get(), &TTestHttpServer::requestReceived);

    for (const char* path : {"/a", "/b", "/c"})
        pool->queueDownload(m_pServer->url(path));
    QCOMPARE(pool->getNumberOfActiveDownloads(), 0);
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(3));

    pool->setMaxConcurrentDownloads(2);
    QCOMPARE(pool->getNumberOfActiveDownloads(), 2);
    QVERIFY(waitForCount(received, 2));
    // Both first downloads are held by the server's delay, so the third cannot have started.
    QCOMPARE(m_pServer->requestCount("/c"), 0);
    QStringList started = requestedPaths(*m_pServer);
    started.sort();
    QCOMPARE(started, (QStringList{"/a", "/b"}));

    QVERIFY(waitForCount(succeeded, 3));
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(0));
}

// Catches a manual-release pool that frees the slot on success, or that reacts to releasing a
// URL that holds no slot.
void TestDownloadPool::manualReleaseHoldsSlotPastSuccess()
{
    auto pool = makePool(1, false);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);

    pool->queueDownload(m_pServer->url("/a"));
    pool->queueDownload(m_pServer->url("/b"));
    QVERIFY(waitForCount(succeeded, 1));
    QCOMPARE(succeeded[0][0].toUrl(), m_pServer->url("/a"));
    QCOMPARE(pool->getNumberOfActiveDownloads(), 1);
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(2));

    pool->releaseDownload(m_pServer->url("/c"));
    QCOMPARE(pool->getNumberOfActiveDownloads(), 1);
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(2));
    QCOMPARE(m_pServer->requestCount("/b"), 0);

    pool->releaseDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 2));
    QCOMPARE(succeeded[1][0].toUrl(), m_pServer->url("/b"));
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(1));
}

// Qt reports a failing reply's error and then its finished; each must lead to one failed only.
// With manual release the client may release later, after both have arrived, which is how a
// client that processes results on a worker thread behaves.
void TestDownloadPool::failingDownloadReportsOnce_data()
{
    QTest::addColumn<bool>("releaseSlotOnFinish");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("closeAfterBytes");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::newRow("automatic, 500")
        << true << 500 << qint64(-1) << QNetworkReply::InternalServerError;
    QTest::newRow("automatic, closed mid-body")
        << true << 200 << qint64(10) << QNetworkReply::RemoteHostClosedError;
    QTest::newRow("manual, 404") << false << 404 << qint64(-1)
                                 << QNetworkReply::ContentNotFoundError;
    QTest::newRow("manual, closed mid-body")
        << false << 200 << qint64(10) << QNetworkReply::RemoteHostClosedError;
}

void TestDownloadPool::failingDownloadReportsOnce()
{
    QFETCH(bool, releaseSlotOnFinish);
    QFETCH(int, status);
    QFETCH(qint64, closeAfterBytes);
    QFETCH(QNetworkReply::NetworkError, error);
    TTestHttpRoute route;
    route.status = status;
    route.body = QByteArray(100, 'x');
    route.closeAfterBytes = closeAfterBytes;
    m_pServer->setRoute("/bad", route);
    auto pool = makePool(1, releaseSlotOnFinish);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);
    if (!releaseSlotOnFinish) {
        auto* pPool = pool.get();
        connect(pPool, &TDownloadPool::failed, pPool, [pPool](const QUrl& url) {
            QTimer::singleShot(50, pPool, [pPool, url] { pPool->releaseDownload(url); });
        });
        connect(pPool, &TDownloadPool::success, pPool,
                [pPool](const QUrl& url) { pPool->releaseDownload(url); });
    }

    pool->queueDownload(m_pServer->url("/bad"));
    pool->queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 1));

    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toUrl(), m_pServer->url("/bad"));
    QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(), error);
    QVERIFY(!failed[0][2].toString().isEmpty());
}

// A client that retries from its failed handler queues the URL again while Qt has still to
// deliver the old reply's finished. That late finished must neither report again nor take the
// new download's slot, or the retry's result would be lost.
void TestDownloadPool::retryFromFailedHandlerReportsEachAttemptOnce_data()
{
    QTest::addColumn<bool>("releaseSlotOnFinish");
    QTest::newRow("automatic") << true;
    QTest::newRow("manual") << false;
}

void TestDownloadPool::retryFromFailedHandlerReportsEachAttemptOnce()
{
    QFETCH(bool, releaseSlotOnFinish);
    TTestHttpRoute route;
    route.body = "second time lucky";
    route.failFirst = 1;
    m_pServer->setRoute("/flaky", route);
    auto pool = makePool(2, releaseSlotOnFinish);
    auto* pPool = pool.get();
    connect(pPool, &TDownloadPool::failed, pPool, [pPool](const QUrl& url) {
        pPool->releaseDownload(url);
        pPool->queueDownload(url);
    });
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);

    pool->queueDownload(m_pServer->url("/flaky"));
    QVERIFY(waitForCount(succeeded, 1));
    QCOMPARE(succeeded[0][1].toByteArray(), QByteArray("second time lucky"));
    // A sentinel behind the retry flushes out any late duplicate.
    pool->queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 2));

    QCOMPARE(failed.count(), 1);
    QCOMPARE(m_pServer->requestCount("/flaky"), 2);
}

void TestDownloadPool::invalidUrlFailsAtOnce_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("path only") << QUrl("files/data.bin");
    QTest::newRow("absolute path without host") << QUrl("/files/data.bin");
    QTest::newRow("bad port") << QUrl("http://127.0.0.1:99999999/x");
    QTest::newRow("empty") << QUrl();
}

// Catches an invalid URL that is queued (and reported asynchronously or never) instead of
// failing synchronously without touching the queue.
void TestDownloadPool::invalidUrlFailsAtOnce()
{
    QFETCH(QUrl, url);
    auto pool = makePool(0, true);
    pool->queueDownload(m_pServer->url("/a"));
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);

    pool->queueDownload(url);

    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toUrl(), url);
    QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(),
             QNetworkReply::ProtocolInvalidOperationError);
    QCOMPARE(int(failed[0][1].value<QNetworkReply::NetworkError>()), 302);
    QCOMPARE(failed[0][2].toString(), QString("Invalid URL"));
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(1));
}

// Results belong to the URL the client queued, not to where the server sent the request; and
// the pool must refuse a redirect from HTTPS down to HTTP.
void TestDownloadPool::redirectReportsUnderQueuedUrl_data()
{
    QTest::addColumn<bool>("fromHttps");
    QTest::addColumn<bool>("toHttps");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("http to http") << false << false << true;
    QTest::newRow("http to https") << false << true << true;
    QTest::newRow("https to https") << true << true << true;
    QTest::newRow("https to http refused") << true << false << false;
}

void TestDownloadPool::redirectReportsUnderQueuedUrl()
{
    QFETCH(bool, fromHttps);
    QFETCH(bool, toHttps);
    QFETCH(bool, succeeds);
    TTestHttpServer https(TTestHttpServer::EProtocol::Https);
    QVERIFY(https.start());
    https.serve("/target", "secure target");
    m_pServer->serve("/target", "plain target");
    TTestHttpServer& source = fromHttps ? https : *m_pServer;
    TTestHttpServer& target = toHttps ? https : *m_pServer;
    TTestHttpRoute redirect;
    redirect.redirectTo = target.url("/target").toString();
    source.setRoute("/moved", redirect);
    auto pool = makePool(1, true);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);
    QSignalSpy progressed(pool.get(), &TDownloadPool::progress);

    const QUrl queued = source.url("/moved");
    pool->queueDownload(queued);
    QVERIFY(waitForCount(succeeded, succeeds ? 1 : 0));
    if (succeeds) {
        QCOMPARE(succeeded[0][0].toUrl(), queued);
        QCOMPARE(succeeded[0][1].toByteArray(),
                 QByteArray(toHttps ? "secure target" : "plain target"));
        QCOMPARE(failed.count(), 0);
        QVERIFY(!progressed.isEmpty());
        for (const auto& signal : progressed)
            QCOMPARE(signal[0].toUrl(), queued);
    } else {
        QVERIFY(waitForCount(failed, 1));
        QCOMPARE(failed[0][0].toUrl(), queued);
        QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(),
                 QNetworkReply::InsecureRedirectError);
        QCOMPARE(target.requestCount("/target"), 0);
    }
}

// Without a transfer time-out a connection that goes silent after its headers would hang its
// client forever; with one it fails like any network error.
void TestDownloadPool::stalledDownloadFailsAfterTransferTimeout()
{
    TTestHttpRoute route;
    route.body = QByteArray(10000, 'x');
    route.stallAfterBytes = 1000;
    m_pServer->setRoute("/stall", route);
    auto pool = makePool(1, true);
    pool->setTransferTimeout(300);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);

    pool->queueDownload(m_pServer->url("/stall"));
    pool->queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 1));

    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toUrl(), m_pServer->url("/stall"));
    QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(),
             QNetworkReply::OperationCanceledError);
}

void TestDownloadPool::unansweredAuthenticationChallengeFails_data()
{
    QTest::addColumn<int>("downloads");
    QTest::newRow("one manager") << 1;
    // Beyond six at once the pool adds managers; their challenges must be seen too.
    QTest::newRow("every manager") << 8;
}

// The manager wrapper passes challenges on, but nothing answers them: the download must fail
// with Qt's error rather than hang waiting for credentials.
void TestDownloadPool::unansweredAuthenticationChallengeFails()
{
    QFETCH(int, downloads);
    TTestHttpRoute route;
    route.status = 401;
    route.headers.append(
        qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"x\"")));
    m_pServer->setRoute("/private", route);
    auto manager = std::make_shared<TRecordingManager>();
    TDownloadPool pool(downloads, manager, true);
    int challenges = 0;
    connect(manager.get(), &shared::QNetworkAccessManagerWrapper::authenticationRequired, &pool,
            [&challenges] { ++challenges; });
    QSignalSpy failed(&pool, &TDownloadPool::failed);

    for (int i = 0; i < downloads; ++i)
        pool.queueDownload(m_pServer->url(QStringLiteral("/private?%1").arg(i)));
    QVERIFY(waitForCount(failed, downloads));
    QCOMPARE(challenges, downloads);
    for (const auto& failure : failed)
        QCOMPARE(failure[1].value<QNetworkReply::NetworkError>(),
                 QNetworkReply::AuthenticationRequiredError);
}

void TestDownloadPool::everyDownloadHasItsOwnConnection_data()
{
    QTest::addColumn<int>("bound");
    QTest::newRow("one manager's worth") << 6;
    QTest::newRow("default bound") << 10;
    QTest::newRow("three managers") << 13;
}

// Catches a pool that leaves Qt's six connections per host as they are: with every answer held
// back, the server only sees as many requests at once as the client has connections.
void TestDownloadPool::everyDownloadHasItsOwnConnection()
{
    QFETCH(int, bound);
    TTestHttpRoute route;
    route.body = QByteArray(10000, 'x');
    route.stallAfterBytes = 1000;
    m_pServer->setRoute("/held", route);
    auto pool = makePool(bound, false);
    QSignalSpy received(m_pServer.get(), &TTestHttpServer::requestReceived);

    for (int i = 0; i < bound; ++i)
        pool->queueDownload(m_pServer->url(QStringLiteral("/held?%1").arg(i)));
    QVERIFY(waitForCount(received, bound));
    QCOMPARE(pool->getNumberOfActiveDownloads(), bound);
}

// Catches added managers that ignore the proxy of the one given: behind the proxy, the host
// name exists only for it.
void TestDownloadPool::everyConnectionGoesThroughTheProxy()
{
    testsupport::TTestHttpProxy proxy;
    QVERIFY(proxy.start());
    const QUrl proxyUrl(proxy.address());
    auto manager = std::make_shared<QNetworkAccessManager>();
    manager->setProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, proxyUrl.host(), quint16(proxyUrl.port())));
    TDownloadPool pool(8, std::make_shared<shared::QNetworkAccessManagerWrapper>(manager), true);
    QSignalSpy succeeded(&pool, &TDownloadPool::success);
    QSignalSpy failed(&pool, &TDownloadPool::failed);

    for (int i = 0; i < 8; ++i)
        pool.queueDownload(QUrl(QStringLiteral("http://cdn.kestrun.invalid:%1/a?%2")
                                    .arg(m_pServer->serverPort())
                                    .arg(i)));
    QVERIFY(waitForCount(succeeded, 8));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(proxy.forwarded().size(), 8);
}

// Catches a limit kept per download rather than for the pool: four bodies at once must take
// about as long as their sum at the limit (less what the bucket and the read buffers let pass).
void TestDownloadPool::rateLimitHoldsAcrossDownloads()
{
    m_pServer->serve("/limited", QByteArray(192 * 1024, 'r'));
    auto pool = makePool(4, true);
    pool->setMaxDownloadRate(512 * 1024);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QElapsedTimer timer;
    timer.start();

    for (int i = 0; i < 4; ++i)
        pool->queueDownload(m_pServer->url(QStringLiteral("/limited?%1").arg(i)));
    QVERIFY(waitForCount(succeeded, 4));
    QVERIFY2(timer.elapsed() >= 1000, qPrintable(QString::number(timer.elapsed())));
    for (const auto& success : succeeded)
        QCOMPARE(success[1].toByteArray(), QByteArray(192 * 1024, 'r'));
}

// Catches a new limit that only reaches downloads started later: at the old limit this body
// would take over a minute.
void TestDownloadPool::liftedRateLimitAppliesToRunningDownloads()
{
    m_pServer->serve("/slow", QByteArray(1 << 20, 's'));
    auto pool = makePool(1, true);
    pool->setMaxDownloadRate(16 * 1024);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy progressed(pool.get(), &TDownloadPool::progress);

    pool->queueDownload(m_pServer->url("/slow"));
    QVERIFY(progressed.wait(kWaitMs));
    pool->setMaxDownloadRate(0);
    QVERIFY(waitForCount(succeeded, 1));
    QCOMPARE(succeeded[0][1].toByteArray().size(), 1 << 20);
}

// Catches production pools that run without the time-out: only tests may shorten it.
void TestDownloadPool::requestsCarryDefaultTransferTimeout()
{
    auto manager = std::make_shared<TRecordingManager>();
    TDownloadPool pool(1, manager, true);
    QSignalSpy succeeded(&pool, &TDownloadPool::success);

    pool.queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 1));
    QCOMPARE(manager->m_Requests.size(), 1);
    QCOMPARE(manager->m_Requests[0].transferTimeout(), 60000);
}

void TestDownloadPool::bodyPastItsLimitIsCutOff_data()
{
    QTest::addColumn<bool>("releaseSlotOnFinish");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<qint64>("streamBytes");
    QTest::addColumn<qint64>("stallAfterBytes");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("endless body, automatic release")
        << true << 1000 << TTestHttpRoute::kEndless << qint64(-1) << false;
    QTest::newRow("endless body, manual release")
        << false << 1000 << TTestHttpRoute::kEndless << qint64(-1) << false;
    QTest::newRow("declared body past the limit")
        << true << 100000 << qint64(-1) << qint64(-1) << false;
    // The declared length alone fails it: nothing more comes, and the pool must not wait for it.
    QTest::newRow("declared past the limit, the rest never sent")
        << true << 100000 << qint64(-1) << qint64(10) << false;
    QTest::newRow("body of exactly the limit") << true << 10000 << qint64(-1) << qint64(-1) << true;
}

// Bodies are held in memory until they end: without a limit an endless body grows the process
// until it is killed. It must fail as it passes the limit, once, and free its slot.
void TestDownloadPool::bodyPastItsLimitIsCutOff()
{
    QFETCH(bool, releaseSlotOnFinish);
    QFETCH(int, bodySize);
    QFETCH(qint64, streamBytes);
    QFETCH(qint64, stallAfterBytes);
    QFETCH(bool, succeeds);
    TTestHttpRoute route;
    route.body = QByteArray(bodySize, 'b');
    route.streamBytes = streamBytes;
    route.stallAfterBytes = stallAfterBytes;
    m_pServer->setRoute("/long", route);
    auto pool = makePool(1, releaseSlotOnFinish);
    auto* pPool = pool.get();
    connect(pPool, &TDownloadPool::failed, pPool,
            [pPool](const QUrl& url) { pPool->releaseDownload(url); });
    connect(pPool, &TDownloadPool::success, pPool,
            [pPool](const QUrl& url) { pPool->releaseDownload(url); });
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);
    QSignalSpy progressed(pool.get(), &TDownloadPool::progress);

    pool->queueDownload(m_pServer->url("/long"), 10000);
    // Without a limit of its own, the sentinel shows the limit belongs to one URL only.
    m_pServer->serve("/a", QByteArray(50000, 'a'));
    pool->queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, succeeds ? 2 : 1));
    QCOMPARE(succeeded.last()[0].toUrl(), m_pServer->url("/a"));

    QCOMPARE(failed.count(), succeeds ? 0 : 1);
    if (!succeeds) {
        QCOMPARE(failed[0][0].toUrl(), m_pServer->url("/long"));
        QCOMPARE(failed[0][1].value<QNetworkReply::NetworkError>(),
                 QNetworkReply::UnknownContentError);
        QVERIFY(failed[0][2].toString().contains("longer than the 10000 bytes"));
    }
    for (const auto& signal : progressed)
        if (signal[0].toUrl() == m_pServer->url("/long"))
            QVERIFY(signal[1].toLongLong() <= 10000);
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(0));
}

void TestDownloadPool::bodyArrivesWhole_data()
{
    QTest::addColumn<qint64>("streamBytes");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("rate");
    QTest::newRow("declared length") << qint64(-1) << TDownloadPool::kNoBodyLimit << qint64(0);
    QTest::newRow("declared length, at the limit") << qint64(-1) << qint64(3 << 20) << qint64(0);
    QTest::newRow("no declared length")
        << qint64(3 << 20) << TDownloadPool::kNoBodyLimit << qint64(0);
    QTest::newRow("no declared length, within a limit")
        << qint64(3 << 20) << qint64(4 << 20) << qint64(0);
    // Reads held back by the rate limit resume where the last one ended.
    QTest::newRow("declared length, rate limited")
        << qint64(-1) << TDownloadPool::kNoBodyLimit << qint64(12 << 20);
    QTest::newRow("no declared length, rate limited")
        << qint64(3 << 20) << TDownloadPool::kNoBodyLimit << qint64(12 << 20);
}

// The pool reads a body piece by piece into a buffer it sizes itself: a piece written at the
// wrong offset, a buffer grown without its content, or one not cut to the bytes received would
// hand on a body other than the one sent. Megabytes, so it arrives in many pieces.
void TestDownloadPool::bodyArrivesWhole()
{
    QFETCH(qint64, streamBytes);
    QFETCH(qint64, limit);
    QFETCH(qint64, rate);
    QByteArray body(3 << 20, Qt::Uninitialized);
    quint32 state = 1;
    for (char& byte : body) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    TTestHttpRoute route;
    // Streamed bodies repeat the route's body: one shorter than the stream shows the seams.
    route.body = streamBytes >= 0 ? body.left(100003) : body;
    route.streamBytes = streamBytes;
    m_pServer->setRoute("/whole", route);
    QByteArray expected = route.body;
    while (streamBytes >= 0 && expected.size() < streamBytes)
        expected += route.body;
    if (streamBytes >= 0)
        expected.truncate(int(streamBytes));

    auto pool = makePool(1, true);
    pool->setMaxDownloadRate(rate);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);
    pool->queueDownload(m_pServer->url("/whole"), limit);
    QVERIFY(succeeded.wait(kWaitMs));
    QCOMPARE(failed.count(), 0);
    const QByteArray received = succeeded[0][1].toByteArray();
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
}

void TestDownloadPool::abortAllDropsEverythingSilently_data()
{
    QTest::addColumn<bool>("releaseSlotOnFinish");
    QTest::addColumn<qint64>("rate");
    QTest::newRow("automatic release") << true << qint64(0);
    QTest::newRow("manual release") << false << qint64(0);
    // Reads waiting for the limit must not resume into the dropped downloads.
    QTest::newRow("rate limited") << true << qint64(64 * 1024);
}

// Catches aborted downloads that still report (a paused installation would count them as
// failures and retry them), waiting ones that start later, and a pool left unable to go on.
void TestDownloadPool::abortAllDropsEverythingSilently()
{
    QFETCH(bool, releaseSlotOnFinish);
    QFETCH(qint64, rate);
    TTestHttpRoute route;
    route.body = QByteArray(1 << 20, 'h');
    route.stallAfterBytes = 512 * 1024;
    m_pServer->setRoute("/held", route);
    auto pool = makePool(2, releaseSlotOnFinish);
    pool->setMaxDownloadRate(rate);
    QSignalSpy succeeded(pool.get(), &TDownloadPool::success);
    QSignalSpy failed(pool.get(), &TDownloadPool::failed);
    QSignalSpy received(m_pServer.get(), &TTestHttpServer::requestReceived);

    for (const char* path : {"/held?1", "/held?2", "/b", "/c"})
        pool->queueDownload(m_pServer->url(path));
    QVERIFY(waitForCount(received, 2));
    pool->abortAll();
    QCOMPARE(pool->getNumberOfOutstandingDownloads(), std::size_t(0));

    pool->setMaxDownloadRate(0);
    pool->queueDownload(m_pServer->url("/a"));
    QVERIFY(waitForCount(succeeded, 1));
    QCOMPARE(succeeded[0][0].toUrl(), m_pServer->url("/a"));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(requestedPaths(*m_pServer).filter("/b").size(), 0);
}

QTEST_GUILESS_MAIN(TestDownloadPool)
#include "tst_downloadpool.moc"
