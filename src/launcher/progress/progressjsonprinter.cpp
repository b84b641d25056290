#include "launcher/progress/progressjsonprinter.h"

#include "launcher/download/packagefiledownloader.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/progress/linewriter.h"
#include "shared/network/mirrorset.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

namespace orvik::launcher {

namespace {

QString errorReasonText(const TPackageInstallation& Installation)
{
    if (Installation.isWithoutError())
        return {};
    switch (Installation.getErrorReason()) {
    case EPackageDownloaderError::DownloadFailed:
        return QStringLiteral("download");
    case EPackageDownloaderError::SavingOperationFailed:
        return QStringLiteral("saving");
    case EPackageDownloaderError::VerificationFailed:
        return QStringLiteral("verification");
    case EPackageDownloaderError::Stopped:
        return QStringLiteral("stopped");
    case EPackageDownloaderError::NoError:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace

TProgressJsonPrinter::TProgressJsonPrinter(std::unique_ptr<TLineWriter> Output, TClock Clock)
    : m_pOutput(std::move(Output)), m_Clock(std::move(Clock))
{
    if (!m_Clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_Clock = [timer] { return timer->elapsed(); };
    }
}

TProgressJsonPrinter::~TProgressJsonPrinter() = default;

void TProgressJsonPrinter::print(const QJsonObject& Object)
{
    m_pOutput->writeLine(QJsonDocument(Object).toJson(QJsonDocument::Compact));
}

void TProgressJsonPrinter::printConfigurationLoaded(bool Local, int Packages)
{
    print({{QStringLiteral("event"), QStringLiteral("configuration")},
           {QStringLiteral("source"), Local ? QStringLiteral("local") : QStringLiteral("remote")},
           {QStringLiteral("packages"), Packages}});
}

void TProgressJsonPrinter::printClientStarted(const QString& Path, const QStringList& Arguments)
{
    print({{QStringLiteral("event"), QStringLiteral("client-started")},
           {QStringLiteral("path"), Path},
           {QStringLiteral("arguments"), QJsonArray::fromStringList(Arguments)}});
}

void TProgressJsonPrinter::printExit(int Status)
{
    print({{QStringLiteral("event"), QStringLiteral("exit")}, {QStringLiteral("status"), Status}});
}

void TProgressJsonPrinter::watch(TInstallationManager* pManager)
{
    connect(pManager, &TInstallationManager::installationOrUpdateStarted, this,
            &TProgressJsonPrinter::onInstallationStarted);
    connect(pManager, &TInstallationManager::installationOrUpdateFinished, this,
            [this](TPackageInstallation* pInstallation) {
                onFinished(pInstallation->getPackage()->getName(), errorReasonText(*pInstallation),
                           pInstallation->getFailureDetail());
            });
}

void TProgressJsonPrinter::onInstallationStarted(TPackageInstallation* pInstallation)
{
    const QString package = pInstallation->getPackage()->getName();
    beginPackage(package);
    // Scan and verification progress is sent from pool threads: queued, it is read here.
    const auto phase = [this, package](const QString& name) {
        return [this, package, name](TFileSize Done, TFileSize Total) {
            onProgress(package, name, Done, Total);
        };
    };
    connect(pInstallation, &TPackageInstallation::scanProgress, this, phase(QStringLiteral("scan")),
            Qt::QueuedConnection);
    connect(pInstallation, &TPackageInstallation::verificationProgress, this,
            phase(QStringLiteral("verify")), Qt::QueuedConnection);
    connect(
        &pInstallation->getPackageFileDownloader(), &TPackageFileDownloader::failedOnBase, this,
        [this, package](const QUrl& Url, const QString& Base, const QString& Reason,
                        bool SetAside) { onFailedOnBase(package, Url, Base, Reason, SetAside); });
    connect(pInstallation, &TPackageInstallation::downloadPlanned, this,
            [this, package](TFileSize Download, TFileSize Write) {
                onPlanned(package, Download, Write);
            });
    connect(&pInstallation->getPackageFileDownloader(), &TPackageFileDownloader::progress, this,
            [this, package](TFileSize Downloaded, TFileSize ToDownload, TFileSize Written,
                            TFileSize ToWrite) {
                // As the tile shows it: writing is what is left once every byte has arrived.
                if (Downloaded < ToDownload)
                    onProgress(package, QStringLiteral("download"), Downloaded, ToDownload);
                else
                    onProgress(package, QStringLiteral("write"), Written, ToWrite);
            });
}

void TProgressJsonPrinter::onPlanned(const QString& Package, TFileSize BytesToDownload,
                                     TFileSize BytesToWrite)
{
    print({{QStringLiteral("event"), QStringLiteral("started")},
           {QStringLiteral("package"), Package},
           {QStringLiteral("download"), double(BytesToDownload)},
           {QStringLiteral("write"), double(BytesToWrite)}});
}

void TProgressJsonPrinter::onFailedOnBase(const QString& Package, const QUrl& Url,
                                          const QString& BaseRoot, const QString& Reason,
                                          bool SetAside)
{
    QJsonObject failed{{QStringLiteral("event"), QStringLiteral("base-failed")},
                       {QStringLiteral("base"), BaseRoot},
                       {QStringLiteral("url"), Url.toString()},
                       {QStringLiteral("reason"), Reason}};
    if (!Package.isEmpty())
        failed.insert(QStringLiteral("package"), Package);
    print(failed);
    if (SetAside)
        print({{QStringLiteral("event"), QStringLiteral("base-set-aside")},
               {QStringLiteral("package"), Package},
               {QStringLiteral("base"), BaseRoot},
               {QStringLiteral("seconds"), double(::shared::TMirrorSet::kSetAsideMs) / 1000.0}});
}

void TProgressJsonPrinter::onProgress(const QString& Package, const QString& Phase, TFileSize Done,
                                      TFileSize Total)
{
    // A report still queued when its installation ended belongs to no installation any more.
    const auto found = m_Progress.find(Package);
    if (found == m_Progress.end())
        return;
    TPackageProgress& progress = found->second;
    const qint64 now = m_Clock();
    if (Phase != progress.Phase) {
        if (progress.bUnprinted)
            printProgress(Package, progress, now);
        progress.Phase = Phase;
        progress.RateFromMs = now;
        progress.RateFromDone = 0;
        progress.LastLineMs = -1;
    }
    progress.Done = Done;
    progress.Total = Total;
    progress.bUnprinted = true;
    if (progress.LastLineMs < 0 || now - progress.LastLineMs >= kProgressIntervalMs)
        printProgress(Package, progress, now);
}

void TProgressJsonPrinter::printProgress(const QString& Package, TPackageProgress& Progress,
                                         qint64 NowMs)
{
    const qint64 elapsed = NowMs - Progress.RateFromMs;
    const double gained =
        Progress.Done > Progress.RateFromDone ? double(Progress.Done - Progress.RateFromDone) : 0;
    const double rate = elapsed > 0 ? gained * 1000.0 / double(elapsed) : 0;
    print({{QStringLiteral("event"), QStringLiteral("progress")},
           {QStringLiteral("package"), Package},
           {QStringLiteral("phase"), Progress.Phase},
           {QStringLiteral("done"), double(Progress.Done)},
           {QStringLiteral("total"), double(Progress.Total)},
           {QStringLiteral("rate"), double(qint64(rate))}});
    Progress.bUnprinted = false;
    Progress.LastLineMs = NowMs;
    Progress.RateFromMs = NowMs;
    Progress.RateFromDone = Progress.Done;
}

void TProgressJsonPrinter::onFinished(const QString& Package, const QString& ErrorReason,
                                      const QString& Detail)
{
    const auto found = m_Progress.find(Package);
    if (found != m_Progress.end()) {
        if (found->second.bUnprinted)
            printProgress(Package, found->second, m_Clock());
        m_Progress.erase(found);
    }
    QJsonObject finished{{QStringLiteral("event"), QStringLiteral("finished")},
                         {QStringLiteral("package"), Package},
                         {QStringLiteral("error"), ErrorReason.isEmpty()
                                                       ? QJsonValue(QJsonValue::Null)
                                                       : QJsonValue(ErrorReason)}};
    if (!ErrorReason.isEmpty() && !Detail.isEmpty())
        finished.insert(QStringLiteral("detail"), Detail);
    print(finished);
}

} // namespace orvik::launcher
